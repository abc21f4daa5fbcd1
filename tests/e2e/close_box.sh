#!/usr/bin/env bash
# The title bar's close box ends the program without running the Cancel/Exit button's handler:
# before Apply it leaves the database as it was, after Apply it does not ask whether to start
# OLBRA, and it never starts anything.
# shellcheck source=e2e_lib.sh
source "$(dirname "$0")/e2e_lib.sh"

start_display

# close_with_close_box <window>: what the window manager does when the close box is clicked.
close_with_close_box() {
    local protocols
    protocols=$(xprop -id "$1" WM_PROTOCOLS)
    # Without the protocol a window manager could only kill the program.
    case "$protocols" in
    *WM_DELETE_WINDOW*) ;;
    *) fail "the patch window does not take the close request: $protocols" ;;
    esac
    python3 "$e2e_dir/close_window.py" "$1"
}

step "close box before Apply"
program="$work/before"
database="$program/OLBRAData.mdb"
make_program_folder "$program"
write_standin "$program" before
before_dump=$(sql "$database" .dump)
launch "$program" "$work/desktop"
window=$(wait_window "$main_title" "the patch window")
close_with_close_box "$window"
expect_exit 0
expect_nothing_started
expect_equal "$(sql "$database" .dump)" "$before_dump" "the database after the close box before Apply"

step "close box after Apply"
program="$work/after"
database="$program/OLBRAData.mdb"
make_program_folder "$program"
write_standin "$program" after
launch "$program" "$work/desktop"
window=$(wait_window "$main_title" "the patch window")
focus_window "$window"
press Return
# Like the user, wait for Apply to finish: its last database step is the history row.
tries=0
until [ "$(sql "$database" "SELECT count(*) FROM updates WHERE Reason = '$history_reason'")" = 1 ]; do
    tries=$((tries + 1))
    [ "$tries" -le $((exit_wait * 10)) ] || fail "Apply wrote no history row; windows shown: $(visible_windows)"
    sleep 0.1
done
close_with_close_box "$window"
# Had the close box run the Exit handler, the start question would now hold the program open.
expect_exit 0
expect_nothing_started

echo "PASS"
