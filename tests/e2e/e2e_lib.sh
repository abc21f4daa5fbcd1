# Sourced by the end-to-end scripts: each run gets a display server, a scratch folder and settings
# of its own, starts copies of the built patch program there and drives them with the keyboard,
# as a user at the desktop would.
#
# Usage of a script: bash <script> <path of the built OLBRADURADIRURI>
# shellcheck shell=bash disable=SC2034  # the titles and texts below are read by the scripts

set -euo pipefail

built_program=${1:?usage: bash $0 <path of the built OLBRADURADIRURI>}
e2e_dir=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
product_sql="$e2e_dir/product.sql"

main_title='^OLBRA\(tm\) - Pandexion $'
question_title='^OLBRA Update$'
notice_title='^OLBRA Patch$'
history_reason='Patch NH0108-NH PRO-Negative N. gonorrhoeae Update'

# Generous bounds that only keep a broken run from hanging; nothing is measured against them.
window_wait=30
exit_wait=60
hard_limit=120

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

step() { echo "-- $*"; }

for tool in Xvfb xdotool xprop sqlite3 python3 timeout; do
    command -v "$tool" >/dev/null || fail "'$tool' is missing: tools/install-deps.sh installs it"
done
[ -x "$built_program" ] || fail "no built program at $built_program"

work=$(mktemp -d)
marks="$work/marks"
mkdir -p "$marks" "$work/runtime"
chmod 700 "$work/runtime"
xvfb_pid=
program_pid=

