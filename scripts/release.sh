#!/usr/bin/env bash
# Builds the launcher for players with the team's deployment values, signs it (Authenticode,
# optional), verifies the signature, and writes into the output folder what a release needs:
#   VarnholdLauncher.exe          the launcher to publish (publish build --launcher ...)
#   VarnholdLauncher.exe.sha256   its SHA-256, as sha256sum writes it
#   release.txt                   launcher_checksum and launcher_size for latest.txt, the SHA-256
#                                 of the unsigned build, the source commit and the signer
#
# usage: scripts/release.sh --values FILE [signing options] [--out DIR]
#   --values FILE          the deployment values, one NAME=VALUE a line ('#' starts a comment):
#                            VARNHOLD_PRIMARY_SERVER_URL=https://updates.example.org/patch
#                            VARNHOLD_FALLBACK_SERVER_URL=https://mirror.example.net/patch
#                            VARNHOLD_RATING_QUERY_URL=https://rating.example.org/v1/top?diff=
#                            VARNHOLD_RATING_PAGE_URL=https://www.example.org/#rating
#                            VARNHOLD_CLIENT_PAGE_URL_LURRA=https://www.example.org/lurra
#                            VARNHOLD_CLIENT_PAGE_URL_KTVX=https://www.example.org/ktvx
#                            VARNHOLD_PUBLIC_KEY_FILE=update_signing_public.pem
#                            VARNHOLD_SUCCESSOR_PUBLIC_KEY_FILE=next_signing_public.pem   (optional)
#                          a relative key file is found beside the values file. A build folder's
#                          deployment_values.txt holds the values it was built with.
#   --pfx FILE             sign with this PKCS#12 file (code-signing certificate, its chain, key)
#   --key FILE --cert FILE sign with this private key and certificate chain (PEM) instead
#   --password-env NAME    the password of the PFX or key is in this environment variable
#   --timestamp URL        have the signature time-stamped by this RFC 3161 server (needs the
#                          network); without one, Windows trusts the signature only while the
#                          certificate is valid
#   --ca-file FILE         trust these CA certificates (PEM) when verifying, instead of the system's:
#                          needed for a certificate of a private CA (give the CA's certificate) or a
#                          self-signed one (give the certificate itself)
#   --description TEXT     the signed content's name that Windows shows (default: Varnhold launcher)
#   --url URL              the address Windows shows with it
#   --out DIR              the output folder (default: dist)
#   --check                check the values and the signing inputs, then stop (no build)
# Before the build, which takes minutes, the signing inputs sign and verify a small test program:
# a wrong password, a key that does not belong to its certificate, a chain that does not verify or
# an unreachable time-stamp server stops the script at once.
# The product is built from nothing in build/win32-release, without a compiler cache and without
# the cache of re-encoded pictures (tools/build_art.py, VARNHOLD_ART_CACHE): two builds
# of one commit give the same bytes, so anyone can rebuild a release and compare (a signed one
# too: attach its signature to the rebuild with osslsigncode attach-signature).
set -euo pipefail
caller=$(pwd)
cd "$(dirname "$0")/.."
root=$(pwd)

