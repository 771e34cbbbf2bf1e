#!/usr/bin/env bash
# The launcher on a demo setup served the way a mod team serves it: a signed release built with
# tools/publish/publish.py and uploaded with its upload command (rclone, to a WebDAV server on
# loopback) into build/demo/www, nginx serving that as the fallback update server on
# https://localhost:8444 (the primary, https://localhost:8443, refuses connections), and the rating
# service with the pages the window links to on https://localhost:8445. These are the addresses
# compiled into the win64-test build, whose launcher the demo runs under wine64.
#
# usage: scripts/demo.sh [--reset] [--language en|ru] [--screenshots | --headless] [--docs] [--i686]
#   (no mode)        the launcher's window on $DISPLAY: it checks for updates at once; click play,
#                    verify (gear menu), the language button... The demo ends when the window closes.
#                    Without $DISPLAY this is --screenshots.
#   --screenshots    the window on a virtual screen of its own (Xvfb 1920x1080): it performs its
#                    update run by itself; screenshots before, during and after the update are saved
#                    under build/demo/screenshots/
#   --headless       the update run by the headless update tool, printing its progress
#   --reset          start over: a new demo release and a game folder that needs updating
#   --language L     the interface language, en (default) or ru
#   --docs           with --screenshots: also write the small copies that the README shows (docs/)
#   --i686           the 32-bit launcher of the win32-test build (the same addresses) under the
#                    emulated 32-bit Wine (scripts/wine32-setup.sh, as root), in build/demo-i686
# The demo folder (build/demo) is kept between runs: the first run updates the game folder, the
# next one finds it current ("Latest version already installed!"). Regenerate the README pictures:
#   scripts/demo.sh --reset --screenshots --docs && scripts/demo.sh --screenshots --docs
# The window modes restart the Wine server of build/win64-test (it holds the screen it started
# on): do not run them while the win64-test tests run.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
preset=win64-test
demo="$root/build/demo"

# limit_rate of nginx: the demo release's changes take several seconds to arrive.
readonly demo_rate=${DEMO_RATE:-160k} descriptor_rate=${DEMO_DESCRIPTOR_RATE:-120}

reset=0
language=en
mode=window
docs=0
while (($#)); do
    case "$1" in
        --reset) reset=1 ;;
        --language)
            [[ $# -ge 2 && ("$2" == en || "$2" == ru) ]] || { echo "--language takes en or ru" >&2; exit 2; }
            language=$2
            shift ;;
        --headless) mode=headless ;;
        --screenshots) mode=screenshots ;;
        --docs) docs=1 ;;
        --i686) preset=win32-test demo="$root/build/demo-i686" ;;
        -h | --help) sed -n '2,27p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "unknown option: $1 (see --help)" >&2; exit 2 ;;
    esac
    shift
done
[[ "$mode" == window && -z "${DISPLAY:-}" ]] && mode=screenshots
build="$root/build/$preset"
if ((docs)) && [[ "$mode" != screenshots ]]; then
    echo "--docs needs --screenshots" >&2
    exit 2
fi

say() { printf '\n=== %s\n' "$*"; }
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }
rel() { echo "${1#"$root"/}"; }

say "Installing what is missing"
scripts/install-deps.sh
[[ "$preset" == win32-test ]] && scripts/wine32-setup.sh

say "Building the launcher and the update tool ($preset preset; log: $(rel "$demo")/build.log)"
mkdir -p "$demo"
if ! { cmake --preset "$preset" && cmake --build --preset "$preset" --target VarnholdLauncher update_tool \
    add_root_cert stand_in_game; } >"$demo/build.log" 2>&1; then
    tail -n 40 "$demo/build.log"
    exit 1
fi

# The addresses compiled into this launcher: the demo serves them on this machine.
deployment="$build/generated/deployment_values.h"
ports_text=$(python3 scripts/demo_data.py ports "$deployment") || exit 1
eval "$ports_text"  # primary_port fallback_port rating_port

source scripts/wine-env.sh
wine_env_exports "$build"
wineserver_running() {
    local pid
    for pid in $(pgrep -x wineserver64 || true; pgrep -x wineserver || true); do
        { tr '\0' '\n' <"/proc/$pid/environ"; } 2>/dev/null | grep -qxF "WINEPREFIX=$WINEPREFIX" && return 0
    done
    return 1
}

