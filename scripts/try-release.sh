#!/usr/bin/env bash
# Tries a published release the way a player's launcher takes it, before players do: builds the
# 64-bit test launcher and the headless update tool (tools/update_tool_win.cpp) with the team's
# deployment values (the same update-signing keys and addresses as the release build), prepares a
# private Wine prefix that trusts the given CA, updates a fresh game folder holding the base game's
# files from the served tree, prints the run's message, and compares the folder with the release.
#
# usage: scripts/try-release.sh --values FILE --served URL [--ca CA.pem] [--source DIR] [options]
#   --values FILE    the deployment values of the release build (scripts/release.sh --values FILE)
#   --served URL     the branch as it is served, e.g. https://updates.example.org/patch/lurra, or a
#                    test host serving the same tree; the run takes it instead of the compiled-in
#                    servers (the keys stay the compiled-in ones). A branch folder instead
#                    (www/patch/lurra, before the upload) is served over HTTPS on a free loopback
#                    port under a throw-away CA that the prefix trusts
#   --ca CA.pem      trust this CA certificate in the prefix: a server whose certificate Windows does
#                    not trust by itself (a test or staging server). Without it only the CAs that
#                    Wine takes from this system are trusted
#   --source DIR     compare the game folder with these files (the build's --source); without it,
#                    with the served release's own objects, unpacked (which downloads them again)
#   --language en|ru the language of the run's texts (default en)
#   --work DIR       the game folder, the prefix and the logs (default build/try-release)
# Values equal to those of build/win64-test (its deployment_values.txt) take that build folder as it
# is; others build into WORK/build (the first time takes minutes). Exit code 0 when the run ended in
# success and the folder holds every file of the release, byte for byte.
set -euo pipefail
caller=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)

