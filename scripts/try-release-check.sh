#!/usr/bin/env bash
# The check of scripts/try-release.sh (a step of scripts/test.sh), with the values of
# build/win64-test, whose keys signed the demo's served tree (build/demo/www, made by the demo when
# missing). Logs in build/try-release-check.
#   1. the tree, served by the script: "All files updated successfully!", and the folder holds the
#      release's sources byte for byte;
#   2. a byte changed in that folder fails the comparison with the served release, by name;
#   3. a branch that publishes nothing: the run fails, and so does the script.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
check="$root/build/try-release-check"
failures=0
verdict() {  # text: passes when the last command did
    if (($? == 0)); then echo "ok:   $1"; else echo "FAIL: $1"; failures=$((failures + 1)); fi
}
rm -rf "$check"
mkdir -p "$check/empty/lurra"
if [[ ! -f build/demo/www/patch/lurra/latest.txt ]]; then
    flock /tmp/varnhold-fixed-ports.lock timeout 600 scripts/demo.sh --headless --reset >"$check/demo-run.log" 2>&1
fi
try() {  # name served options...: one try, its log kept, its prefix removed
    timeout 600 scripts/try-release.sh --values build/win64-test/deployment_values.txt --served "$2" \
        --work "$check/$1" "${@:3}" >"$check/$1.log" 2>&1
    local status=$?
    rm -rf "$check/$1/wine/prefix"
    return $status
}

try demo build/demo/www/patch/lurra --source build/demo/release/files &&
    grep -qx 'message: All files updated successfully!' "$check/demo.log" &&
    grep -q '^the game folder holds the 276 files of release 144 as the source folder' "$check/demo.log"
verdict "the demo's tree: \"All files updated successfully!\", the folder holds the 276 release files"

printf x >>"$check/demo/game/Scripts/scripts_007.lua"
! python3 scripts/compare_release.py --served build/demo/www/patch/lurra --folder "$check/demo/game" \
    >"$check/compare.log" 2>&1 && grep -q '^  Scripts/scripts_007.lua: differs' "$check/compare.log"
verdict "a byte changed afterwards fails the comparison with the served release, by name"

! try empty "$check/empty/lurra" && grep -q '^try-release: the run did not end in success' "$check/empty.log"
verdict "a branch without a release: the run fails, and the script says so"

((failures == 0)) || { tail -n 12 "$check"/*.log; echo "try-release check: $failures failed"; exit 1; }
echo "try-release check: passed"
