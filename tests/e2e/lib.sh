# The end-to-end tests' toolkit: the real program under Wine on the virtual
# display, a simulated modem on its COM port, a person's clicks and keys
# (xdotool), and what a person and the device see: window texts (the probe),
# screen pixels (a screenshot), the modem's log and the INI files.
#
# Sourced by tests/e2e/scenarios.sh. Needs MODEMSWITCH_BUILD_DIR (the Windows
# build tree, with bin/modemswitch.exe, bin/e2e_probe.exe, bin/host/modem_sim).
set -euo pipefail

e2e_source=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
e2e_build=${MODEMSWITCH_BUILD_DIR:?set MODEMSWITCH_BUILD_DIR to the Windows build tree}
e2e_port=12  # clear of COM1..COM4 (the machine's own ports) and the serial tests' COM6, COM9, COM26

# The main window's controls by their place in its client area.
declare -A e2e_place=(
    [port]="400 30" [pulse]="400 90" [error]="10 140"
    [about]="10 210" [reset]="220 210" [switch]="370 210" [lamp]="525 215"
)

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
note() { echo "  $*"; }
now_ms() { date +%s%3N; }

# --- Set-up and tear-down ---

# Readies Wine and the display, puts a fresh copy of the program in a
# program directory of its own, and starts the modem on COM$e2e_port.
e2e_setup() {
    e2e_dir=$(mktemp -d /tmp/modemswitch-e2e.XXXXXX)
    e2e_pids=()
    trap e2e_teardown EXIT
    local line
    while read -r line; do
        case $line in
        DISPLAY=* | WINEPREFIX=*) export "${line?}" ;;
        esac
    done < <(bash "$e2e_source/scripts/wine-run" --prepare "$e2e_build")
    export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    cp "$e2e_build/bin/modemswitch.exe" "$e2e_dir/"
    e2e_home=$e2e_dir  # the program's folder
    e2e_modem_log=$e2e_dir/modem.log
    : >"$e2e_modem_log"
    e2e_link=$WINEPREFIX/dosdevices/com$e2e_port
    "$e2e_build/bin/host/modem_sim" --link "$e2e_link" --log "$e2e_modem_log" --quiet >"$e2e_dir/modem.out" 2>&1 &
    e2e_pids+=($!)
    for _ in $(seq 100); do [[ -L $e2e_link ]] && break; sleep 0.05; done
    [[ -L $e2e_link ]] || fail "the modem simulator did not start: $(cat "$e2e_dir/modem.out")"
}

e2e_teardown() {
    local pid
    for pid in "${e2e_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$e2e_dir"
}

# Moves the program into a folder of the given name inside the test's.
e2e_move_to() {
    e2e_home=$e2e_dir/$1
    mkdir -p "$e2e_home"
    mv "$e2e_dir/modemswitch.exe" "$e2e_home/"
}

# Starts the program (in the background) with the given arguments.
e2e_start() {
    (cd "$e2e_home" && exec wine modemswitch.exe "$@") >"$e2e_dir/program.out" 2>&1 &
    e2e_program=$!
    e2e_pids+=("$e2e_program")
}

# Waits up to $1 seconds for the program to end and sets e2e_code to its
# exit code. Not for $(...): only this shell can wait for its own child.
e2e_wait_exit() {
    local deadline=$((SECONDS + ${1:-10}))
    while kill -0 "$e2e_program" 2>/dev/null; do
        ((SECONDS < deadline)) || fail "the program did not end in ${1:-10} s"
        sleep 0.1
    done
    e2e_code=0
    wait "$e2e_program" || e2e_code=$?
}

# --- What the program shows ---

probe() { wine "$e2e_build/bin/e2e_probe.exe" 2>/dev/null | tr -d '\r'; }

# Whether some window or control shows exactly this text (control
# characters as the probe writes them: \r, \n).
shows_text() {
    probe >"$e2e_dir/probe.txt"
    # Through the environment: awk -v would turn the \r into a carriage return.
    text=$1 awk -F'\t' '$11 == ENVIRON["text"] { found = 1 } END { exit !found }' "$e2e_dir/probe.txt"
}

# The visible top-level window of the given width: "handle left top clientLeft clientTop text".
window_of_width() {
    probe | awk -F'\t' -v w="$1" '$1 == "window" && $4 == 1 && $7 == w { print $2, $5, $6, $9, $10, $11; exit }'
}

# Waits until the main window (652 wide) is shown; sets main_* variables.
wait_for_main_window() {
    local info='' deadline=$((SECONDS + 30))
    until info=$(window_of_width 652) && [[ -n $info ]]; do
        ((SECONDS < deadline)) || fail "the main window did not appear"
        sleep 0.2
    done
    read -r main_handle _ _ main_client_x main_client_y main_title <<<"$info"
    sleep 0.3  # painted
}

