#!/usr/bin/env bash
# The check of scripts/try-release.sh (a step of scripts/test.sh): the demo's served tree
# (build/demo/www, as the demo's upload wrote it; made by the demo when missing) is served over
# HTTPS on a free loopback port with a certificate of a CA of its own, and tried with the values of
# build/win64-test, whose keys signed it:
#   1. with --ca: the run ends in success and the folder holds the release, byte for byte;
#   2. the same tree given as a folder, which the script serves itself, compared with its objects;
#   3. a file of that folder changed afterwards fails the comparison with the served release;
#   4. without --ca: the prefix trusts no such CA, the run fails and the script says so.
# Work and logs in build/try-release-check.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
check="$root/build/try-release-check"
tree="$root/build/demo/www"

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

if [[ ! -f "$tree/patch/lurra/latest.txt" ]]; then
    echo "--- no served demo tree: scripts/demo.sh --headless --reset (log: build/try-release-check/demo.log)"
    mkdir -p "$check"
    flock /tmp/varnhold-fixed-ports.lock timeout 600 scripts/demo.sh --headless --reset >"$check/demo.log" 2>&1 ||
        { tail -n 20 "$check/demo.log"; echo "try-release check: the demo failed"; exit 1; }
fi
rm -rf "$check"
mkdir -p "$check/tls/trusted" "$check/control"
tls="$check/tls/trusted"
scripts/test-environment.sh certificates "$tls"
python3 tests/server/update_server.py --root "$tree" --control "$check/control" --log "$check/server.log" \
    --ports-file "$check/control/ports.json" --tls-dir "$check/tls" --listen https --idle-exit 300 \
    --watch-pid $$ </dev/null >"$check/server.stdout.log" 2>&1 &
server_pid=$!
trap 'touch "$check/control/stop"; sleep 0.5; kill "$server_pid" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [[ -s "$check/control/ports.json" ]] && break
    sleep 0.1
done
port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["https"][0])' "$check/control/ports.json") ||
    { cat "$check/server.stdout.log"; echo "try-release check: the server did not start"; exit 1; }
served="https://localhost:$port/patch/lurra"
values="$root/build/win64-test/deployment_values.txt"
try() {  # name options...
    local name=$1
    shift
    echo "--- scripts/try-release.sh $* (log: build/try-release-check/$name.log)"
    timeout 600 scripts/try-release.sh --values "$values" --served "$served" --work "$check/$name" "$@" \
        >"$check/$name.log" 2>&1
    local status=$?
    rm -rf "$check/$name/wine/prefix"
    return $status
}

if try trusted --ca "$tls/ca.pem" --source "$root/build/demo/release/files" &&
    grep -qx 'message: All files updated successfully!' "$check/trusted.log" &&
    grep -q '^the game folder holds the 276 files of release 144 as the source folder' "$check/trusted.log"; then
    pass "with the CA: \"All files updated successfully!\", and the folder holds the release's 276 files"
else
    tail -n 15 "$check/trusted.log"
    fail "with the CA the release was not installed as its sources are"
fi
if try folder --served "$tree/patch/lurra" && grep -qx 'message: All files updated successfully!' "$check/folder.log" &&
    grep -q '^the game folder holds the 276 files of release 144 as the served release' "$check/folder.log"; then
    pass "the branch folder served by the script itself: the same, against the served objects"
else
    tail -n 15 "$check/folder.log"
    fail "the branch folder served by the script itself was not installed"
fi
# One byte changed in the game folder: the comparison names that file.
game_file="$check/trusted/game/Scripts/scripts_007.lua"
printf x >>"$game_file"
if ! python3 scripts/compare_release.py --served "$served" --ca-file "$tls/ca.pem" --folder "$check/trusted/game" \
    >"$check/compare-changed.log" 2>&1 && grep -q '^  Scripts/scripts_007.lua: differs' "$check/compare-changed.log"; then
    pass "a file changed afterwards fails the comparison with the served release, by name"
else
    cat "$check/compare-changed.log"
    fail "a file changed afterwards passes the comparison"
fi
if ! try untrusted && grep -qx 'message: Could not connect to the update server!' "$check/untrusted.log" &&
    grep -q '^try-release: the run did not end in success' "$check/untrusted.log"; then
    pass "without the CA: \"Could not connect to the update server!\", and the script fails"
else
    tail -n 15 "$check/untrusted.log"
    fail "without the CA the run did not fail as a player's would"
fi

if ((failures)); then
    echo "try-release check: $failures failed"
    exit 1
fi
echo "try-release check: passed"
