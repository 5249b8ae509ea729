#!/usr/bin/env bash
# The Debian package as an administrator meets it: made by CPack from the
# build, installed with dpkg, the program and its units working, removed
# without a trace.
#   deb.sh BUILD_DIR
set -euo pipefail
build=${1:?usage: deb.sh BUILD_DIR}

if ((EUID != 0)); then
    echo "SKIP: installing a package needs root"
    exit 77
fi
if dpkg-query -W -f='${Status}' modemswitch 2>/dev/null | grep -q 'ok installed'; then
    echo "SKIP: a modemswitch package is installed here already; not touching it"
    exit 77
fi

out=$(mktemp -d)
trap 'dpkg -r modemswitch >/dev/null 2>&1 || true; rm -rf "$out"' EXIT
(cd "$build" && cpack -G DEB -B "$out" >/dev/null)
deb=$(find "$out" -maxdepth 1 -name 'modemswitch_*.deb' | head -n1)
[[ -n $deb ]] || { echo "FAIL: cpack made no package"; exit 1; }

fail() { echo "FAIL: $*"; exit 1; }
contents=$(dpkg-deb -c "$deb")
for f in ./usr/bin/modemswitch ./usr/lib/systemd/system/modemswitch.service \
         ./usr/lib/systemd/system/modemswitch@.service ./usr/share/doc/modemswitch/examples/60-modemswitch.rules; do
    grep -q " $f\$" <<<"$contents" || fail "the package lacks $f"
done
! grep -q '/udev/rules.d/' <<<"$contents" || fail "the udev example is installed as a live rule"
dpkg-deb -f "$deb" Depends | grep -q libsystemd0 || fail "the package does not depend on libsystemd0"

dpkg -i "$deb" >/dev/null
[[ $(modemswitch --version) == "modemswitch "* ]] || fail "modemswitch --version"
if command -v systemd-analyze >/dev/null; then
    units=$(mktemp -d)
    cp /usr/lib/systemd/system/modemswitch.service "$units/"
    cp /usr/lib/systemd/system/modemswitch@.service "$units/modemswitch@ttyUSB0.service"
    report=$(systemd-analyze verify "$units"/*.service 2>&1 || true)
    [[ -z $report ]] || fail "systemd-analyze verify: $report"
    for unit in "$units"/*.service; do
        systemd-analyze security --offline=true "$unit" 2>/dev/null | tail -n1
        systemd-analyze security --offline=true --threshold=20 "$unit" >/dev/null 2>&1 ||
            fail "$(basename "$unit") is exposed beyond 2.0 (systemd-analyze security)"
    done
    rm -rf "$units"
fi
dpkg -r modemswitch >/dev/null
[[ ! -e /usr/bin/modemswitch && ! -e /usr/lib/systemd/system/modemswitch.service ]] || fail "files left after dpkg -r"
if dpkg-query -W -f='${Status}' modemswitch 2>/dev/null | grep -q 'ok installed'; then fail "dpkg still lists the package"; fi
echo "the package installs, runs and goes cleanly"
