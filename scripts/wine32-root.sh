# Sourced by scripts/wine32-setup.sh, wine32-stop.sh and wine32-chroot.sh: the emulated 32-bit Wine.
#
# This kernel runs no 32-bit Linux program, and Debian's wine32 installed beside the machine's own
# Wine would switch `wine` to the 32-bit loader for everything. So the 32-bit Wine lives in an amd64
# Debian root of its own, outside every checkout (VARNHOLD_WINE32_ROOT, default
# /var/lib/varnhold/wine32-root), and its i386 programs run through qemu-user, to which binfmt_misc
# hands them. Into the root are bind-mounted /proc, /sys, /dev (with pts and shm), /tmp (the X
# sockets, and the same /tmp for tools inside and outside), and each checkout whose tests run there,
# at its own path, so that the paths compiled into the test programs hold inside too.
#
# Deleting the root while anything is mounted into it would delete /dev, /tmp and the checkouts
# through the mounts: nothing here removes the root before /proc/mounts shows nothing below it.

wine32_root=$(realpath -m "${VARNHOLD_WINE32_ROOT:-/var/lib/varnhold/wine32-root}")
# Outside the root, so that it survives the root's removal and serialises every change to it.
wine32_lock="$wine32_root.lock"
# Inside the root, each written as the last step of what it records.
wine32_bootstrapped="$wine32_root/.varnhold/bootstrapped"
wine32_installed="$wine32_root/.varnhold/installed"
# Present inside the root only: how a script tells that it already runs there.
readonly wine32_inside_marker=/etc/varnhold-wine32-root
readonly wine32_binfmt=/proc/sys/fs/binfmt_misc
readonly wine32_binfmt_name=varnhold-i386

wine32_say() { printf 'wine32: %s\n' "$*"; }
wine32_fail() {
    printf 'wine32: %s\n' "$*" >&2
    return 1
}

wine32_inside() { [[ -e "$wine32_inside_marker" ]]; }

# Mount points at or below a path, deepest first. /proc/mounts writes blanks, tabs, line ends and
# backslashes in octal (\040).
wine32_mount_points() {
    local target
    while read -r _ target _; do
        [[ "$target" == *\\* ]] && printf -v target '%b' "${target//\\/\\0}"
        printf '%s\n' "$target"
    done </proc/mounts
}

