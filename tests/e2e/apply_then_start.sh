#!/usr/bin/env bash
# Applying the patch from the keyboard and leaving with the offer to start OLBRA: Enter applies,
# Esc asks, Enter takes the default answer Yes and OLBRA starts minimized from the patch's own
# folder. A second run on the same database, left with No, adds no second history row and starts
# nothing.
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

start_display

program="$work/olbra"
database="$program/OLBRAData.mdb"
make_program_folder "$program"
write_standin "$program" program-folder
# Another OLBRA along the search path: the copy beside the patch comes first.
write_standin "$work/path-bin" search-path
# The user starts the patch from elsewhere, as from a desktop shortcut.
elsewhere="$work/desktop"

untouched_organisms=$(sql "$database" "SELECT * FROM NHBASE WHERE ID <> 1 ORDER BY ID")
untouched_panels=$(sql "$database" "SELECT * FROM Panels WHERE panelcode <> 'NH' ORDER BY rowid")
earlier_history=$(sql "$database" "SELECT * FROM updates ORDER BY rowid")

# The database after a successful patch: organism 1 and the NH panel changed, nothing else, and
# three history rows, the third being the patch's.
expect_patched() {
    local run=$1
    expect_equal "$(sql "$database" "SELECT typeof(PRO), PRO, typeof(RES), RES FROM NHBASE WHERE ID = 1")" \
        "integer|98|integer|4" "$run: PRO and RES of organism 1"
    expect_equal "$(sql "$database" "SELECT typeof(MLF), MLF = 0.762048 FROM NHBASE WHERE ID = 1")" \
        "real|1" "$run: MLF of organism 1 ($(sql "$database" "SELECT MLF FROM NHBASE WHERE ID = 1"))"
    expect_equal "$(sql "$database" "SELECT lastupdated, DBVersion FROM Panels WHERE panelcode = 'NH'")" \
        "2008-01-18|2.08" "$run: stamp of the NH panel"
    expect_equal "$(sql "$database" "SELECT * FROM NHBASE WHERE ID <> 1 ORDER BY ID")" "$untouched_organisms" \
        "$run: the other organisms"
    expect_equal "$(sql "$database" "SELECT * FROM Panels WHERE panelcode <> 'NH' ORDER BY rowid")" "$untouched_panels" \
        "$run: the other panels"
    expect_equal "$(sql "$database" "SELECT count(*) FROM updates")" 3 "$run: rows in the update history"
    expect_equal "$(sql "$database" "SELECT * FROM updates ORDER BY rowid LIMIT 2")" "$earlier_history" \
        "$run: the earlier history rows"
}

last_history_row() {
    sql "$database" "SELECT Date, typeof(Minor), Minor, typeof(Build), Build, Reason FROM updates ORDER BY rowid DESC LIMIT 1"
}

step "first run: Enter, Esc, Enter (Yes)"
first_day=$(date +%F)
launch "$program" "$elsewhere" PATH="$work/path-bin:$PATH"
window=$(wait_window "$main_title" "the patch window")
focus_window "$window"
press Return
press Escape
wait_window "$question_title" "the start question after Esc" >/dev/null
press Return
expect_exit 0
wait_for_mark program-folder
# Still waiting for its release: the patch ended while OLBRA ran on.
expect_equal "$(grep -c '^ended$' "$marks/program-folder.mark" || true)" 0 "OLBRA still running when the patch had ended"
expect_equal "$(mark_value program-folder show)" 2 "show state handed to OLBRA (minimized)"
expect_equal "$(mark_value program-folder path)" "$program/OLBRA.exe" "OLBRA started by the path the search found"
[ ! -e "$marks/search-path.mark" ] || fail "the OLBRA on the search path was started instead of the one beside the patch"
expect_patched "first run"
# The row carries the date of the run (either side of a midnight that fell during it).
last_day=$(date +%F)
patch_row=$(last_history_row)
case "$patch_row" in
"$first_day|integer|0|integer|76|$history_reason" | "$last_day|integer|0|integer|76|$history_reason") ;;
*) fail "first run: the history row: got '$patch_row', expected '$first_day|integer|0|integer|76|$history_reason'" ;;
esac

step "second run on the same database: Enter, Esc, No"
touch "$marks/release"
tries=0
until grep -q '^ended$' "$marks/program-folder.mark"; do
    tries=$((tries + 1))
    [ "$tries" -le $((window_wait * 10)) ] || fail "the first run's OLBRA stand-in did not end"
    sleep 0.1
done
rm -f "$marks"/*.mark "$marks/release"
# Undo the data change but keep the history, so that the second run has something to apply.
sql "$database" "UPDATE NHBASE SET PRO = 100, RES = 100, MLF = 0.81 WHERE ID = 1;
                 UPDATE Panels SET lastupdated = '2007-09-03', DBVersion = '2.07' WHERE panelcode = 'NH'"
launch "$program" "$elsewhere" PATH="$work/path-bin:$PATH"
window=$(wait_window "$main_title" "the patch window")
focus_window "$window"
press Return
press Escape
wait_window "$question_title" "the start question after Esc" >/dev/null
press alt+n
expect_exit 0
expect_nothing_started
expect_patched "second run"
expect_equal "$(last_history_row)" "$patch_row" "second run: the history row of the first run, and no other"

echo "PASS"