nginx_pid="" rating_pid="" xvfb_pid="" launcher_pid="" webdav_pid="" stop_wineserver=0
cleanup() {
    if [[ -n "$launcher_pid" ]] && kill -0 "$launcher_pid" 2>/dev/null; then
        "${WINE_RUN[@]}" "$WINE" taskkill /im VarnholdLauncher.exe >>"$demo/launcher.log" 2>&1 || true
        for _ in $(seq 50); do kill -0 "$launcher_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$launcher_pid" 2>/dev/null || true
    fi
    if [[ -n "$nginx_pid" ]]; then
        kill -QUIT "$nginx_pid" 2>/dev/null || true  # graceful: open transfers finish
        for _ in $(seq 50); do kill -0 "$nginx_pid" 2>/dev/null || break; sleep 0.1; done
        kill -TERM "$nginx_pid" 2>/dev/null || true
    fi
    [[ -n "$webdav_pid" ]] && kill "$webdav_pid" 2>/dev/null
    if [[ -n "$rating_pid" ]]; then
        touch "$demo/control/stop"
        for _ in $(seq 50); do kill -0 "$rating_pid" 2>/dev/null || break; sleep 0.1; done
        kill "$rating_pid" 2>/dev/null || true
    fi
    if ((stop_wineserver)); then
        "${WINE_RUN[@]}" wineserver -k >/dev/null 2>&1 || true
    fi
    [[ -n "$xvfb_pid" ]] && kill "$xvfb_pid" 2>/dev/null
    return 0
}
trap cleanup EXIT
# Interrupted (Ctrl-C, a time limit): the servers and the screen still go.
trap 'exit 130' INT
trap 'exit 143' TERM

# --- the screen -----------------------------------------------------------------------------------
if [[ "$mode" == screenshots ]]; then
    say "Starting a virtual screen (Xvfb 1920x1080)"
    source scripts/xvfb.sh
    start_xvfb 60 89 "$demo/xvfb.log" || { cat "$demo/xvfb.log"; exit 1; }
    echo "virtual screen $DISPLAY"
fi
if [[ "$mode" != headless ]]; then
    # The Wine server takes the screen it was started on: one from elsewhere (a test run on another
    # display) is replaced by one on this screen, which ends with the demo.
    if wineserver_running; then
        echo "restarting the Wine server of build/$preset on $DISPLAY"
        "${WINE_RUN[@]}" wineserver -k >/dev/null 2>&1 || true
        for _ in $(seq 100); do wineserver_running || break; sleep 0.1; done
    fi
    stop_wineserver=1
elif ! wineserver_running; then
    stop_wineserver=1
fi

say "Preparing the Wine prefix and the test certificates (log: $(rel "$demo")/environment.log)"
if ! scripts/test-environment.sh setup "$build" >"$demo/environment.log" 2>&1; then
    cat "$demo/environment.log"
    exit 1
fi
tls="$build/test-run/tls/trusted"

# --- the release, the game folder, the launcher folder --------------------------------------------
# The release is built in build/demo/publish and uploaded as a mod team uploads it to a host that
# rclone reaches: here rclone's own WebDAV server, whose folder build/demo/www nginx then serves.
upload_release() {
    local log="$demo/webdav.log" port="" status=0
    mkdir -p "$demo/www"
    rm -f "$log"
    rclone serve webdav "$demo/www" --addr 127.0.0.1:0 --log-file "$log" --log-level INFO </dev/null &
    webdav_pid=$!
    for _ in $(seq 100); do
        port=$(sed -n 's|.*started on http://127\.0\.0\.1:\([0-9]*\)/.*|\1|p' "$log" 2>/dev/null || true)
        [[ -n "$port" ]] || ! kill -0 "$webdav_pid" 2>/dev/null && break
        sleep 0.1
    done
    [[ -n "$port" ]] || { echo "rclone serve webdav did not start:"; cat "$log"; exit 1; }
    RCLONE_CONFIG_DEMOWEBDAV_TYPE=webdav RCLONE_CONFIG_DEMOWEBDAV_URL="http://127.0.0.1:$port/" \
        python3 tools/publish/publish.py upload --folder "$demo/publish/patch/lurra" \
        --remote demowebdav:patch/lurra --public-key "$build/keys/update_signing_public.pem" \
        >"$demo/upload.log" 2>&1 || status=$?
    kill "$webdav_pid" 2>/dev/null
    wait "$webdav_pid" 2>/dev/null || true
    webdav_pid=""
    if ((status)); then
        cat "$demo/upload.log"
        exit 1
    fi
    tail -n 1 "$demo/upload.log"
}

