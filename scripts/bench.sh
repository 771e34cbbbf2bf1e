#!/usr/bin/env bash
# Benchmarks of the update engine, each printed as a ratio against a reference measured in the same
# run on the same data (absolute times vary between machines; the ratios are what we compare).
# usage: scripts/bench.sh [local-check] [memory] [update] [window] [network] ...  (default: every benchmark)
#   local-check  checkLocalFiles against ReadFile + zlib crc32 in the same process
#   memory       peak working set of the file update and the bundle, small data against large
#   update       the headless update tool against curl + sha256sum + gzip -d (bench/update_bench.sh)
#   window       the window's start-up, idle CPU and frame cost against plain Win32 floors
#                (bench/window_bench.sh)
#   upload-bytes the bytes the publisher's upload sends for a patch against the bytes of what
#                changed (bench/upload_bytes.py)
#   network      the update tool through a relay with a round trip and a bandwidth limit, against
#                bytes / bandwidth + requests x round trip (bench/network_bench.sh)
# Generated data lives in build/bench-data (about 2 GB; kept between runs).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/win64-test"
data="$root/build/bench-data"

scripts/install-deps.sh
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test >/dev/null
mkdir -p "$data"
source scripts/wine-env.sh
wine_env_prepare "$build"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

run_local_check() {
    echo "=== local check: checkLocalFiles against ReadFile + zlib crc32 in the same process"
    "$WINE" "$build/bench/local_check_bench.exe" "$(winpath "$data/local_check")" 2000 1024 \
        >"$data/local_check.log" 2>&1 || { cat "$data/local_check.log"; return 1; }
    cat "$data/local_check.log"
}

run_memory() {
    echo "=== memory: peak working set of the file update and the bundle, 2 MB against 200 MB"
    bench/update_memory.sh "$build"
}

run_window() {
    echo "=== window: start-up, idle CPU and frame cost against plain Win32 floors"
    bench/window_bench.sh "$build"
}

run_network() {
    echo "=== network: the update tool over a slow link against its floor"
    bench/network_bench.sh "$build"
}

run_update() {
    echo "=== update: the update tool against curl + sha256sum + gzip -d over one connection"
    bench/update_bench.sh "$build"
}

run_upload_bytes() {
    echo "=== upload bytes: a second release changing 3 of 75 files, against the changed objects and metadata"
    python3 bench/upload_bytes.py "$data/upload"
}

selected=("$@")
((${#selected[@]})) || selected=(local-check memory update window upload-bytes network)
for bench in "${selected[@]}"; do
    case "$bench" in
        local-check) run_local_check ;;
        memory) run_memory ;;
        update) run_update ;;
        window) run_window ;;
        upload-bytes) run_upload_bytes ;;
        network) run_network ;;
        *) echo "unknown benchmark: $bench" >&2; exit 2 ;;
    esac
done
