#!/usr/bin/env bash
# Window benchmarks under wine64 and an Xvfb display, each against a floor measured in the same run:
#   start-up  process start to the window being visible, against a plain popup window of the same
#             size (window_bench.exe against window_floor.exe plain); goal at most 2 times; and
#             that window again after loading the launcher's libraries and starting COM and GDI+
#             (window_floor.exe platform), the share of a start that is not the launcher's own;
#   idle      CPU time of the launcher sitting idle for 30 s after its check has ended, as a share
#             of one core, against window_floor.exe waiting in the same timer-driven loop (a fresh
#             16 ms thread timer per wait); both the program's own time and the wineserver's, which
#             delivers the timers, from /proc; goal at most 1.5 times the floor and under 2 %;
#   steps     the time of each step of the launcher's start-up, from a copy built with step timers
#             (launcher_timed.exe; the product has none);
#   pictures  the background's scaling step alone and the decoding of every picture, against how
#             both were done before (picture_bench.exe);
#   frame     one full frame, a progress-bar update and an idle tick against a bare blit of the
#             back buffer (frame_bench.exe); an idle tick must leave nothing to repaint.
# The launchers run as the product ships, without symbols and debug information (the product's link
# leaves them out; this test build keeps them for the tests), and the executables' sizes are printed.
# usage: bench/window_bench.sh [BUILD_DIR]      (default build/win64-test, configured)
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/win64-test}
[[ "$build" = /* ]] || build=$root/$build
work=$build/bench-window
cmake --build "$build" --target VarnholdLauncher bench_launcher_timed bench_window_bench bench_window_floor \
    bench_frame_bench bench_picture_bench >/dev/null

if [[ -z "${DISPLAY:-}" ]]; then
    source scripts/xvfb.sh
    start_xvfb 90 120
    # The wineserver takes the screen at its start.
    scripts/test-environment.sh stop "$build" >/dev/null 2>&1 || true
    trap '[[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid"; scripts/test-environment.sh stop "$build" >/dev/null 2>&1 || true' EXIT
fi
source scripts/wine-env.sh
wine_env_prepare "$build"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

rm -rf "$work"
mkdir -p "$work/empty"
cp "$build/VarnholdLauncher.exe" "$build/bench/launcher_timed.exe" "$build/bench/window_floor.exe" "$work/"
x86_64-w64-mingw32-strip "$work/VarnholdLauncher.exe" "$work/launcher_timed.exe"
product="$root/build/win32/VarnholdLauncher.exe"
if [[ -f "$product" ]]; then
    product_size="$(stat -c %s "$product") bytes (build/win32)"
else
    product_size="not built (cmake --preset win32 && cmake --build --preset win32)"
fi
echo "executable size: the 32-bit product $product_size; the 64-bit launcher measured here $(stat -c %s "$work/VarnholdLauncher.exe") bytes"
printf '# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=%s\nktvx=\n[ui]\nlanguage=en\n' \
    "$(winpath "$work/empty")" >"$work/launcher.ini"
"$WINE" "$build/bench/window_bench.exe" "$(winpath "$work")" >"$work/window.log" 2>&1 || { cat "$work/window.log"; exit 1; }
cat "$work/window.log"

# The reference of the scaling's quality: the background drawn from its source at the size of a
# 1080-line screen's window, made opaque as the build makes it.
rsvg-convert -w 960 -h 540 -o "$work/background-540.part.png" "$build/art/svg/background.svg"
convert "$work/background-540.part.png" -background black -alpha remove -alpha off PNG24:"$work/background-540.png"
"$WINE" "$build/bench/picture_bench.exe" "$(winpath "$build/art")" 15 "$(winpath "$work/background-540.png")" \
    >"$work/picture.log" 2>&1 || { cat "$work/picture.log"; exit 1; }
cat "$work/picture.log"

# Clock ticks of user and system time of a Linux process.
cpu_ticks() { awk '{ print $14 + $15 }' "/proc/$1/stat"; }
# The wineserver of this build's prefix (other prefixes on the machine have their own).
prefix_server() {
    local pid
    for pid in $(pgrep -f '^/usr/lib/wine/wineserver|wineserver64|^wineserver'); do
        if tr '\0' '\n' <"/proc/$pid/environ" 2>/dev/null | grep -qx "WINEPREFIX=$WINEPREFIX"; then
            echo "$pid"
            return
        fi
    done
}
idle_share() {  # label program args...
    local label=$1
    shift
    "$WINE" "$@" >"$work/idle-$label.log" 2>&1 &
    sleep 3  # start-up and, for the launcher, its check of a folder without a game
    local pid server hz=$(getconf CLK_TCK) seconds=30
    pid=$(pgrep -f -n "$(basename "$1")") || { echo "$label did not start" >&2; return 1; }
    server=$(prefix_server)
    local own0 srv0 own1 srv1
    own0=$(cpu_ticks "$pid"); srv0=$(cpu_ticks "$server")
    sleep "$seconds"
    own1=$(cpu_ticks "$pid"); srv1=$(cpu_ticks "$server")
    kill "$pid"
    wait 2>/dev/null || true
    echo "$label $(( own1 - own0 )) $(( srv1 - srv0 )) $(( hz * seconds ))"
}
launcher_idle=$(idle_share launcher "$work/VarnholdLauncher.exe")
floor_idle=$(idle_share floor "$work/window_floor.exe" timer)
python3 - "$launcher_idle" "$floor_idle" <<'PY'
import sys
launcher, floor = (line.split() for line in sys.argv[1:3])
def share(ticks, span): return 100.0 * int(ticks) / int(span)
lo, ls, lspan = launcher[1:]; fo, fs, fspan = floor[1:]
own_l, own_f = share(lo, lspan), share(fo, fspan)
all_l, all_f = share(int(lo) + int(ls), lspan), share(int(fo) + int(fs), fspan)
ratio = lambda a, b: a / b if b else float("inf")
print(f"idle for 30 s, share of one core: launcher {own_l:.2f} % (with the wineserver {all_l:.2f} %), "
      f"timer loop {own_f:.2f} % ({all_f:.2f} %); ratio {ratio(own_l, own_f):.2f} ({ratio(all_l, all_f):.2f}); "
      "goal at most 1.5 and under 2 %")
PY
"$WINE" "$build/bench/frame_bench.exe" >"$work/frame.log" 2>&1 || { cat "$work/frame.log"; exit 1; }
cat "$work/frame.log"