site_url="https://localhost:$rating_port"
if ((reset)) || [[ ! -f "$demo/www/patch/lurra/latest.txt" || ! -d "$demo/game" ]]; then
    say "Publishing the demo release 1.44 and creating a demo game folder that needs updating"
    rm -rf "$demo/release" "$demo/publish" "$demo/www" "$demo/game" "$demo/screenshots"
    python3 scripts/demo_data.py release "$demo/release" "$site_url"
    python3 tools/publish/publish.py build --private-key "$build/keys/update_signing_private.pem" \
        --out "$demo/publish/patch/lurra" --version 144 --display-version "1.44 demo" \
        --source "$demo/release/files" --news-v2 "$demo/release/news_v2.txt" --bundle-max-size 16384 \
        >"$demo/release.log"
    say "Uploading it with rclone to a WebDAV server on loopback that writes $(rel "$demo")/www (log: $(rel "$demo")/upload.log)"
    upload_release
    python3 scripts/demo_data.py game "$demo/release/files" "$demo/game" \
        --exe "$build/test-helpers/stand_in_game.exe"
else
    say "Reusing the demo release and game folder (--reset starts over)"
fi
rm -f "$demo/game/stand_in_game.log"

mkdir -p "$demo/launcher"
cp "$build/VarnholdLauncher.exe" "$demo/launcher/VarnholdLauncher.exe"
rm -f "$demo/launcher/launcher_error.log"
# The first branch plays from the demo game folder; the second has none yet (its play button asks
# for one). Written at every start, so --language always applies.
printf '# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=%s\nktvx=\n[ui]\nlanguage=%s\n' \
    "$(winpath "$demo/game")" "$language" >"$demo/launcher/launcher.ini"

# --- the servers ----------------------------------------------------------------------------------
port_listening() {  # port: whether anything accepts connections on it
    python3 - "$1" <<'EOF'
import socket, sys
try:
    socket.create_connection(("127.0.0.1", int(sys.argv[1])), timeout=1).close()
except OSError:
    sys.exit(1)
EOF
}
port_holder() {
    if command -v ss >/dev/null; then
        ss -Hltnp "sport = :$1" 2>/dev/null | sed -n 's/.*users:((\(.*\)))/\1/p' | head -n 1
    fi
}
# The headless tool fetches no rating: it needs only the update servers' ports.
ports=($primary_port $fallback_port)
[[ "$mode" == headless ]] || ports+=($rating_port)
for port in "${ports[@]}"; do
    # A test server of a test run that is just ending gets a moment to go.
    for _ in $(seq 30); do port_listening "$port" || break; sleep 1; done
    if port_listening "$port"; then
        echo "port $port is taken ($(port_holder "$port")); the demo needs ${ports[*]} free." >&2
        exit 1
    fi
done

say "Starting nginx: the fallback update server on https://localhost:$fallback_port"
nginx_dir="$demo/nginx"
rm -rf "$nginx_dir"
mkdir -p "$nginx_dir/run/tmp" "$nginx_dir/tls"
# nginx reads its own copy of the certificate and key, owned by the user it runs as.
cp "$tls/server.pem" "$tls/server.key" "$nginx_dir/tls/"
chmod 600 "$nginx_dir/tls/server.key"
sed -e "s|@RUN@|$nginx_dir/run|g" -e "s|@TLS@|$nginx_dir/tls|g" -e "s|@WWW@|$demo/www|g" \
    -e "s|@PORT@|$fallback_port|g" -e "s|@RATE@|$demo_rate|g" -e "s|@DESCRIPTOR_RATE@|$descriptor_rate|g" \
    scripts/demo-nginx.conf.in \
    >"$nginx_dir/nginx.conf"
chmod -R a+rX "$demo/www"
# Run as root, the whole of nginx (master included) runs as nobody: it only needs to read the tree
# and listen on a port above 1024, so nothing of it keeps root's rights. When nobody cannot reach
# the tree (a checkout inside a private home folder), it runs as the calling user.
as_user=()
if [[ $(id -u) -eq 0 ]] && id nobody >/dev/null 2>&1 && command -v setpriv >/dev/null; then
    chown -R nobody "$nginx_dir/run" "$nginx_dir/tls"
    run_as_nobody=(setpriv --reuid=nobody --regid="$(id -g nobody)" --clear-groups --no-new-privs)
    if "${run_as_nobody[@]}" test -r "$demo/www/patch/lurra/latest.txt" -a -r "$nginx_dir/nginx.conf"; then
        as_user=("${run_as_nobody[@]}")
    else
        chown -R root "$nginx_dir/run" "$nginx_dir/tls"
        echo "nobody cannot read $(rel "$demo/www") (a folder on its way is private): nginx runs as root"
    fi
