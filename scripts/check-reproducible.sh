#!/usr/bin/env bash
# Two builds of one commit must give the same launcher, byte for byte: a mod team proves which
# source a shipped executable came from by building that source again and comparing. This builds
# the product a second time, later, from a copy of the sources in another folder, into another
# build folder and without a compiler cache, and compares it with the first build. It prints the
# SHA-256 of both executables.
# Usage: scripts/check-reproducible.sh [PRESET]   (win32 or win32-release; default win32)
#   The first build is build/PRESET (scripts/test.sh builds build/win32). Its deployment values,
#   the public keys among them, are given to the second build too. Only the product is built.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
preset=${1:-win32}
first="$root/build/$preset"
again="$root/build/reproducible"
exe=VarnholdLauncher.exe

if [[ ! -f "$first/$exe" || ! -f "$first/CMakeCache.txt" ]]; then
    echo "no first build in build/$preset: cmake --preset $preset && cmake --build --preset $preset" >&2
    exit 1
fi

# The deployment values of the first build. A test build made its key pair in its own folder.
values=()
while IFS= read -r line; do
    values+=("-D$line")
done < <(cmake -N -LA "$first" 2>/dev/null | grep -E '^VARNHOLD_[A-Z_]+(:[A-Z]+)?=')
key=$(cmake -N -LA "$first" 2>/dev/null | sed -n 's/^VARNHOLD_PUBLIC_KEY_FILE:[A-Z]*=//p')
if [[ -z "$key" ]]; then
    values+=("-DVARNHOLD_PUBLIC_KEY_FILE=$first/keys/update_signing_public.pem")
fi

rm -rf "$again"
mkdir -p "$again/sources"
cp -a CMakeLists.txt CMakePresets.json cmake src resources tools "$again/sources/"
log="$again/build.log"
echo "second build: build/reproducible/sources/build/$preset (log: build/reproducible/build.log)"
if ! (cd "$again/sources" &&
    env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER cmake --preset "$preset" "${values[@]}" \
        -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= &&
    cmake --build --preset "$preset" --target VarnholdLauncher) >"$log" 2>&1; then
    tail -n 30 "$log"
    echo "the second build failed" >&2
    exit 1
fi
second="$again/sources/build/$preset"

sha256sum "$first/$exe" "$second/$exe" | sed "s|$root/||"
if cmp -s "$first/$exe" "$second/$exe"; then
    echo "the two builds of $exe are identical ($(stat -c %s "$first/$exe") bytes)"
    exit 0
fi
echo "the two builds of $exe differ in $(cmp -l "$first/$exe" "$second/$exe" | wc -l) bytes; the first (offset, bytes):" >&2
cmp -l "$first/$exe" "$second/$exe" | head -n 8 >&2
for picture in "$first"/art/*.png "$first"/art/*.ico; do
    cmp -s "$picture" "$second/art/${picture##*/}" || echo "the picture ${picture##*/} differs" >&2
done
exit 1
