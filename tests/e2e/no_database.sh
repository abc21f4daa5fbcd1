#!/usr/bin/env bash
# No product database beside the patch nor at the configured data path: the notice comes, and once
# the user has answered it with Enter the program ends. It makes no database file where it looked,
# and a database in the working folder is not one it may use.
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

start_display

desktop="$work/desktop"
mkdir -p "$desktop"
make_database "$desktop/OLBRAData.mdb"
desktop_dump=$(sql "$desktop/OLBRAData.mdb" .dump)

# no_database_case <name> [DataPath]: with a DataPath (@data@ standing for the case's own empty
# data folder), OLBRA.ini names it; without, there is no settings file at all.
no_database_case() {
    local name=$1 case_dir="$work/$1"
    step "$name"
    local program="$case_dir/olbra" data_folder="$case_dir/data"
    mkdir -p "$data_folder"
    make_program_folder "$program" nodatabase
    rm -f "$XDG_CONFIG_HOME/OLBRA.ini"
    [ $# -lt 2 ] || printf '[ZRVData]\nDataPath=%s\n' "${2//@data@/$data_folder}" >"$XDG_CONFIG_HOME/OLBRA.ini"

    launch "$program" "$desktop"
    wait_window "$notice_title" "the notice that no database was found" >/dev/null
    press Return
    # The program's own exit code for "no database".
    expect_exit 1
    [ ! -e "$program/OLBRAData.mdb" ] || fail "$name: a database file was made in the program folder"
    [ ! -e "$data_folder/OLBRAData.mdb" ] || fail "$name: a database file was made at the data path"
    expect_equal "$(sql "$desktop/OLBRAData.mdb" .dump)" "$desktop_dump" "$name: the database in the working folder"
}

no_database_case no-settings-file
no_database_case data-path-to-a-missing-file '@data@/OLBRAData.mdb'

echo "PASS"
