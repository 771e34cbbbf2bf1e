#!/usr/bin/env bash
# Runs a command inside the emulated 32-bit Wine's root (scripts/wine32-root.sh), in the same working
# folder, with WINE naming the root's 32-bit loader. Mounts this checkout there first if needed; the
# root itself comes from scripts/wine32-setup.sh.
# usage: scripts/wine32-run.sh COMMAND [ARGS...]      e.g. scripts/wine32-run.sh /usr/lib/wine/wine prog.exe
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine32-root.sh"
(($#)) || { echo "usage: $0 COMMAND [ARGS...]" >&2; exit 2; }
wine32_activate "$(dirname "$here")" >&2 || exit 125
# VARNHOLD_CPU_EMULATOR tells the test programs what runs them (an access violation arrives differently).
exec chroot "$wine32_root" /usr/bin/env WINE=/usr/lib/wine/wine VARNHOLD_CPU_EMULATOR=qemu-i386 \
    PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    /bin/sh -c 'cd "$1" || exit 125; shift; exec "$@"' sh "$(pwd)" "$@"
