# Sourced by the test scripts: the private Wine prefix of one build tree.
#
# Everything wine prints goes to log files, never to the caller's stdout: the first wine process
# starts background services that inherit its output, and a reader on a pipe (ctest) would then
# wait for them until the wineserver exits.
#
# A 32-bit tree (wine-arch.txt says win32, written by its configure) runs under the emulated 32-bit
# Wine in a root of its own (scripts/wine32-setup.sh), where the paths are those outside: outside
# that root, each Wine command goes in through WINE_RUN, as in "${WINE_RUN[@]}" "$WINE" prog.exe or
# "${WINE_RUN[@]}" wineserver -k; inside it, and for a 64-bit tree, WINE_RUN is empty.

wine_env_scripts=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)

wine_env_exports() {
    local build
    build=$(realpath -m "$1")
    export WINEPREFIX="$build/wine/prefix"
    export WINEDEBUG=-all
    # No Mono or Gecko installer dialogs while the prefix is created.
    export WINEDLLOVERRIDES="mscoree,mshtml="
    WINE_LOGS="$build/wine/logs"
    WINE_ARCH=$(cat "$build/wine-arch.txt" 2>/dev/null || echo win64)
    WINE_RUN=()
    if [[ "$WINE_ARCH" == win32 ]]; then
        WINE=/usr/lib/wine/wine
        [[ -e /etc/varnhold-wine32-root ]] || WINE_RUN=("$wine_env_scripts/wine32-run.sh")
    elif [[ -x /usr/lib/wine/wine64 ]]; then
        WINE=/usr/lib/wine/wine64
    else
        WINE=$(command -v wine64 || command -v wine)
    fi
    export WINE WINE_LOGS WINE_ARCH
}

# Runs a command without the descriptors above 2 that this shell holds. The Wine server, and the
# services its first program starts, outlive the caller: they must not keep its locks (this file's
# own, or the fixed ports' of `flock ... ctest`) held for as long as they run.
wine_env_detached() {
    (
        local fd
        for fd in /proc/"$BASHPID"/fd/*; do
            fd=${fd##*/}
            ((fd > 2)) && eval "exec $fd>&-"
        done
        exec "$@"
    )
}

# Creates the template prefix once per build tree (with "Segoe UI" mapped to an installed font),
# copies it to the test prefix when that is missing, and keeps one wineserver alive, warmed up.
wine_env_prepare() {
    local build
    build=$(realpath -m "$1")
    wine_env_exports "$build"
    mkdir -p "$build/wine" "$WINE_LOGS"
    if ((${#WINE_RUN[@]})); then
        "${WINE_RUN[@]}" /bin/bash -c 'source "$1" && wine_env_prepare "$2"' bash \
            "$wine_env_scripts/wine-env.sh" "$build"
        return
    fi
    local here=$wine_env_scripts
    (
        flock 9
        local template="$build/wine/template"
        if [[ ! -f "$template/.varnhold-ready" ]]; then
            rm -rf "$template"
            WINEPREFIX="$template" wine_env_detached wineboot -i >"$WINE_LOGS/wineboot.log" 2>&1
            WINEPREFIX="$template" wine_env_detached "$WINE" regedit /S "$here/wine-fonts.reg" \
                >>"$WINE_LOGS/wineboot.log" 2>&1
            WINEPREFIX="$template" wineserver -w 9>&-
            touch "$template/.varnhold-ready"
        fi
        if [[ ! -f "$WINEPREFIX/.varnhold-ready" ]]; then
            rm -rf "$WINEPREFIX"
            cp -a "$template" "$WINEPREFIX"
        fi
        # Exit code 2: a server for this prefix is already running.
        if wine_env_detached wineserver -p >>"$WINE_LOGS/wineserver.log" 2>&1; then
            wine_env_detached "$WINE" cmd /c exit >>"$WINE_LOGS/warmup.log" 2>&1
        fi
    ) 9>"$build/wine/.lock"
}

wine_env_stop() {
    local build
    build=$(realpath -m "$1")
    wine_env_exports "$build"
    [[ -d "$WINEPREFIX" ]] && "${WINE_RUN[@]}" wineserver -k >/dev/null 2>&1 || true
}
