#!/usr/bin/env bash
# Prepares the emulated 32-bit Wine that runs the i686 tests (see scripts/wine32-root.sh): an amd64
# Debian root with Debian's wine32, qemu-user from bookworm-backports registered with binfmt_misc,
# the root's system mounts, and the given checkouts (default: this one) mounted at their own paths.
# usage: scripts/wine32-setup.sh [CHECKOUT...]        (as root; scripts/wine32-stop.sh undoes the mounts)
#
# Idempotent and quick once ready (the first run takes minutes and about 2 GB). Safe to interrupt
# at any point: each stage is recorded by a marker written when it has finished, a root without its
# first marker is removed and made again (only once nothing is mounted below it), and the package
# stage is repeated as a whole.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine32-root.sh"

checkouts=("$@")
((${#checkouts[@]})) || checkouts=("$(dirname "$here")")

if [[ $(id -u) -ne 0 ]]; then
    wine32_fail "must run as root (debootstrap, chroot, mount, binfmt_misc)"
    exit 1
fi

readonly mirror=${VARNHOLD_DEBIAN_MIRROR:-http://deb.debian.org/debian}
readonly security_mirror=${VARNHOLD_DEBIAN_SECURITY_MIRROR:-http://deb.debian.org/debian-security}
# qemu-user 7.2 of bookworm takes about a minute to start each Wine process; 10 of the backports
# about a third of a second.
readonly qemu_packages="qemu-user"
# Wine with its 32-bit loader; the libraries it loads at run time, for both architectures (fonts,
# TLS, the X extensions); the fonts that the prefix maps "Segoe UI" to; and the Linux tools that the
# tests start from inside Wine.
readonly wine_packages="wine wine64 wine32:i386
    libfreetype6 libfreetype6:i386 libfontconfig1 libfontconfig1:i386 libgnutls30 libgnutls30:i386
    libx11-6 libx11-6:i386 libxext6 libxext6:i386 libxrender1 libxrender1:i386 libxrandr2 libxrandr2:i386
    libxi6 libxi6:i386 libxcursor1 libxcursor1:i386 libxinerama1 libxinerama1:i386
    libxcomposite1 libxcomposite1:i386 libxfixes3 libxfixes3:i386 libxxf86vm1 libxxf86vm1:i386
    fonts-dejavu-core
    ca-certificates openssl osslsigncode e2fsprogs procps gzip xdotool imagemagick python3 python3-cryptography
    rclone"
# The package stage's marker holds this text: a changed list repeats that stage.
readonly package_stamp="$qemu_packages | $(echo $wine_packages)"

in_root() { chroot "$wine32_root" /usr/bin/env DEBIAN_FRONTEND=noninteractive LC_ALL=C.UTF-8 "$@"; }

bootstrap() {
    if [[ -e "$wine32_root" ]]; then
        wine32_say "removing the unfinished root $wine32_root"
        wine32_end_processes
        wine32_unmount_below "$wine32_root" || exit 1
        rm -rf --one-file-system "$wine32_root"
    fi
    if ! command -v debootstrap >/dev/null; then
        DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap ||
            { apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends debootstrap; }
    fi
    mkdir -p "$(dirname "$wine32_root")"
    wine32_say "debootstrap bookworm (minbase) into $wine32_root"
    debootstrap --variant=minbase --arch=amd64 bookworm "$wine32_root" "$mirror" >"$wine32_root.debootstrap.log" 2>&1 ||
        { tail -n 20 "$wine32_root.debootstrap.log" >&2; wine32_fail "debootstrap failed (log: $wine32_root.debootstrap.log)"; exit 1; }
    # debootstrap unmounts what it mounted; an interrupted one may not have.
    wine32_unmount_below "$wine32_root" || exit 1
    echo "the emulated 32-bit Wine's root (scripts/wine32-setup.sh)" >"$wine32_root$wine32_inside_marker"
    mkdir -p "$(dirname "$wine32_bootstrapped")"
    touch "$wine32_bootstrapped"
}

install_packages() {
    cat >"$wine32_root/etc/apt/sources.list" <<EOF
deb $mirror bookworm main
deb $mirror bookworm-updates main
deb $security_mirror bookworm-security main
deb $mirror bookworm-backports main
EOF
    wine32_mount_system
    in_root dpkg --configure -a
    in_root dpkg --add-architecture i386
    wine32_say "apt-get update in the root"
    # A mirror in the middle of a sync fails an index now and then. apt then keeps the lists it had,
    # with which the installs below may still succeed (or fail, and say why).
    if ! in_root apt-get update -qq; then
        sleep 10
        in_root apt-get update -qq || wine32_say "apt-get update failed in part; going on with the lists there are"
    fi
    wine32_say "installing $qemu_packages from bookworm-backports"
    in_root apt-get install -y -qq --no-install-recommends -t bookworm-backports $qemu_packages
    # Some i386 packages run i386 programs while they are configured.
    wine32_register_binfmt
    wine32_say "installing Wine and the tools the tests start"
    # shellcheck disable=SC2086
    in_root apt-get install -y -qq --no-install-recommends $wine_packages
    in_root apt-get clean
    echo "$package_stamp" >"$wine32_installed.tmp"
    mv "$wine32_installed.tmp" "$wine32_installed"
}

mkdir -p "$(dirname "$wine32_lock")"
exec 9>"$wine32_lock"
flock 9
if [[ ! -f "$wine32_installed" || "$(cat "$wine32_installed")" != "$package_stamp" ]]; then
    started=$SECONDS
    [[ -f "$wine32_bootstrapped" ]] || bootstrap
    install_packages
    wine32_say "installed in $((SECONDS - started)) s"
fi
wine32_activate_locked "${checkouts[@]}"
wine32_say "ready: $wine32_root, $("$wine32_root/usr/bin/qemu-i386" --version 2>/dev/null | head -n 1 || true)"
