#!/usr/bin/env bash
# Where the patch looks for "OLBRA.exe" when the user answers Yes: beside itself, then along the
# absolute entries of PATH; never in the working folder, whether it is reached through an empty,
# a "." or any other relative PATH entry. When it finds none, the user is told to start OLBRA from
# the program menu and the patch ends.
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

start_display

# apply_and_answer_yes <program folder> <working folder> [NAME=value ...]
apply_and_answer_yes() {
    local window
    launch "$@"
    window=$(wait_window "$main_title" "the patch window")
    focus_window "$window"
    press Return
    press Escape
    wait_window "$question_title" "the start question" >/dev/null
    press Return
}

desktop="$work/desktop"
# Programs of that name the user happens to have in the working folder and below it.
write_standin "$desktop" working-folder
write_standin "$desktop/bin" relative-path-entry
relative_path="bin:.:$PATH:"

step "OLBRA.exe only in the working folder"
program="$work/only-working-folder"
make_program_folder "$program"
apply_and_answer_yes "$program" "$desktop" PATH="$relative_path"
wait_window "$notice_title" "the notice that OLBRA was not found" >/dev/null
press Return
expect_exit 0
expect_nothing_started

step "OLBRA.exe in a folder on PATH"
program="$work/on-path"
make_program_folder "$program"
write_standin "$work/olbra-bin" search-path
apply_and_answer_yes "$program" "$desktop" PATH="$relative_path$work/olbra-bin"
expect_exit 0
wait_for_mark search-path
expect_equal "$(mark_value search-path path)" "$work/olbra-bin/OLBRA.exe" "OLBRA started by the path the search found"
expect_equal "$(mark_value search-path show)" 2 "show state handed to OLBRA (minimized)"
expect_nothing_started search-path

echo "PASS"
