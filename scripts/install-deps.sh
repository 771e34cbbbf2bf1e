#!/usr/bin/env bash
# Installs every Debian package the project needs. Idempotent: when all are present it only
# asks dpkg and returns at once.
set -euo pipefail

packages=(
    cmake ninja-build make g++ gcc clang libclang-rt-14-dev clang-format
    g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix binutils-mingw-w64-i686 binutils-mingw-w64-x86-64
    libz-mingw-w64-dev googletest libgtest-dev
    wine wine64 xvfb xauth x11-utils xdotool fonts-dejavu-core imagemagick librsvg2-bin zopfli
    python3 openssl e2fsprogs procps util-linux
    curl nginx-light xdotool
    osslsigncode rclone python3-cryptography python3-venv python3-setuptools python3-wheel
)

missing=()
for package in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$package" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$package")
done

if ((${#missing[@]} == 0)); then
    exit 0
fi

echo "Installing: ${missing[*]}"
sudo=""
if [[ $(id -u) -ne 0 ]]; then
    sudo="sudo"
fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
