#!/usr/bin/env bash
# Updates over a slow link: the headless update tool (update_tool.exe under wine64) bringing an
# empty game folder up to a release served by the loopback HTTPS test server through a relay that
# adds a fixed round trip and a bandwidth limit (bench/latency_relay.py; this kernel has no netem):
#   (a) 40 changed small files, fetched singly (fewer than the bundle's 50);
#   (b) 300 changed small files, through the small-files bundle;
#   (c) 5 large files, 64 MiB in all;
#   (d) case (c) with the relay cutting each large file's transfer once, at half its length.
# Each figure is a ratio against the floor of the same run: the bytes the update needs (the four
# signed texts and the objects, as the release lists them) at the link's bandwidth, plus one round
# trip for each of those requests. Times are the tool's own, from its run log's "update run ended"
# line (the run from its first request to its result, without the Wine process start); the folder
# is checked against the release afterwards. The same run straight to the server on loopback (no
# relay) gives the share of the time that no link changes (checking, unpacking and creating the
# files under Wine); the last column is what the link added against the floor, (tool - loopback)
# / floor, near 1 when the launcher spends no round trip and no byte that it could save. For (d) also the bytes that reached the tool through
# the relay against the bytes the update needs, and the same through a server that ignores range
# requests (as every download did before they resumed). Two links: 40 ms round trip at 50 Mbit/s,
# and 150 ms at 8 Mbit/s.
#
# Goals: (a) to (c) within 1.3 times their floor; (d) at most 1.05 times the release's bytes.
# The relay and the tool share the machine's cores: figures measured under load are noisy.
# usage: bench/network_bench.sh [BUILD_DIR]      (default build/win64-test, configured)
# Releases are generated once into build/bench-data/network (about 130 MB, kept).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/win64-test}
[[ "$build" = /* ]] || build=$root/$build
data=$root/build/bench-data/network
work=$build/bench-network
links=("40 50" "150 8")

[[ -f "$build/keys/update_signing_private.pem" ]] || { echo "configure $build first" >&2; exit 1; }
cmake --build "$build" --target update_tool add_root_cert >/dev/null
private_key=$build/keys/update_signing_private.pem
public_key=$build/keys/update_signing_public.pem
source scripts/wine-env.sh
wine_env_exports "$build"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

server_pid=
relay_pid=
stop_relay() {
    [[ -n "$relay_pid" ]] || return 0
    kill "$relay_pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$relay_pid" 2>/dev/null || break
        sleep 0.1
    done
    relay_pid=
}
cleanup() {
    stop_relay
    if [[ -n "$server_pid" ]]; then
        touch "$work/control/stop"
        sleep 0.3
        kill "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work/runs"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/runs" "$work/control" "$work/logs"

# --- data: generated once, again when the generator, the release builder or the key changes ---------
stamp=$(cat bench/network_bench_data.py bench/update_bench_data.py tests/server/release_builder.py "$private_key" |
    sha256sum | cut -c1-64)
if [[ "$(cat "$data/stamp" 2>/dev/null)" != "$stamp" ]]; then
    echo "writing the releases..."
    rm -rf "$data"
    mkdir -p "$data"
    python3 bench/network_bench_data.py small "$data/src/small" 40
    python3 bench/network_bench_data.py small "$data/src/bundle" 300
    python3 bench/network_bench_data.py large "$data/src/large" 5
    for branch in small bundle large; do
        python3 tests/server/release_builder.py build --key "$private_key" --out "$data/www/patch/$branch" --clean \
            --version 144 --source "$data/src/$branch" $([[ $branch == bundle ]] && echo --bundle) \
            >"$data/$branch.log"
    done
    echo "$stamp" >"$data/stamp"
fi

# --- the test CA trusted in the prefix, and the server --------------------------------------------
if ! scripts/test-environment.sh setup "$build" >"$work/logs/environment.log" 2>&1; then
    cat "$work/logs/environment.log"
    exit 1
fi
server_log=$work/logs/server.log
python3 tests/server/update_server.py --root "$data/www" --control "$work/control" --log "$server_log" \
    --ports-file "$work/ports.json" --tls-dir "$build/test-run/tls" --listen https --idle-exit 900 \
    --watch-pid $$ </dev/null >"$work/logs/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 200); do
    [[ -s "$work/ports.json" ]] && break
    sleep 0.05
done
https_port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["https"][0])' "$work/ports.json") ||
    { echo "the update server did not start:"; cat "$work/logs/server.out"; exit 1; }

# The bytes and requests the update of a branch needs: the four signed texts and the objects it
# must fetch (every file's object; for the bundle branch the bundle, which holds every file).
needs() {  # branch -> "BYTES REQUESTS"
    local branch=$1 dir=$data/www/patch/$1
    python3 - "$dir" "$branch" <<'PY'
import os, sys
folder, branch = sys.argv[1], sys.argv[2]
texts = ["latest.txt", "latest.sig", "144/checksums.txt", "144/checksums.sig"]
size = lambda p: os.path.getsize(os.path.join(folder, p))
objects = []
if branch == "bundle":
    pack = [l.split("=", 1)[1].strip() for l in open(os.path.join(folder, "latest.txt")) if l.startswith("pack=")][0]
    objects.append("144/files/%s.gz" % pack)
else:
    for line in open(os.path.join(folder, "144", "checksums.txt"), encoding="utf-8"):
        objects.append("144/files/%s.gz" % line.rstrip("\r\n").split("\t")[4])
print(sum(size(p) for p in texts + objects), len(texts) + len(objects))
PY
}

# One run through a fresh relay (or, with rtt "loopback", straight to the server): sets run_ms (the
# tool's own time) and received (bytes that reached the tool through the relay).
run_ms=0
received=0
run_case() {  # case branch rtt mbit [cut]
    local case=$1 branch=$2 rtt=$3 mbit=$4 cut=${5:-}
    local folder=$work/runs/$case-$rtt-$mbit relay_log=$work/logs/relay-$case-$rtt-$mbit.log
    rm -rf "$folder" "$work/relay.json"
    mkdir -p "$folder"
    local port=$https_port
    if [[ $rtt == loopback ]]; then
        echo "total up 0 down 0" >"$relay_log"
    else
        python3 bench/latency_relay.py --target "$https_port" --rtt-ms "$rtt" --mbit "$mbit" \
            --ports-file "$work/relay.json" --log "$relay_log" --watch-pid $$ \
            ${cut:+--server-log "$server_log" --cut-prefix "/patch/$branch/144/files/" --cut-at 0.5} \
            </dev/null >"$work/logs/relay.out" 2>&1 &
        relay_pid=$!
        for _ in $(seq 100); do
            [[ -s "$work/relay.json" ]] && break
            sleep 0.05
        done
        port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["port"])' "$work/relay.json")
    fi
    "$WINE" "$build/update_tool.exe" --folder "$(winpath "$folder")" --server "https://localhost:$port/patch" \
        --branch "/$branch" --key "$(winpath "$public_key")" --language en --progress-ms 0 --no-news --json --log \
        >"$work/logs/tool.json" 2>"$work/logs/tool-$case-$rtt-$mbit.log" || true
    stop_relay
    grep -q '"state":7,' "$work/logs/tool.json" ||
        { echo "($case) the update tool failed:" >&2; cat "$work/logs/tool.json" "$work/logs/tool-$case-$rtt-$mbit.log" >&2; exit 1; }
    if ! diff -rq -x VarnholdLauncher.ini -x launcher_unins.ini "$data/src/$branch" "$folder" >"$work/logs/diff.log" 2>&1; then
        echo "($case) left a folder that differs from the release:" >&2
        head -5 "$work/logs/diff.log" >&2
        exit 1
    fi
    run_ms=$(tr -d '\r' <"$work/logs/tool-$case-$rtt-$mbit.log" | sed -n 's/.*\] update run ended: state 7 .*, \([0-9]*\) ms$/\1/p')
    received=$(sed -n 's/^total up [0-9]* down \([0-9]*\)$/\1/p' "$relay_log")
    [[ -n "$run_ms" && -n "$received" ]] || { echo "($case) no run time or byte count" >&2; exit 1; }
    rm -rf "$folder"
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g ? "met" : "MISSED") }'; }

echo "warming up (Wine, page cache)..."
"$WINE" "$build/update_tool.exe" >"$work/logs/start.out" 2>&1 || true
cat "$data"/www/patch/*/144/files/* >/dev/null
declare -A loopback
for branch in small bundle large; do
    run_case loopback "$branch" loopback 0
    loopback[$branch]=$(awk -v ms="$run_ms" 'BEGIN { printf "%.2f", ms / 1000 }')
done

echo
echo "network: the headless update tool under wine64 through a relay with a fixed round trip and a"
echo "bandwidth limit, HTTPS; each run into an empty folder; floor = bytes / bandwidth + requests x round trip"
for link in "${links[@]}"; do
    read -r rtt mbit <<<"$link"
    echo
    echo "$rtt ms round trip, $mbit Mbit/s:"
    printf '  %-36s %7s %8s %7s %6s %9s   %s\n' case tool loopback floor ratio "link/fl." goal
    for case in a b c d d-ignored; do
        case $case in
            a) branch=small label="(a) 40 small files, singly" ;;
            b) branch=bundle label="(b) 300 small files, bundle" ;;
            c) branch=large label="(c) 5 large files, 64 MiB" ;;
            d) branch=large label="(d) (c), each cut once at 50 %" ;;
            d-ignored) branch=large label="    (d) with ranges ignored" ;;
        esac
        read -r bytes requests < <(needs "$branch")
        floor=$(awk -v b="$bytes" -v r="$requests" -v rtt="$rtt" -v m="$mbit" \
            'BEGIN { printf "%.2f", b * 8 / (m * 1e6) + r * rtt / 1000 }')
        rules='[]'
        [[ $case == d-ignored ]] && rules='[{"prefix": "/patch/large/144/files/", "ranges": "ignore"}]'
        echo "$rules" >"$work/control/rules.json"
        run_case "$case" "$branch" "$rtt" "$mbit" "$([[ $case == d* ]] && echo cut)"
        seconds=$(awk -v ms="$run_ms" 'BEGIN { printf "%.2f", ms / 1000 }')
        r=$(ratio "$seconds" "$floor")
        link_share=$(awk -v t="$seconds" -v l="${loopback[$branch]}" -v f="$floor" 'BEGIN { printf "%.2f", (t - l) / f }')
        case $case in
            a | b | c) goal="at most 1.30: $(verdict "$r" 1.30)" ;;
            *) goal="bytes received $(ratio "$received" "$bytes") of the release's" ;;
        esac
        [[ $case == d ]] && goal="$goal, at most 1.05: $(verdict "$(ratio "$received" "$bytes")" 1.05)"
        printf '  %-36s %7s %8s %7s %6s %9s   %s\n' "$label" "$seconds" "${loopback[$branch]}" "$floor" "$r" \
            "$link_share" "$goal"
    done
done
echo
echo "Cuts made by the relay: $(cat "$work"/logs/relay-d*.log | grep -c '^cut ' || true) (5 for each (d) run)."
echo "Figures measured while other work shares the cores are noisy; re-run with: scripts/bench.sh network"
