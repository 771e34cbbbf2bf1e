#!/usr/bin/env bash
# ctest's emulator for the Windows test programs.
# usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
#
# The program writes to a file that is followed onto this script's output until the program ends.
# Wine starts the desktop process (explorer.exe /desktop) from whichever program first needs it,
# with that program's output: on ctest's pipe it would keep that test "running" until the desktop
# closes, which is when the last program with a window ends, in whatever test group that is.
set -euo pipefail
build=$1
shift
source "$(dirname "$0")/wine-env.sh"
wine_env_prepare "$build"
output=$(mktemp "$WINE_LOGS/run.XXXXXX")
"${WINE_RUN[@]}" "$WINE" "$@" >"$output" 2>&1 &
program=$!
tail -s 0.1 -n +1 -f --pid="$program" "$output" &
follower=$!
status=0
wait "$program" || status=$?
wait "$follower" || true
rm -f "$output"
exit "$status"
