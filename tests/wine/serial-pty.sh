#!/bin/sh
# A socat pseudo-terminal pair in place of a serial cable, for the serial
# tests under Wine. The test program starts this script through Wine, which
# can run Unix programs but not wait for them, so it answers through files.
#
#   serial-pty.sh start DIR PORT READER
#       DIR/port <-> DIR/reader, mapped as $WINEPREFIX/dosdevices/comPORT and
#       comREADER; then DIR/ready, or DIR/failed holding the reason.
#   serial-pty.sh stty DIR
#       writes `stty -a` of DIR/port to DIR/stty (DIR/stty.failed on error).
#   serial-pty.sh stop DIR
#       ends socat; the links and DIR go with it.
#
# One pair per Wine prefix at a time: a lock in the prefix makes a second
# test program wait for the first one's pair to end.
set -u
command=${1:-}
dir=${2:-}
[ -n "$dir" ] || { echo "usage: serial-pty.sh start DIR PORT READER | stty DIR | stop DIR" >&2; exit 2; }
prefix=${WINEPREFIX:-$HOME/.wine}

fail() {
    echo "$*" >"$dir/failed.tmp" && mv "$dir/failed.tmp" "$dir/failed"
    exit 1
}

# Removes a dosdevices link only while it still points at our pair.
unlink_ours() {
    [ "$(readlink "$1" 2>/dev/null)" = "$2" ] && rm -f "$1"
}

case $command in
start)
    port=${3:?} reader=${4:?}
    mkdir -p "$dir" || exit 1
    command -v socat >/dev/null 2>&1 ||
        fail "socat is not installed (scripts/install-deps installs it)"
    [ -d "$prefix/dosdevices" ] || fail "no Wine prefix at $prefix"
    (
        exec 9>"$prefix/.modemswitch-serial.lock"
        flock -w 120 9 || fail "another test program kept the serial pair for 2 minutes"
        # -T: a pair whose test program died without stopping it ends by itself.
        socat -T 300 pty,raw,echo=0,link="$dir/port" pty,raw,echo=0,link="$dir/reader" \
            </dev/null >"$dir/socat.log" 2>&1 9>&- &
        echo $! >"$dir/socat.pid"
        i=0
        while [ ! -e "$dir/port" ] || [ ! -e "$dir/reader" ]; do
            i=$((i + 1))
            [ $i -le 200 ] || break
            sleep 0.05
        done
        if [ -e "$dir/port" ] && [ -e "$dir/reader" ]; then
            ln -sfn "$dir/port" "$prefix/dosdevices/com$port"
            ln -sfn "$dir/reader" "$prefix/dosdevices/com$reader"
            touch "$dir/ready"
        else
            kill "$(cat "$dir/socat.pid")" 2>/dev/null
            fail "socat did not make the pair: $(cat "$dir/socat.log")"  # DIR stays for the reason
        fi
        wait
        unlink_ours "$prefix/dosdevices/com$port" "$dir/port"
        unlink_ours "$prefix/dosdevices/com$reader" "$dir/reader"
        rm -rf "$dir"
    ) </dev/null >/dev/null 2>&1 &
    ;;
stty)
    # The port end's settings as the terminal has them, for the test to read.
    if stty -F "$dir/port" -a >"$dir/stty.tmp" 2>&1; then
        mv "$dir/stty.tmp" "$dir/stty"
    else
        mv "$dir/stty.tmp" "$dir/stty.failed"
    fi
    ;;
stop)
    [ -f "$dir/socat.pid" ] && kill "$(cat "$dir/socat.pid")" 2>/dev/null
    ;;
*)
    echo "usage: serial-pty.sh start DIR PORT READER | stty DIR | stop DIR" >&2
    exit 2
    ;;
esac
exit 0