fi
"${as_user[@]}" nginx -p "$nginx_dir" -e "$nginx_dir/run/error.log" -c "$nginx_dir/nginx.conf" \
    </dev/null >"$nginx_dir/run/stdout.log" 2>&1 &
nginx_pid=$!
for _ in $(seq 100); do
    port_listening "$fallback_port" && break
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
done
if ! port_listening "$fallback_port"; then
    echo "nginx did not start:"
    cat "$nginx_dir/run/stdout.log" "$nginx_dir/run/error.log" 2>/dev/null
    exit 1
fi
# Who the master and its worker really run as.
nginx_user=$(ps -o user= -p "$nginx_pid" --ppid "$nginx_pid" | sort -u | paste -sd,)
echo "nginx (pid $nginx_pid, user $nginx_user) serves $(rel "$demo/www") at limit_rate $demo_rate;" \
    "log: $(rel "$nginx_dir/run/access.log")"
echo "primary  https://localhost:$primary_port/patch  (nothing listens: connections are refused)"
echo "fallback https://localhost:$fallback_port/patch  (nginx: release 1.44 on /lurra)"

start_rating_service() {
    say "Starting the rating service and the web pages on $site_url"
    rm -rf "$demo/control" "$demo/rating.log"
    mkdir -p "$demo/control"
    # The rating page, the client pages and the news links of this build's addresses.
    rm -rf "$demo/site"
    python3 scripts/demo_data.py site "$demo/site" "$deployment" "$demo/control/rules.json"
    python3 tests/server/update_server.py --root "$demo/site" --control "$demo/control" --log "$demo/rating.log" \
        --ports-file "$demo/control/ports.json" --tls-dir "$build/test-run/tls" --listen "https:$rating_port" \
        --rating builtin --idle-exit 0 --watch-pid $$ </dev/null >"$demo/rating.stdout.log" 2>&1 &
    rating_pid=$!
    for _ in $(seq 100); do
        [[ -s "$demo/control/ports.json" ]] && break
        kill -0 "$rating_pid" 2>/dev/null || break
        sleep 0.1
    done
    [[ -s "$demo/control/ports.json" ]] || { echo "the rating service did not start:"; cat "$demo/rating.stdout.log"; exit 1; }
    echo "rating $site_url/v1/top?diff=0..3 and the pages the window links to"
}
[[ "$mode" == headless ]] || start_rating_service

# --- the run --------------------------------------------------------------------------------------
installed() { cat "$demo/game/VarnholdLauncher.ini" 2>/dev/null || echo none; }
marker="$demo/game/VarnholdChannel.ini"
mtime() { stat -c %Y.%y "$1" 2>/dev/null || echo none; }

if [[ "$mode" == headless ]]; then
    say "Update run of $(rel "$demo")/game by the headless update tool"
    set +e
    "${WINE_RUN[@]}" "$WINE" "$build/update_tool.exe" --folder "$(winpath "$demo/game")" \
        --server "https://localhost:$primary_port/patch" --server "https://localhost:$fallback_port/patch" \
        --branch /lurra --key "$(winpath "$build/keys/update_signing_public.pem")" --language "$language" \
        --answer no --progress-ms 100
    status=$?
    set -e
    echo
    if ((status == 0)); then
        echo "The demo run ended in success. A next scripts/demo.sh --headless finds the folder current;" \
            "--reset starts over."
    else
        echo "The demo run did not end in success (exit code $status); see $(rel "$nginx_dir/run/access.log")."
    fi
    exit "$status"
fi

start_launcher() {
    (cd "$demo/launcher" && exec "${WINE_RUN[@]}" "$WINE" VarnholdLauncher.exe) </dev/null >"$demo/launcher.log" 2>&1 &
    launcher_pid=$!
}
launcher_outcome() {
    echo "installed version in $(rel "$demo")/game: $(installed)"
    [[ -f "$demo/launcher/launcher_error.log" ]] &&
        echo "launcher_error.log: $(cat "$demo/launcher/launcher_error.log")"
    [[ -f "$demo/game/stand_in_game.log" ]] &&
        echo "PLAY started the game (a stand-in that only notes its start: $(rel "$demo")/game/stand_in_game.log)"
    return 0
}

