#!/usr/bin/env bash
# Checks the pictures of a Windows build: each at the pixel size of its role, the icon with its
# five sizes, and all of them embedded in the launcher executable under their numbers.
# Usage: scripts/check-art.sh [BUILD_DIR]   (default build/win32)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
exec python3 tools/check_art.py resources/art/images.txt "$build/art" "$build/VarnholdLauncher.exe"
