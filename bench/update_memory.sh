#!/usr/bin/env bash
# Peak memory of the file update and of the small-files bundle, small against large: one file of
# 2 MB against one of 200 MB, and a bundle of 100 files of 20 KB (2 MB) against 100 files of 2 MB
# (200 MB). Both steps stream through fixed buffers, so the peak working set must stay about the
# same however large the data is.
#
# usage: bench/update_memory.sh [BUILD_DIR]      (default build/win64-test, built if needed)
# Needs about 2 GB of free disk space in BUILD_DIR/bench-run while it runs; removed afterwards.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/win64-test}
[[ "$build" = /* ]] || build=$root/$build
cmake --build "$build" --target bench_update_memory >/dev/null

work=$build/bench-run
rm -rf "$work"
mkdir -p "$work/www" "$work/control"
key=$build/keys/update_signing_private.pem
[[ -f "$key" ]] || { echo "missing $key: configure $build first" >&2; exit 1; }

server_pid=
cleanup() {
    touch "$work/control/stop" 2>/dev/null || true
    [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

echo "writing the releases (random content, gzip level 9: takes a minute)..."
python3 - "$work" <<'PY'
import os, random, sys
work = sys.argv[1]
def write(folder, files):
    for path, size, seed in files:
        full = os.path.join(work, "src", folder, path)
        os.makedirs(os.path.dirname(full), exist_ok=True)
        with open(full, "wb") as f:
            f.write(random.Random(seed).randbytes(size))
write("files_small", [("Imgs/one.dds", 2 * 1024 * 1024, 1)])
write("files_large", [("Imgs/one.dds", 200 * 1024 * 1024, 2)])
write("bundle_small", [("Imgs/set%03d.dds" % i, 20 * 1024, 100 + i) for i in range(100)])
write("bundle_large", [("Imgs/set%03d.dds" % i, 2 * 1024 * 1024, 300 + i) for i in range(100)])
PY
for case in files_small files_large bundle_small bundle_large; do
    extra=()
    [[ $case == bundle_* ]] && extra=(--bundle)
    python3 tests/server/release_builder.py build --key "$key" --out "$work/www/$case" --version 144 \
        --source "$work/src/$case" "${extra[@]}"
done
rm -rf "$work/src"

python3 tests/server/update_server.py --root "$work/www" --listen http:0 --control "$work/control" \
    --ports-file "$work/ports.json" --idle-exit 600 >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [[ -s "$work/ports.json" ]] && break; sleep 0.1; done
port=$(python3 -c 'import json,sys; print(json.load(open(sys.argv[1]))["http"][0])' "$work/ports.json")

to_windows() { echo "Z:${1//\//\\}"; }
run_case() {  # case mode
    local case=$1 mode=$2 game=$work/game_$1
    rm -rf "$game"
    mkdir -p "$game"
    local args=("$mode" "$(to_windows "$game")" "http://127.0.0.1:$port/$case/144"
        "$(to_windows "$work/www/$case/144/checksums.txt")")
    if [[ $mode == bundle ]]; then
        local pack size
        pack=$(sed -n 's/^pack=//p' "$work/www/$case/latest.txt")
        size=$(sed -n 's/^pack_size=//p' "$work/www/$case/latest.txt")
        args+=("$pack" "$size")
    fi
    # Wine output goes to a file, never a pipe.
    if ! scripts/wine-run.sh "$build" "$build/bench/update_memory.exe" "${args[@]}" >"$work/$case.out" 2>&1; then
        echo "$case failed:" >&2
        cat "$work/$case.out" >&2
        exit 1
    fi
    grep '^mode=' "$work/$case.out" | tr -d '\r'
    rm -rf "$game"
}

declare -A peak
for case in files_small files_large bundle_small bundle_large; do
    mode=files
    [[ $case == bundle_* ]] && mode=bundle
    line=$(run_case "$case" "$mode")
    echo "$case: $line"
    peak[$case]=$(sed -n 's/.*peak_after=\([0-9]*\).*/\1/p' <<<"$line")
done

mib() { awk -v b="$1" 'BEGIN { printf "%.1f MiB", b / 1048576 }'; }
echo
printf '%-8s %16s %16s %8s\n' step "small (2 MB)" "large (200 MB)" ratio
for step in files bundle; do
    small=${peak[${step}_small]}
    large=${peak[${step}_large]}
    printf '%-8s %16s %16s %8s\n' "$step" "$(mib "$small")" "$(mib "$large")" \
        "$(awk -v s="$small" -v l="$large" 'BEGIN { printf "%.3f", l / s }')"
done
