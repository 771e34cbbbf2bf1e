#!/usr/bin/env bash
# Checks the pictures of a Windows build: each at the pixel size of its role, the icon with its
# five sizes, and all of them embedded in the launcher executable under their numbers. Then checks
# the check: spoiled copies of the build must each give the fault they hold.
# Usage: scripts/check-art.sh [BUILD_DIR]   (default build/win32)
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
status=0
python3 tools/check_art.py resources/art/images.txt "$build/art" "$build/VarnholdLauncher.exe" || status=1
python3 tests/tools/check_art_test.py "$build" || status=1
exit $status