# Text of the main window's control at its place (see e2e_place).
text_of() {
    local place=${e2e_place[$1]}
    probe | awk -F'\t' -v p="$main_handle" -v x="${place% *}" -v y="${place#* }" \
        '$1 == "control" && $2 == p && $5 == x && $6 == y { print $11; exit }'
}

expect_text() {
    local got
    got=$(text_of "$1")
    [[ $got == "$2" ]] || fail "$1 shows '$got', expected '$2'"
}

# Waits up to $3 seconds for control $1 to show $2.
wait_for_text() {
    local deadline=$((SECONDS + ${3:-5}))
    until [[ $(text_of "$1") == "$2" ]]; do
        ((SECONDS < deadline)) || fail "$1 shows '$(text_of "$1")', expected '$2'"
        sleep 0.1
    done
}

# Colour "R,G,B" of the screen pixel at client point (x, y) of the main window.
pixel_at() {
    local shot=$e2e_dir/screen.png
    /usr/bin/import -window root "$shot"
    /usr/bin/convert "$shot" -crop "1x1+$((main_client_x + $1))+$((main_client_y + $2))" -depth 8 txt:- |
        sed -n 's/^0,0: *(\([0-9]*\),\([0-9]*\),\([0-9]*\)).*/\1,\2,\3/p'
}

# The lamp's centre: red when lit, dark red when not.
expect_lamp() {
    local want=$1 got=''
    local place=${e2e_place[lamp]} colour
    [[ $want == lit ]] && colour=255,0,0 || colour=128,0,0
    for _ in $(seq 20); do
        got=$(pixel_at $((${place% *} + 17)) $((${place#* } + 17)))
        [[ $got == "$colour" ]] && return 0
        sleep 0.1
    done
    fail "the lamp is $got, expected $want ($colour)"
}

# Whether any pixel of the message line is red (its text colour).
message_line_is_red() {
    local shot=$e2e_dir/screen.png place=${e2e_place[error]}
    /usr/bin/import -window root "$shot"
    local red
    red=$(/usr/bin/convert "$shot" -crop "589x54+$((main_client_x + ${place% *}))+$((main_client_y + ${place#* }))" \
        -depth 8 txt:- | grep -c ': (255,0,0)')
    ((red > 0))
}

# --- A person's actions ---

# Alt+F4 to the active window. The keys are released again even if the
# window went before they were: stuck on the display, they would close the
# next program's window at once.
close_active_window() {
    xdotool key alt+F4
    xdotool keyup Alt_L F4 2>/dev/null || true
}

click() {
    local place=${e2e_place[$1]}
    xdotool mousemove $((main_client_x + ${place% *} + 20)) $((main_client_y + ${place#* } + 15)) click 1
    sleep 0.2
}

# Clicks into a field, then types the keys one by one; after each key runs
# the command given as $3 (if any) with the text typed so far.
type_into() {
    local field=$1 text=$2 check=${3:-} typed='' i
    click "$field"
    xdotool key End
    for ((i = 0; i < ${#text}; i++)); do
        xdotool type --delay 0 "${text:i:1}"
        typed+=${text:i:1}
        sleep 0.15
        [[ -z $check ]] || "$check" "$typed"
    done
}

# --- The device and the files ---

# Modem log lines: "<ms> <hex of the command> <ON|OFF|->".
modem_lines() { cat "$e2e_modem_log"; }

# Waits up to $2 seconds for the n-th command ($1, counting from 1) and
# prints its line.
wait_for_command() {
    local n=$1 deadline=$((SECONDS + ${2:-5})) line=''
    while :; do
        line=$(sed -n "${n}p" "$e2e_modem_log")
        [[ -n $line ]] && break
        ((SECONDS < deadline)) || fail "command $n did not reach the modem in ${2:-5} s"
        sleep 0.05
    done
    echo "$line"
}

# ATH1\r and ATH\r as the log shows them.
on_hex=415448310d
off_hex=4154480d

expect_command() {
    local line
    line=$(wait_for_command "$1" "${3:-5}")
    [[ $(cut -d' ' -f2 <<<"$line") == "$2" ]] || fail "command $1 was $line, expected $2"
    cut -d' ' -f1 <<<"$line"  # its time
}

expect_no_command_after() {
    local count=$1 seconds=$2
    sleep "$seconds"
    local n
    n=$(wc -l <"$e2e_modem_log")
    ((n == count)) || fail "the modem got $n commands, expected $count: $(modem_lines)"
}

# The settings file's bytes, made readable (CR shown as \r).
settings() { sed 's/\r/\\r/g' "$e2e_home/com i dlit.ini" 2>/dev/null | tr '\n' '|'; }
