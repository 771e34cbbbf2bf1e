#!/usr/bin/env bash
# The launcher's main job on a built-in demo setup: an update run of a demo game folder against two
# local HTTPS update servers, the primary failing and the fallback serving a signed demo release
# (a few hundred files of several sizes, news, a small-files bundle). The run is the headless
# update tool under wine64; it prints its progress and ends with the run's message.
#
# usage: scripts/demo.sh [--reset] [--language en|ru]
#   --reset          start over: a new demo release and a demo game folder that needs updating
#   --language L     language of the run's texts (default en)
# The demo folder (build/demo) is kept between runs: the first run updates the game folder ("All
# files updated successfully!"), the next one finds it current ("Latest version already installed!").
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/win64-test"
demo="$root/build/demo"

reset=0
language=en
while (($#)); do
    case "$1" in
        --reset) reset=1 ;;
        --language)
            [[ $# -ge 2 && ( "$2" == en || "$2" == ru ) ]] || { echo "--language takes en or ru" >&2; exit 2; }
            language=$2
            shift ;;
        -h | --help) sed -n '2,12p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done

say() { printf '\n=== %s\n' "$*"; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

say "Installing what is missing"
scripts/install-deps.sh

say "Building the update tool (win64-test preset; log: build/demo/build.log)"
mkdir -p "$demo"
if ! { cmake --preset win64-test && cmake --build --preset win64-test --target update_tool add_root_cert; } \
    >"$demo/build.log" 2>&1; then
    tail -n 40 "$demo/build.log"
    exit 1
fi

source scripts/wine-env.sh
wine_env_exports "$build"
# The wineserver of this build tree's prefix, if one already runs (a test run, an earlier demo),
# stays; one that this demo starts is stopped at the end.
wineserver_running() {
    local pid
    for pid in $(pgrep -x wineserver64 || true; pgrep -x wineserver || true); do
        tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}
started_wineserver=0
wineserver_running || started_wineserver=1

server_pid=""
cleanup() {
    if [[ -n "$server_pid" ]]; then
        touch "$demo/control/stop"
        for _ in $(seq 50); do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$server_pid" 2>/dev/null || true
    fi
    if ((started_wineserver)); then
        wineserver -k >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

say "Preparing the Wine prefix and the test certificates (log: build/demo/environment.log)"
if ! scripts/test-environment.sh setup "$build" >"$demo/environment.log" 2>&1; then
    cat "$demo/environment.log"
    exit 1
fi

if ((reset)) || [[ ! -f "$demo/www/patch/lurra/latest.txt" || ! -d "$demo/game" ]]; then
    say "Publishing the demo release 1.44 and creating a demo game folder that needs updating"
    rm -rf "$demo/release" "$demo/www" "$demo/game"
    python3 scripts/demo_data.py release "$demo/release"
    python3 tools/publish/publish.py build --private-key "$build/keys/update_signing_private.pem" \
        --out "$demo/www/patch/lurra" --version 144 --display-version "1.44 demo" \
        --source "$demo/release/files" --news-v2 "$demo/release/news_v2.txt" --bundle-max-size 16384 \
        >"$demo/release.log"
    python3 scripts/demo_data.py game "$demo/release/files" "$demo/game"
else
    say "Reusing the demo release and game folder (--reset starts over)"
fi

say "Starting the update servers (log: build/demo/server.log)"
rm -rf "$demo/control" "$demo/ports.json" "$demo/server.log"
mkdir -p "$demo/control"
python3 tests/server/update_server.py --root "$demo/www" --control "$demo/control" --log "$demo/server.log" \
    --ports-file "$demo/ports.json" --tls-dir "$build/test-run/tls" --listen https --listen https \
    --idle-exit 600 --watch-pid $$ </dev/null >"$demo/server.stdout.log" 2>&1 &
server_pid=$!
for _ in $(seq 200); do
    [[ -s "$demo/ports.json" ]] && break
    sleep 0.05
done
read -r primary fallback < <(python3 -c 'import json,sys; p=json.load(open(sys.argv[1]))["https"]; print(p[0], p[1])' \
    "$demo/ports.json") || { echo "the update servers did not start:"; cat "$demo/server.stdout.log"; exit 1; }
# The primary answers every request with 503 Service Unavailable; the fallback serves the release.
printf '[{"port": %s, "prefix": "/", "action": "status", "status": 503}]\n' "$primary" \
    >"$demo/control/rules.json"
echo "primary  https://localhost:$primary/patch  (answers 503)"
echo "fallback https://localhost:$fallback/patch (serves release 1.44)"

say "Update run of build/demo/game"
set +e
"$WINE" "$build/update_tool.exe" --folder "$(winpath "$demo/game")" \
    --server "https://localhost:$primary/patch" --server "https://localhost:$fallback/patch" --branch /lurra \
    --key "$(winpath "$build/keys/update_signing_public.pem")" --language "$language" --answer no --progress-ms 100
status=$?
set -e
echo
if ((status == 0)); then
    echo "The demo run ended in success. A next scripts/demo.sh finds the folder current;" \
        "scripts/demo.sh --reset starts over."
else
    echo "The demo run did not end in success (exit code $status); see build/demo/server.log."
fi
exit "$status"
