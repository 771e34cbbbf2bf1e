# Sourced by the scripts that put windows on a screen of their own.
# start_xvfb FIRST LAST [LOG]: starts Xvfb at 1920x1080x24 on the first free display number from
# FIRST to LAST, exports DISPLAY, sets xvfb_pid and waits until the display answers; fails when no
# number is free or the server does not answer within 10 s.
start_xvfb() {
    local first=$1 last=$2 log=${3:-/dev/null} n
    xvfb_pid=""
    for n in $(seq "$first" "$last"); do
        [[ -e /tmp/.X11-unix/X$n || -e /tmp/.X$n-lock ]] && continue
        Xvfb ":$n" -screen 0 1920x1080x24 -nolisten tcp >"$log" 2>&1 &
        xvfb_pid=$!
        export DISPLAY=":$n"
        break
    done
    if [[ -z "$xvfb_pid" ]]; then
        echo "no free X display number between :$first and :$last" >&2
        return 1
    fi
    for _ in $(seq 100); do
        xdpyinfo -display "$DISPLAY" >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "Xvfb $DISPLAY does not answer (xdpyinfo)" >&2
    return 1
}
