#!/usr/bin/env bash
# The layers' includes point one way: framework/ and winlib/ include nothing
# else of ours; elements/ and visual/ know those two, never each other or
# app/; app/ knows all.
#   check-includes.sh ROOT        checks the tree under ROOT
#   check-includes.sh --self-test checks this tree, then that a planted wrong
#                                 include of each kind is caught
set -euo pipefail

declare -A allowed=(
    [framework]="framework"
    [winlib]="winlib"
    [elements]="elements framework winlib"
    [visual]="visual framework winlib"
)

check() {
    local root=$1 bad=0 layer file line target
    for layer in "${!allowed[@]}"; do
        [[ -d $root/$layer ]] || continue
        while IFS= read -r file; do
            while IFS= read -r line; do
                target=${line#*\"}
                target=${target%%/*}
                [[ -d $root/$target ]] || continue  # not one of our folders
                if [[ " ${allowed[$layer]} " != *" $target "* ]]; then
                    echo "wrong way: ${file#"$root"/} includes $target/: $line"
                    bad=1
                fi
            done < <(grep -E '^[[:space:]]*#[[:space:]]*include[[:space:]]*"[^"]+/' "$file" || true)
        done < <(find "$root/$layer" -type f \( -name '*.h' -o -name '*.cpp' \))
    done
    return "$bad"
}

if [[ ${1:-} != --self-test ]]; then
    check "${1:?usage: check-includes.sh ROOT | --self-test}"
    exit
fi

root=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
check "$root" || { echo "FAIL: the tree has includes pointing the wrong way"; exit 1; }
echo "the tree: every include points the right way"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for layer in framework winlib elements visual app; do cp -r "$root/$layer" "$scratch/"; done
plants=(
    "framework/data.h elements/ini.h"
    "winlib/obj.h framework/data.h"
    "elements/ini.h visual/win.h"
    "visual/win.h elements/ini.h"
    "elements/com.h app/switching.h"
)
for plant in "${plants[@]}"; do
    read -r into wrong <<<"$plant"
    cp "$root/$into" "$scratch/$into"
    printf '#include "%s"\n' "$wrong" >>"$scratch/$into"
    if check "$scratch" >/dev/null; then
        echo "FAIL: a planted include of $wrong in $into was not caught"
        exit 1
    fi
    cp "$root/$into" "$scratch/$into"
    echo "caught: $wrong included from $into"
done
echo "PASS: include directions"
