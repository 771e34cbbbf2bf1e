#!/usr/bin/env bash
# Runs every libFuzzer target for a bounded time, keeping a growing corpus in build/fuzz/corpus.
# usage: scripts/fuzz.sh [SECONDS_PER_TARGET] [TARGET...]     (default 600 s, every target)
# A crash leaves its input as crash-* in build/fuzz/; turn it into a regression test.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-600}
shift || true
scripts/install-deps.sh
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz
targets=("$@")
if ((${#targets[@]} == 0)); then
    mapfile -t targets < <(cd tests/fuzz && ls *_fuzz.cpp | sed 's/_fuzz\.cpp$//')
fi
cd build/fuzz
for target in "${targets[@]}"; do
    echo "=== $target: ${seconds}s"
    mkdir -p "corpus/$target"
    "./${target}_fuzz" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
        "corpus/$target" "../../tests/fuzz/corpus/$target"
done
