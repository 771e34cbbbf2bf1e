#!/usr/bin/env bash
# The release pipeline's check (a step of scripts/test.sh), against the product of build/win32:
#   1. reproducible: scripts/release.sh, run later from a copy of the sources in another folder,
#      builds the product again (preset win32-release, the first build's deployment values, no
#      compiler cache, pictures re-encoded anew); it must equal build/win32/VarnholdLauncher.exe byte for byte. The SHA-256
#      of both is printed.
#   2. signed: the release script signs it with a throw-away code-signing certificate and verifies
#      it; the check verifies dist/ on its own, and a byte changed after signing must fail;
#   3. provable: the signature taken from the signed launcher and attached to the first build gives
#      the signed file byte for byte, so a signed launcher is traced to its source by a rebuild.
#   4. dist/ holds the signed file's SHA-256 and size, as latest.txt needs them.
# Usage: scripts/check-release.sh   (after cmake --build --preset win32; work in build/release-check)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
first="$root/build/win32"
check="$root/build/release-check"
exe=VarnholdLauncher.exe

if [[ ! -f "$first/$exe" || ! -f "$first/deployment_values.txt" ]]; then
    echo "no first build in build/win32: cmake --preset win32 && cmake --build --preset win32" >&2
    exit 1
fi
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

rm -rf "$check"
mkdir -p "$check/sources" "$check/signing"
cp -a CMakeLists.txt CMakePresets.json cmake scripts src resources tools "$check/sources/"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnhold Release Check" \
    -addext "keyUsage=critical,digitalSignature" -addext "extendedKeyUsage=codeSigning" \
    -keyout "$check/signing/key.pem" -out "$check/signing/cert.pem" 2>/dev/null
openssl pkcs12 -export -inkey "$check/signing/key.pem" -in "$check/signing/cert.pem" \
    -out "$check/signing/team.pfx" -passout pass:check-password
cp "$first/deployment_values.txt" "$check/values.txt"

echo "--- scripts/release.sh in build/release-check/sources (log: build/release-check/release.log)"
if ! CHECK_PASSWORD=check-password "$check/sources/scripts/release.sh" --values "$check/values.txt" \
    --pfx "$check/signing/team.pfx" --password-env CHECK_PASSWORD --ca-file "$check/signing/cert.pem" \
    --out "$check/dist" >"$check/release.log" 2>&1; then
    tail -n 30 "$check/release.log"
    echo "release check: the release script failed"
    exit 1
fi
sed 's/^/      /' "$check/release.log"
second="$check/sources/build/win32-release/$exe"
signed="$check/dist/$exe"

sha256sum "$first/$exe" "$second" | sed "s|$root/||"
if cmp -s "$first/$exe" "$second"; then
    pass "two builds of one commit, in two folders at two times, are identical ($(stat -c %s "$second") bytes)"
else
    fail "the two builds differ in $(cmp -l "$first/$exe" "$second" | wc -l) bytes; the first (offset, bytes):"
    cmp -l "$first/$exe" "$second" | head -n 8
    for picture in "$first"/art/*.png "$first"/art/*.ico; do
        cmp -s "$picture" "$check/sources/build/win32-release/art/${picture##*/}" ||
            echo "      the picture ${picture##*/} differs"
    done
fi

verify() { osslsigncode verify -CAfile "$check/signing/cert.pem" -in "$1" >"$2" 2>&1; }
if verify "$signed" "$check/verify.log" && grep -q "Subject: /CN=Varnhold Release Check" "$check/verify.log"; then
    pass "dist/$exe carries a signature by the check's certificate that verifies"
else
    fail "dist/$exe does not verify (build/release-check/verify.log)"
fi
python3 - "$signed" "$check/changed.exe" <<'EOF'
import sys
data = bytearray(open(sys.argv[1], "rb").read())
data[len(data) // 3] ^= 0x01  # a byte of the code, after signing
open(sys.argv[2], "wb").write(data)
EOF
if verify "$check/changed.exe" "$check/verify-changed.log"; then
    fail "a launcher with a byte changed after signing still verifies"
else
    pass "a byte changed after signing fails the verification"
fi

if osslsigncode extract-signature -in "$signed" -out "$check/signature.der" >"$check/extract.log" 2>&1 &&
    osslsigncode attach-signature -sigin "$check/signature.der" -CAfile "$check/signing/cert.pem" \
        -in "$first/$exe" -out "$check/attached.exe" >"$check/attach.log" 2>&1 &&
    cmp -s "$check/attached.exe" "$signed"; then
    pass "its signature attached to build/win32's launcher gives the signed file byte for byte"
else
    fail "the signature attached to build/win32's launcher does not give the signed file"
fi

checksum=$(sha256sum "$signed" | cut -d' ' -f1)
if grep -qx "launcher_checksum=$checksum" "$check/dist/release.txt" &&
    grep -qx "launcher_size=$(stat -c %s "$signed")" "$check/dist/release.txt" &&
    grep -qx "unsigned_sha256=$(sha256sum "$second" | cut -d' ' -f1)" "$check/dist/release.txt" &&
    (cd "$check/dist" && sha256sum --quiet -c "$exe.sha256"); then
    pass "dist/ names the signed file's SHA-256 and size and the unsigned build's SHA-256"
else
    fail "dist/release.txt or $exe.sha256 does not match the files (build/release-check/dist)"
fi

if ((failures)); then
    echo "release check: $failures failed"
    exit 1
fi
echo "release check: passed"
