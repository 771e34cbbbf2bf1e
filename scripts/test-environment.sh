#!/usr/bin/env bash
# Per-run test environment of a Windows build tree, run by ctest as a fixture before the tests:
# a fresh test CA and server certificates, the CA trusted in the tree's private Wine prefix only.
# usage: test-environment.sh setup BUILD_DIR
#        test-environment.sh certificates DIR   a throw-away CA and a certificate for localhost signed
#                                               by it in DIR: ca.pem, server.pem, server.key
set -euo pipefail
action=$1
build=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")" && pwd)
source "$here/wine-env.sh"

make_ca() {  # dir name
    local dir=$1 name=$2
    openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=$name" \
        -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
        -keyout "$dir/ca.key" -out "$dir/ca.pem" 2>/dev/null
    openssl x509 -in "$dir/ca.pem" -outform DER -out "$dir/ca.der"
}

make_server_cert() {  # dir
    local dir=$1
    openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" \
        -keyout "$dir/server.key" -out "$dir/server.csr" 2>/dev/null
    # updates.varnhold.test: a name that only the proxy tests' proxy resolves.
    printf 'subjectAltName=DNS:localhost,DNS:updates.varnhold.test,IP:127.0.0.1\nextendedKeyUsage=serverAuth\nbasicConstraints=CA:FALSE\n' \
        >"$dir/server.ext"
    openssl x509 -req -in "$dir/server.csr" -CA "$dir/ca.pem" -CAkey "$dir/ca.key" -CAcreateserial \
        -days 2 -sha256 -extfile "$dir/server.ext" -out "$dir/server.pem" 2>/dev/null
}

setup() {
    wine_env_prepare "$build"
    local tls="$build/test-run/tls"
    rm -rf "$tls"
    mkdir -p "$tls/trusted" "$tls/untrusted"
    local stamp
    stamp=$(date +%s)
    make_ca "$tls/trusted" "Varnhold Test CA $stamp"
    make_server_cert "$tls/trusted"
    make_ca "$tls/untrusted" "Varnhold Untrusted CA $stamp"
    make_server_cert "$tls/untrusted"
    local der_path
    der_path="Z:$(echo "$tls/trusted/ca.der" | tr / '\\')"
    if ! "${WINE_RUN[@]}" "$WINE" "$build/test-helpers/add_root_cert.exe" "$der_path" >"$WINE_LOGS/add_root_cert.log" 2>&1; then
        echo "could not add the test CA to the prefix's Root store:"
        cat "$WINE_LOGS/add_root_cert.log"
        exit 1
    fi
    # The prefix's user has no proxy settings and auto-detection off, so that the launcher programs
    # do not each spend a search for a proxy script that must fail here (Wine keeps no result
    # between processes). The proxy tests give their own settings.
    if ! "${WINE_RUN[@]}" "$WINE" reg add 'HKCU\Software\Microsoft\Windows\CurrentVersion\Internet Settings\Connections' \
        /v DefaultConnectionSettings /t REG_BINARY /d 460000000100000001000000000000000000000000000000 /f \
        >"$WINE_LOGS/proxy_settings.log" 2>&1; then
        echo "could not set the prefix's proxy settings:"
        cat "$WINE_LOGS/proxy_settings.log"
        exit 1
    fi
    echo "test CA 'Varnhold Test CA $stamp' trusted in $WINEPREFIX"
}

case "$action" in
    setup) setup ;;
    stop) wine_env_stop "$build" ;;
    certificates) make_ca "$build" "Varnhold Test CA $(date +%s)" && make_server_cert "$build" ;;
    *) echo "usage: $0 setup|stop BUILD_DIR, or $0 certificates DIR" >&2; exit 2 ;;
esac
