#!/usr/bin/env bash
# Remakes the fuzz target's files from the demo database, with 512-byte pages to keep them small:
# fuzz/corpus/, product databases that the patch applies to or refuses in different ways and a few
# damaged files; fuzz/regressions/, hostile files on which the program on its own hangs or takes
# gigabytes (the fuzz target's budgets make each a refusal; tools/fuzz.sh runs them every time).
# Usage: bash fuzz/make-corpus.sh
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
corpus="$root/fuzz/corpus"
regressions="$root/fuzz/regressions"
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
rm -rf "$corpus" "$regressions"
mkdir -p "$corpus" "$regressions"

key='Patch NH0108-NH PRO-Negative N. gonorrhoeae Update'
endless='WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n)'

# make <folder> <name> <SQL run after the demo data>
make() {
    local folder=$1 name=$2 changes=$3 file="$scratch/$2.mdb"
    { echo 'PRAGMA page_size=512;'; cat "$root/demo/OLBRAData.sql"; echo "$changes"; echo 'VACUUM;'; } | sqlite3 "$file" >/dev/null
    cp "$file" "$folder/$name.mdb"
}

make "$corpus" demo ''
make "$corpus" history-empty 'DELETE FROM updates;'
make "$corpus" already-applied "INSERT INTO updates VALUES ('2008-01-18', 0, 76, '$key');"
make "$corpus" null-reason "INSERT INTO updates VALUES ('2008-01-18', 0, 76, NULL);"
make "$corpus" no-updates-table 'DROP TABLE updates;'
make "$corpus" no-nh-panel "DELETE FROM Panels WHERE panelcode = 'NH';"
make "$corpus" no-organism-1 'DELETE FROM NHBASE WHERE ID = 1;'
make "$corpus" text-percentage "UPDATE NHBASE SET GGT = 'none' WHERE ID = 1;"
make "$corpus" null-percentage 'UPDATE NHBASE SET URE = NULL WHERE ID = 1;'
make "$corpus" nhbase-without-mlf 'ALTER TABLE NHBASE DROP COLUMN MLF;'
make "$corpus" panels-as-view 'ALTER TABLE Panels RENAME TO PanelRows; CREATE VIEW Panels AS SELECT * FROM PanelRows;'
make "$corpus" updates-with-key 'CREATE TABLE u2 (ID INTEGER PRIMARY KEY, Date DATE, Minor SMALLINT, Build SMALLINT, Reason VARCHAR(50));
INSERT INTO u2 (Date, Minor, Build, Reason) SELECT * FROM updates; DROP TABLE updates; ALTER TABLE u2 RENAME TO updates;'
make "$corpus" with-index 'CREATE INDEX panels_code ON Panels (panelcode);'
make "$corpus" wal 'PRAGMA journal_mode=WAL;'

# Damaged copies of the demo file.
demo="$corpus/demo.mdb"
head -c 100 "$demo" >"$corpus/header-only.mdb"
head -c 1536 "$demo" >"$corpus/cut-short.mdb"
# A page count in the header larger than the file.
{ head -c 28 "$demo"; printf '\x00\x00\x01\x00'; tail -c +33 "$demo"; } >"$corpus/page-count-too-large.mdb"
# The third page garbled.
{ head -c 1024 "$demo"; head -c 512 /dev/zero | tr '\0' '\377'; tail -c +1537 "$demo"; } >"$corpus/garbled-page.mdb"
printf 'Standard Jet DB\0' >"$corpus/not-sqlite.mdb"

# Hostile files: a table replaced by a view, or given a trigger, whose work never ends; a history
# whose last Reason is 800 million characters long.
make "$regressions" updates-endless-view "DROP TABLE updates;
CREATE VIEW updates AS $endless SELECT '2008-01-18' AS Date, 0 AS Minor, 76 AS Build, 'Patch ' || i AS Reason FROM n;"
make "$regressions" panels-endless-view "ALTER TABLE Panels RENAME TO PanelRows;
CREATE VIEW Panels AS $endless SELECT 'P' || i AS panelcode, NULL AS lastupdated, NULL AS DBVersion FROM n;"
make "$regressions" nhbase-endless-trigger "CREATE TRIGGER slow AFTER UPDATE ON NHBASE BEGIN SELECT count(*) FROM ($endless SELECT i FROM n); END;"
make "$regressions" updates-huge-reason "DROP TABLE updates;
CREATE VIEW updates AS SELECT '2008-01-18' AS Date, 0 AS Minor, 76 AS Build, hex(zeroblob(400000000)) AS Reason;"

ls -l "$corpus" "$regressions"