if [[ "$mode" == window ]]; then
    say "The launcher window on $DISPLAY (installed version $(installed))"
    echo "It checks for updates at once. Try PLAY, the gear menu (verify, folders), the language button,"
    echo "the news cards and the rating tabs. Close the window to end the demo."
    start_launcher
    wait "$launcher_pid" || true
    launcher_pid=""
    say "The window was closed"
    # PLAY closes the launcher as it starts the game, which notes its start a moment later.
    for _ in $(seq 20); do [[ -f "$demo/game/stand_in_game.log" ]] && break; sleep 0.1; done
    launcher_outcome
    exit 0
fi

# --screenshots: the launcher performs its update run by itself; the demo watches the game folder
# and the server's log and photographs the window at three moments.
shots="$demo/screenshots"
mkdir -p "$shots"
rm -f "$shots"/*.png "$shots"/*.txt
window_id() { xdotool search --onlyvisible --name 'Tharnveil' 2>/dev/null | head -n 1 || true; }
shoot() {  # name: the launcher window as it is now, cropped from the screen
    local id WINDOW X Y WIDTH HEIGHT SCREEN
    id=$(window_id)
    [[ -n "$id" ]] || { echo "no launcher window to photograph ($1)"; return 1; }
    eval "$(xdotool getwindowgeometry --shell "$id")"
    import -display "$DISPLAY" -window root -depth 8 "$shots/screen.png"
    convert "$shots/screen.png" -crop "${WIDTH}x${HEIGHT}+${X}+${Y}" +repage "$shots/$1.png"
    rm -f "$shots/screen.png"
    echo "$1: $(rel "$shots/$1.png") (${WIDTH}x${HEIGHT})"
}
wait_for() {  # seconds condition...: polls every 0.1 s; false at the deadline or when the launcher ended
    local deadline=$((SECONDS + $1))
    shift
    until "$@"; do
        ((SECONDS < deadline)) && kill -0 "$launcher_pid" 2>/dev/null || return 1
        sleep 0.1
    done
}
window_shown() { [[ -n "$(window_id)" ]]; }
downloading() { compgen -G "$demo/game/_smallpack*" >/dev/null || [[ -n "$(find "$demo/game" -name '*.gz' -print -quit)" ]]; }
marker_before=$(mtime "$marker")
run_over() { [[ "$(mtime "$marker")" != "$marker_before" ]]; }
downloading_or_over() { downloading || run_over; }
launcher_failed() {  # what a launcher that ended early, or never showed its window, left behind
    local status=0
    if ! kill -0 "$launcher_pid" 2>/dev/null; then
        wait "$launcher_pid" || status=$?
        launcher_pid=""
        echo "the launcher ended by itself (exit code $status)"
    fi
    echo "its output ($(rel "$demo/launcher.log")):"
    tail -n 20 "$demo/launcher.log"
    launcher_outcome
}

say "The launcher on $DISPLAY performs its update run (installed version $(installed))"
start_launcher
if ! wait_for 60 window_shown; then
    echo "the launcher window did not appear"
    launcher_failed
    exit 1
fi
sleep 0.5  # the first frame
shoot before
# A run that finds the folder current downloads nothing.
wait_for 60 downloading_or_over || true
if downloading; then
    sleep 1.5
    shoot during
fi
# The install marker is written when the branch's run has ended in success.
if wait_for 120 run_over; then
    outcome=0
    sleep 1.5  # the next frames show the result
else
    outcome=1
    echo "the update run did not end in success within two minutes"
fi
if ! kill -0 "$launcher_pid" 2>/dev/null; then
    launcher_failed
    exit 1
fi
shoot after
launcher_outcome

if ((docs)); then
    kind=update
    [[ -f "$shots/during.png" ]] || kind=current
    mkdir -p docs
    for shot in "$shots"/*.png; do
        name=$(basename "$shot" .png)
        [[ "$kind" == current && "$name" != after ]] && continue
        convert "$shot" -resize 50% -strip -colors 256 "PNG8:docs/demo-$kind-$name.png"
        echo "README copy: docs/demo-$kind-$name.png"
    done
fi
exit "$outcome"