wine32_mounts_below() {
    local path=$1 target
    while IFS= read -r target; do
        [[ "$target" == "$path" || "$target" == "$path"/* ]] && printf '%s\n' "$target"
    done < <(wine32_mount_points) | awk '{ print length($0) "\t" $0 }' | sort -rn | cut -f2-
}

wine32_mounted() {  # path: whether a mount point is exactly there
    local target
    while IFS= read -r target; do
        [[ "$target" == "$1" ]] && return 0
    done < <(wine32_mount_points)
    return 1
}

# Processes whose root is the 32-bit root (Wine, its server, what the tests started there); with a
# path (as seen inside the root), only those whose working folder or open files lie below it.
# Seen from here, their files carry the root's path in front.
wine32_processes() {
    local below=${1:+$wine32_root$1} pid link
    for pid in /proc/[0-9]*; do
        [[ "$(readlink "$pid/root" 2>/dev/null)" == "$wine32_root" ]] || continue
        if [[ -n "$below" ]]; then
            local uses=0
            for link in "$pid/cwd" "$pid"/fd/*; do
                link=$(readlink "$link" 2>/dev/null) || continue
                [[ "$link" == "$below" || "$link" == "$below"/* ]] && uses=1 && break
            done
            ((uses)) || continue
        fi
        echo "${pid#/proc/}"
    done
}

wine32_end_processes() {  # [path]: TERM, then KILL after 5 s, what wine32_processes lists
    local pids
    pids=$(wine32_processes "$@")
    [[ -n "$pids" ]] || return 0
    # shellcheck disable=SC2086
    kill -TERM $pids 2>/dev/null || true
    for _ in $(seq 50); do
        pids=$(wine32_processes "$@")
        [[ -n "$pids" ]] || return 0
        sleep 0.1
    done
    # shellcheck disable=SC2086
    kill -KILL $pids 2>/dev/null || true
    sleep 0.2
}

# Unmounts everything at or below a path inside the root, deepest first; a mount still busy once
# its users have ended is detached lazily, which unlinks it from the root at once. Fails when
# anything is still mounted there afterwards.
wine32_unmount_below() {
    local path=$1 target
    while IFS= read -r target; do
        umount "$target" 2>/dev/null || umount -l "$target" 2>/dev/null || true
    done < <(wine32_mounts_below "$path")
    if [[ -n "$(wine32_mounts_below "$path")" ]]; then
        wine32_fail "still mounted below $path:"
        wine32_mounts_below "$path" >&2
        return 1
    fi
}

# The root's own system mounts, each only once.
wine32_mount_system() {
    local dir
    mkdir -p "$wine32_root/proc" "$wine32_root/sys" "$wine32_root/dev" "$wine32_root/tmp"
    wine32_mounted "$wine32_root/proc" || mount -t proc proc "$wine32_root/proc"
    wine32_mounted "$wine32_root/sys" || mount --bind /sys "$wine32_root/sys"
    wine32_mounted "$wine32_root/dev" || mount --bind /dev "$wine32_root/dev"
    for dir in pts shm; do
        [[ -d "/dev/$dir" ]] || continue
        wine32_mounted "$wine32_root/dev/$dir" || mount --bind "/dev/$dir" "$wine32_root/dev/$dir"
    done
    wine32_mounted "$wine32_root/tmp" || mount --bind /tmp "$wine32_root/tmp"
}

# binfmt_misc hands i386 ELF programs to the root's qemu-i386. Flag F opens the interpreter now, so
# the entry serves programs inside the root as well. The entry does not survive a reboot.
wine32_register_binfmt() {
    local qemu="$wine32_root/usr/bin/qemu-i386"  # statically linked: it needs nothing of the root
    [[ -x "$qemu" ]] || { wine32_fail "no qemu-i386 in $wine32_root"; return 1; }
    [[ -e "$wine32_binfmt/register" ]] || mount -t binfmt_misc binfmt_misc "$wine32_binfmt" ||
        { wine32_fail "cannot mount binfmt_misc"; return 1; }
    if [[ -e "$wine32_binfmt/$wine32_binfmt_name" ]]; then
        grep -qx enabled "$wine32_binfmt/$wine32_binfmt_name" && return 0
        echo -1 >"$wine32_binfmt/$wine32_binfmt_name"
    fi
    # ELF, 32-bit, little-endian, version 1, any ABI; executable or shared object; machine 3 (i386).
    printf '%s' ":$wine32_binfmt_name:M::\\x7fELF\\x01\\x01\\x01\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x00\\x02\\x00\\x03\\x00:\\xff\\xff\\xff\\xff\\xff\\xfe\\xfe\\x00\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xff\\xfe\\xff\\xff\\xff:$qemu:F" \
        >"$wine32_binfmt/register" || { wine32_fail "cannot register $qemu with binfmt_misc"; return 1; }
}

# The checkout that holds these scripts, or the one given, visible inside the root at its own path.
wine32_mount_checkout() {
    local checkout
    checkout=$(realpath "$1")
    case "$wine32_root/" in
        "$checkout"/*) wine32_fail "the root $wine32_root lies inside the checkout $checkout"; return 1 ;;
    esac
    case "$checkout/" in
        "$wine32_root"/*) wine32_fail "the checkout $checkout lies inside the root"; return 1 ;;
    esac
    local inside="$wine32_root$checkout"
    # Already the same folder inside (a checkout below /tmp, say), or mounted there earlier.
    [[ -d "$inside" && "$(stat -c %d:%i "$inside")" == "$(stat -c %d:%i "$checkout")" ]] && return 0
    mkdir -p "$inside"
    mount --bind "$checkout" "$inside"
}

# Everything a program in the root needs, after the root is installed; quick when all is in place.
# The caller holds the lock.
wine32_activate_locked() {  # checkout...
    [[ -f "$wine32_installed" ]] ||
        { wine32_fail "the 32-bit Wine is not set up in $wine32_root: run scripts/wine32-setup.sh"; return 1; }
    wine32_register_binfmt || return 1
    wine32_mount_system || return 1
    # debootstrap writes none, and the tests' servers are "localhost".
    [[ -s "$wine32_root/etc/hosts" ]] || cp /etc/hosts "$wine32_root/etc/hosts"
    local checkout
    for checkout in "$@"; do
        wine32_mount_checkout "$checkout" || return 1
    done
}

wine32_activate() {  # checkout...
    mkdir -p "$(dirname "$wine32_lock")"
    (
        flock 9
        wine32_activate_locked "$@"
    ) 9>"$wine32_lock"
}
