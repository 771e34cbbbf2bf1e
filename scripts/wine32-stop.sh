#!/usr/bin/env bash
# Stops the emulated 32-bit Wine (scripts/wine32-root.sh) for the given checkouts (default: this one):
# ends the processes in its root that work in them (Wine servers, test servers) and unmounts them from
# the root. Other checkouts' test runs there go on.
# usage: scripts/wine32-stop.sh [CHECKOUT...]
#        scripts/wine32-stop.sh --all       everything in the root, its system mounts, its binfmt entry
#        scripts/wine32-stop.sh --remove    the same, then deletes the root (once nothing is mounted in it)
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine32-root.sh"

if [[ $(id -u) -ne 0 ]]; then
    wine32_fail "must run as root (umount)"
    exit 1
fi
[[ -d "$wine32_root" ]] || exit 0

mode=checkouts
checkouts=()
for argument in "$@"; do
    case "$argument" in
        --all) mode=all ;;
        --remove) mode=remove ;;
        -h | --help) sed -n '2,7p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) checkouts+=("$(realpath "$argument")") ;;
    esac
done
((${#checkouts[@]})) || checkouts=("$(dirname "$here")")

exec 9>"$wine32_lock"
flock 9
if [[ "$mode" == checkouts ]]; then
    for checkout in "${checkouts[@]}"; do
        wine32_mounted "$wine32_root$checkout" || continue
        wine32_end_processes "$checkout"
        wine32_unmount_below "$wine32_root$checkout"
    done
    exit 0
fi

wine32_end_processes
wine32_unmount_below "$wine32_root"
# The binfmt entry goes with the root whose qemu it names (another root may serve other checkouts).
if grep -qxF "interpreter $wine32_root/usr/bin/qemu-i386" "$wine32_binfmt/$wine32_binfmt_name" 2>/dev/null; then
    echo -1 >"$wine32_binfmt/$wine32_binfmt_name"
fi
if [[ "$mode" == remove ]]; then
    # Checked once more right before: the removal must never reach through a mount.
    if [[ -n "$(wine32_mounts_below "$wine32_root")" ]]; then
        wine32_fail "not removed: something is mounted below $wine32_root"
        exit 1
    fi
    rm -rf --one-file-system "$wine32_root" "$wine32_root.debootstrap.log"
    wine32_say "removed $wine32_root"
fi
