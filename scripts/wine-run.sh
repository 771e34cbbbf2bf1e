#!/usr/bin/env bash
# ctest's emulator for the Windows test programs.
# usage: wine-run.sh BUILD_DIR PROGRAM [ARGS...]
set -euo pipefail
build=$1
shift
source "$(dirname "$0")/wine-env.sh"
wine_env_prepare "$build"
exec "${WINE_RUN[@]}" "$WINE" "$@"
