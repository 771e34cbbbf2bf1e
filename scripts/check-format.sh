#!/usr/bin/env bash
# Fails when a C++ file under src/, tests/ or tools/ (or bench/) differs from clang-format's output.
set -euo pipefail
cd "$(dirname "$0")/.."
mapfile -t files < <(find src tests tools bench -type f \( -name '*.cpp' -o -name '*.h' \) 2>/dev/null | sort)
if ((${#files[@]} == 0)); then
    exit 0
fi
clang-format --dry-run --Werror "${files[@]}"
echo "clang-format: ${#files[@]} files formatted"