cleanup() {
    local status=$?
    set +e
    [ -n "$program_pid" ] && kill "$program_pid" 2>/dev/null && wait "$program_pid" 2>/dev/null
    # Stand-ins wait for their release file; let them go and make sure they are gone.
    touch "$marks/release"
    for mark in "$marks"/*.mark; do
        [ -e "$mark" ] || continue
        local pid
        pid=$(sed -n 's/^pid=//p' "$mark")
        [ -n "$pid" ] && kill "$pid" 2>/dev/null
    done
    [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null && wait "$xvfb_pid" 2>/dev/null
    rm -rf "$work"
    exit "$status"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

# A display of this run's own: Xvfb picks a free display number and reports it once it listens.
start_display() {
    Xvfb -displayfd 9 -screen 0 1024x768x24 -nolisten tcp -noreset 9>"$work/display" 2>"$work/xvfb.log" &
    xvfb_pid=$!
    local tries=0
    until [ -s "$work/display" ]; do
        kill -0 "$xvfb_pid" 2>/dev/null || fail "Xvfb did not start: $(cat "$work/xvfb.log")"
        tries=$((tries + 1))
        [ "$tries" -le $((window_wait * 10)) ] || fail "Xvfb reported no display"
        sleep 0.1
    done
    DISPLAY=":$(head -n 1 "$work/display")"
    export DISPLAY
    # The real desktop's platform, never the offscreen one the module tests use; settings, runtime
    # files and the session stay inside the scratch folder.
    export QT_QPA_PLATFORM=xcb
    export XDG_CONFIG_HOME="$work/config"
    export XDG_RUNTIME_DIR="$work/runtime"
    unset SESSION_MANAGER QT_LINUX_ACCESSIBILITY_ALWAYS_ON
    mkdir -p "$XDG_CONFIG_HOME"
    # Keys must reach the window through the focus, not because the pointer happens to rest on it.
    xdotool mousemove 0 0
    step "display $DISPLAY"
}

# make_program_folder <folder> [database]: a copy of the built program, with the product database
# made from the test data unless "nodatabase" is given.
make_program_folder() {
    local folder=$1 database=${2:-database}
    mkdir -p "$folder"
    cp "$built_program" "$folder/OLBRADURADIRURI"
    [ "$database" = nodatabase ] || make_database "$folder/OLBRAData.mdb"
}

make_database() {
    sqlite3 "$1" <"$product_sql" || fail "the product database could not be made from $product_sql"
}

# write_standin <folder> <label>: an "OLBRA.exe" that records how it was started in
# $marks/<label>.mark and then stays running until the test releases it, so that a patch that
# waited for it would never end.
write_standin() {
    local folder=$1 label=$2
    mkdir -p "$folder"
    cat >"$folder/OLBRA.exe" <<EOF
#!/bin/sh
{
    echo "show=\${OLBRA_SHOW_STATE-unset}"
    echo "path=\$0"
    echo "cwd=\$(pwd)"
    echo "pid=\$\$"
} >"$marks/$label.tmp"
mv "$marks/$label.tmp" "$marks/$label.mark"
tries=0
while [ ! -e "$marks/release" ] && [ \$tries -lt 1200 ]; do
    sleep 0.1
    tries=\$((tries + 1))
done
echo "ended" >>"$marks/$label.mark"
EOF
    chmod +x "$folder/OLBRA.exe"
}

mark_value() { sed -n "s/^$2=//p" "$marks/$1.mark"; }

# wait_for_mark <label>: the stand-in runs apart from the patch, so its mark may come a moment
# after the patch has ended.
wait_for_mark() {
    local tries=0
    until [ -e "$marks/$1.mark" ]; do
        tries=$((tries + 1))
        [ "$tries" -le $((window_wait * 10)) ] || fail "the stand-in '$1' was not started"
        sleep 0.1
    done
}

# expect_nothing_started [label ...]: no stand-in but the ones named left a mark. A stand-in started
# by mistake writes its mark within moments of the patch's end, so give it those moments first.
# shellcheck disable=SC2120  # the labels are optional
expect_nothing_started() {
    sleep 2
    local mark label
    for mark in "$marks"/*.mark; do
        [ -e "$mark" ] || continue
        label=$(basename "$mark" .mark)
        case " $* " in *" $label "*) continue ;; esac
        fail "a program was started that should not have been: $label: $(tr '\n' ' ' <"$mark")"
    done
}

# launch <program folder> <working folder> [NAME=value ...]: starts the patch program there in the
# background, with a hard time limit.
launch() {
    local folder=$1 cwd=$2
    shift 2
    mkdir -p "$cwd"
    : >"$work/program.log"
    (cd "$cwd" && exec env "$@" timeout -k 5 "$hard_limit" "$folder/OLBRADURADIRURI") </dev/null >>"$work/program.log" 2>&1 &
    program_pid=$!
}

visible_windows() {
    local id names=""
    for id in $(xdotool search --onlyvisible --name '.' 2>/dev/null); do
        names+="'$(xdotool getwindowname "$id" 2>/dev/null)' "
    done
    echo "${names:-none}"
}

# wait_window <title pattern> <what>: prints the window's id once it is shown.
wait_window() {
    local id
    id=$(timeout "$window_wait" xdotool search --sync --onlyvisible --name "$1" 2>/dev/null | head -n 1) || true
    [ -n "$id" ] || fail "$2 did not come up; windows shown: $(visible_windows); program output: $(cat "$work/program.log")"
    echo "$id"
}

# The user clicks into the window before typing; keys then go where X sends the focus.
focus_window() { xdotool windowfocus --sync "$1"; }

press() { xdotool key --clearmodifiers "$@"; }

# wait_exit: waits for the patch program to end by itself and sets exit_status.
wait_exit() {
    local tries=0
    while kill -0 "$program_pid" 2>/dev/null; do
        tries=$((tries + 1))
        if [ "$tries" -gt $((exit_wait * 10)) ]; then
            fail "the program did not end; windows shown: $(visible_windows); program output: $(cat "$work/program.log")"
        fi
        sleep 0.1
    done
    exit_status=0
    wait "$program_pid" || exit_status=$?
    program_pid=
}

expect_exit() {
    wait_exit
    [ "$exit_status" -eq "$1" ] ||
        fail "the program ended with exit code $exit_status, expected $1; output: $(cat "$work/program.log")"
}

sql() { sqlite3 -batch -noheader -cmd '.timeout 5000' "$1" "$2"; }

expect_equal() {
    local actual=$1 expected=$2 what=$3
    [ "$actual" = "$expected" ] || fail "$what: got '$actual', expected '$expected'"
}