values="" served="" ca="" source="" language=en work="$root/build/try-release"
usage() { sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; }
while (($#)); do
    case "$1" in
        --values | --served | --ca | --source | --language | --work)
            [[ $# -ge 2 ]] || { echo "$1 needs a value" >&2; exit 2; }
            name=${1#--} value=$2
            [[ "$name" =~ ^(values|ca|source|work)$ && "$value" != /* ]] && value="$caller/$value"
            [[ "$name" == served && "$value" != https://* && "$value" != /* ]] && value="$caller/$value"
            printf -v "$name" '%s' "$value"
            shift ;;
        -h | --help) usage; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
fail() { echo "try-release: $*" >&2; exit 1; }
[[ -n "$values" && -n "$served" ]] || fail "--values FILE and --served URL are required (see --help)"
[[ -f "$values" ]] || fail "the values file $values does not exist"
[[ -z "$ca" || -f "$ca" ]] || fail "the CA file $ca does not exist"
[[ -z "$source" || -d "$source" ]] || fail "the source folder $source does not exist"
[[ "$language" == en || "$language" == ru ]] || fail "--language takes en or ru"
served=${served%/}
mkdir -p "$work"
server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        touch "$work/serve/control/stop"
        sleep 0.3
        kill "$server_pid" 2>/dev/null || true
    fi
    [[ -z "${WINEPREFIX:-}" ]] || wine_env_stop "$work"
}
trap cleanup EXIT
[[ -d "$served" || "$served" =~ ^https://[^/]+(/.*)?/(lurra|ktvx)$ ]] ||
    fail "--served must be a branch folder or the address of a branch, https://HOST/.../lurra or .../ktvx"

source scripts/deployment-values.sh
read_deployment_values "$values"
wanted=("${defines[@]}")
same_values() {  # build folder: whether it was built with these values (empty ones aside)
    [[ -f "$1/deployment_values.txt" ]] || return 1
    read_deployment_values "$1/deployment_values.txt"
    [[ "$(printf '%s\n' "${defines[@]}" | grep -v '=$' | sort)" == "$(printf '%s\n' "${wanted[@]}" | grep -v '=$' | sort)" ]]
}

log="$work/build.log"
targets=(VarnholdLauncher update_tool add_root_cert)
if same_values "$root/build/win64-test"; then
    build="$root/build/win64-test"
    echo "building the test launcher and the update tool in build/win64-test, whose values these are (log: $log)"
    cmake --build --preset win64-test --target "${targets[@]}" >"$log" 2>&1 || { tail -n 30 "$log"; fail "the build failed"; }
else
    build="$work/build"
    echo "building the test launcher and the update tool with these values in $build (log: $log)"
    { cmake --preset win64-test -B "$build" "${wanted[@]}" && cmake --build "$build" --target "${targets[@]}"; } \
        >"$log" 2>&1 || { tail -n 30 "$log"; fail "the build failed"; }
fi

# A branch folder is served from here on, once the build is done.
if [[ -d "$served" ]]; then
    folder=$(cd "$served" && pwd)
    [[ "$(basename "$folder")" =~ ^(lurra|ktvx)$ ]] || fail "the branch folder must be named lurra or ktvx"
    rm -rf "$work/serve"
    mkdir -p "$work/serve/tls/trusted" "$work/serve/control"
    scripts/test-environment.sh certificates "$work/serve/tls/trusted" || fail "no test certificate could be made"
    python3 tests/server/update_server.py --root "$(dirname "$folder")" --control "$work/serve/control" \
        --log "$work/serve/server.log" --ports-file "$work/serve/control/ports.json" --tls-dir "$work/serve/tls" \
        --listen https --idle-exit 900 --watch-pid $$ </dev/null >"$work/serve/stdout.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        [[ -s "$work/serve/control/ports.json" ]] && break
        sleep 0.1
    done
    port=$(python3 -c 'import json, sys; print(json.load(open(sys.argv[1]))["https"][0])' \
        "$work/serve/control/ports.json") || { cat "$work/serve/stdout.log"; fail "the test server did not start"; }
    served="https://localhost:$port/$(basename "$folder")" ca="$work/serve/tls/trusted/ca.pem"
    echo "serving $folder at $served"
fi
[[ "$served" =~ ^(https://[^/]+(/.*)?)(/(lurra|ktvx))$ ]]
server=${BASH_REMATCH[1]} branch=${BASH_REMATCH[3]}

# A prefix of its own, new for every try: it trusts the given CA and nothing left from before.
source scripts/wine-env.sh
wine_env_stop "$work"
rm -rf "$work/wine/prefix"
for template in "$build/wine/template" "$root/build/win64-test/wine/template"; do
    [[ -f "$template/.varnhold-ready" && ! -f "$work/wine/template/.varnhold-ready" ]] || continue
    # A test build's template, which is only ever copied: as hard links, it takes no room.
    mkdir -p "$work/wine"
    rm -rf "$work/wine/template"
    cp -al "$template" "$work/wine/template" 2>/dev/null || cp -a "$template" "$work/wine/template"
done
echo "preparing a Wine prefix of its own in $work/wine/prefix"
wine_env_prepare "$work"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
if [[ -n "$ca" ]]; then
    openssl x509 -in "$ca" -outform DER -out "$work/ca.der" 2>"$work/ca.log" || { cat "$work/ca.log"; fail "$ca is not a PEM certificate"; }
    "$WINE" "$build/test-helpers/add_root_cert.exe" "$(winpath "$work/ca.der")" >"$work/ca.log" 2>&1 ||
        { cat "$work/ca.log"; fail "the CA could not be added to the prefix"; }
    echo "the prefix trusts $(openssl x509 -in "$ca" -noout -subject)"
fi

game="$work/game"
rm -rf "$game"
python3 scripts/demo_data.py base "$game"
echo "updating a game folder with the base game's files only ($game) from $served"
set +e
"$WINE" "$build/update_tool.exe" --folder "$(winpath "$game")" --server "$server" --branch "$branch" \
    --language "$language" --answer no --progress-ms 2000 2>&1 | tee "$work/run.log"
status=${PIPESTATUS[0]}
set -e
if ((status != 0)); then
    fail "the run did not end in success (update tool exit code $status; $work/run.log)"
fi
compare=(python3 scripts/compare_release.py --served "$served" --folder "$game")
[[ -n "$ca" ]] && compare+=(--ca-file "$ca")
[[ -n "$source" ]] && compare+=(--source "$source")
"${compare[@]}" || fail "the game folder does not hold the release"
echo "try-release: the release installs as players will get it"
