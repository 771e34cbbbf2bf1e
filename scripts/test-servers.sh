# Sourced by the scripts that show the launcher against local test servers on the build's
# compiled-in ports: 8443 and 8444 the update servers, 8445 the rating service and the pages.
# start_test_servers WORK TLS_DIR IDLE_SECONDS
#   serves WORK/www, controlled through WORK/control, logging to WORK/server.log; the servers end
#   when the calling script does, or after IDLE_SECONDS without a request. Sets server_pid; returns
#   1, with the servers' output, when they did not start.
start_test_servers() {
    local work=$1 tls=$2 idle=$3
    python3 tests/server/update_server.py --root "$work/www" --control "$work/control" --log "$work/server.log" \
        --tls-dir "$tls" --listen https:8443 --listen https:8444 --listen https:8445 --rating builtin \
        --idle-exit "$idle" --watch-pid $$ </dev/null >"$work/server.stdout.log" 2>&1 &
    server_pid=$!
    for _ in $(seq 100); do
        grep -q "listen.*8445" "$work/server.log" 2>/dev/null && return 0
        sleep 0.1
    done
    echo "the test servers did not start:"
    cat "$work/server.stdout.log"
    return 1
}