values="" pfx="" key="" cert="" password_env="" timestamp="" ca_file="" url="" out="$root/dist"
description="Varnhold launcher" check_only=0
usage() { sed -n '2,/^set -euo/p' "$0" | sed -e '$d' -e 's/^# \{0,1\}//'; }
while (($#)); do
    case "$1" in
        --values | --pfx | --key | --cert | --password-env | --timestamp | --ca-file | --description | --url | --out)
            [[ $# -ge 2 ]] || { echo "$1 needs a value" >&2; exit 2; }
            name=${1#--}
            name=${name//-/_}
            value=$2
            # Files and folders are named from where the script was called.
            [[ "$name" =~ ^(values|pfx|key|cert|ca_file|out)$ && "$value" != /* ]] && value="$caller/$value"
            printf -v "$name" '%s' "$value"
            shift ;;
        --check) check_only=1 ;;
        -h | --help) usage; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
fail() { echo "release: $*" >&2; exit 1; }
[[ -n "$values" ]] || fail "--values FILE is required (see --help)"
[[ -f "$values" ]] || fail "the values file $values does not exist"
if [[ -n "$pfx" && (-n "$key" || -n "$cert") ]]; then
    fail "sign either with --pfx or with --key and --cert"
fi
if [[ -n "$key" && -z "$cert" || -z "$key" && -n "$cert" ]]; then
    fail "--key and --cert go together"
fi
signing=0
[[ -n "$pfx" || -n "$key" ]] && signing=1
if ((!signing)) && [[ -n "$password_env$timestamp$ca_file$url" ]]; then
    fail "--password-env, --timestamp, --ca-file and --url belong to signing (--pfx, or --key and --cert)"
fi
for file in "$pfx" "$key" "$cert" "$ca_file"; do
    [[ -z "$file" || -f "$file" ]] || fail "$file does not exist"
done
if [[ -n "$password_env" && -z "${!password_env:-}" ]]; then
    fail "the environment variable $password_env is empty"
fi
((signing)) && { command -v osslsigncode >/dev/null || fail "osslsigncode is missing: run scripts/install-deps.sh"; }

# The values as -D options; key files beside the values file.
source scripts/deployment-values.sh
read_deployment_values "$values"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
sign_file() {  # in out: signs with the team's inputs; osslsigncode's output in $work/sign.log
    local sign=(osslsigncode sign -h sha256 -n "$description")
    [[ -n "$url" ]] && sign+=(-i "$url")
    if [[ -n "$pfx" ]]; then
        sign+=(-pkcs12 "$pfx")
    else
        sign+=(-certs "$cert" -key "$key")
    fi
    if [[ -n "$password_env" ]]; then
        # Through a file only this user can read: a password on the command line is visible to all.
        (umask 077 && printf '%s' "${!password_env}" >"$work/password")
        sign+=(-readpass "$work/password")
    fi
    [[ -n "$timestamp" ]] && sign+=(-ts "$timestamp")
    "${sign[@]}" -in "$1" -out "$2" >"$work/sign.log" 2>&1
}
verify_file() {  # file: verifies its signature; osslsigncode's output in $work/verify.log
    local verify=(osslsigncode verify -in "$1")
    [[ -n "$ca_file" ]] && verify+=(-CAfile "$ca_file")
    "${verify[@]}" >"$work/verify.log" 2>&1
}
if ((signing)); then
    echo "checking the signing inputs on a test program"
    i686-w64-mingw32-gcc-posix -s -x c -o "$work/probe.exe" - <<<'int main(void) { return 0; }' ||
        fail "the compiler cannot build a test program: run scripts/install-deps.sh"
    if ! sign_file "$work/probe.exe" "$work/probe-signed.exe"; then
        cat "$work/sign.log" >&2
        if grep -qiE 'wrong password|mac verify failure|bad decrypt|unable to load private key' "$work/sign.log"; then
            with="no password"
            [[ -n "$password_env" ]] && with="the password in $password_env"
            fail "${pfx:-$key} cannot be opened with $with: is the password right? Nothing was built"
        fi
        grep -q 'consistency of a private key' "$work/sign.log" &&
            fail "the key $key does not belong to a certificate of $cert; nothing was built"
        [[ -n "$timestamp" ]] && grep -qE 'Connecting to|unauthenticated attributes' "$work/sign.log" &&
            fail "the time-stamp server $timestamp did not give a time stamp (it needs the network); nothing was built"
        fail "signing a test program with these inputs failed; nothing was built"
    fi
    if ! verify_file "$work/probe-signed.exe"; then
        grep -E 'Error|error|failed' "$work/verify.log" >&2
        if [[ -z "$ca_file" ]]; then
            fail "a test program signed with these inputs does not verify against the system's CAs;" \
                "for a certificate of a private CA give --ca-file with the CA's certificate" \
                "(a self-signed certificate is its own CA). Nothing was built"
        fi
        fail "a test program signed with these inputs does not verify with --ca-file $ca_file" \
            "(does the certificate chain reach that CA?); nothing was built"
    fi
    signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
    echo "the signing inputs sign and verify: ${signer:-an unnamed certificate}"
fi
if ((check_only)); then
    echo "the values and the signing inputs are good (--check: nothing built)"
    exit 0
fi

build="$root/build/win32-release"
exe=VarnholdLauncher.exe
mkdir -p "$out"
out=$(cd "$out" && pwd)
log="$out/build.log"
echo "building the launcher from nothing in build/win32-release (log: $log)"
rm -rf "$build"
build_failed() {
    grep -E 'CMake Error|error:|needs VARNHOLD|must' "$log" | head -n 20 >&2 || tail -n 20 "$log" >&2
    fail "the build failed"
}
env -u CMAKE_C_COMPILER_LAUNCHER -u CMAKE_CXX_COMPILER_LAUNCHER \
    cmake --preset win32-release "${defines[@]}" -DCMAKE_C_COMPILER_LAUNCHER= -DCMAKE_CXX_COMPILER_LAUNCHER= \
    >"$log" 2>&1 || build_failed
# A misspelt name would otherwise be dropped without a word and its default compiled in.
unknown=$(sed -n '/Manually-specified variables were not used/,/^--/s/^ *\(VARNHOLD_[A-Z0-9_]*\)$/\1/p' "$log")
[[ -z "$unknown" ]] || fail "$values names values the build does not know: $unknown"
VARNHOLD_ART_CACHE= cmake --build --preset win32-release --target VarnholdLauncher >>"$log" 2>&1 || build_failed

cp "$build/$exe" "$work/unsigned.exe"
unsigned_sha256=$(sha256sum "$work/unsigned.exe" | cut -d' ' -f1)
signer="not signed"
if ((signing)); then
    if ! sign_file "$work/unsigned.exe" "$work/signed.exe"; then
        cat "$work/sign.log" >&2
        fail "signing failed"
    fi
    if ! verify_file "$work/signed.exe"; then
        cat "$work/verify.log" >&2
        fail "the signed launcher does not verify"
    fi
    signer=$(sed -n 's/^[[:space:]]*Subject: //p' "$work/verify.log" | head -n 1)
    signer="signed by ${signer:-an unnamed certificate}"
    [[ -z "$timestamp" ]] || signer+=", time-stamped"
    cp "$work/signed.exe" "$work/release.exe"
else
    cp "$work/unsigned.exe" "$work/release.exe"
fi

checksum=$(sha256sum "$work/release.exe" | cut -d' ' -f1)
size=$(stat -c %s "$work/release.exe")
commit=$(git rev-parse HEAD 2>/dev/null || echo unknown)
[[ "$commit" != unknown && -n "$(git status --porcelain 2>/dev/null)" ]] && commit+=" with uncommitted changes"
mv "$work/release.exe" "$out/$exe"
echo "$checksum  $exe" >"$out/$exe.sha256"
cat >"$out/release.txt" <<EOF
# $exe for latest.txt (publish build --launcher $exe --launcher-version N writes these itself)
launcher_checksum=$checksum
launcher_size=$size
# Its build before signing; a rebuild of the source gives these bytes again.
unsigned_sha256=$unsigned_sha256
source=$commit
signature=$signer
EOF
echo "$exe: $size bytes, $signer"
echo "launcher_checksum=$checksum"
echo "launcher_size=$size"
echo "unsigned build: $unsigned_sha256"
echo "written to $out: $exe, $exe.sha256, release.txt"
