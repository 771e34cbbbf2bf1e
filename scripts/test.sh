#!/usr/bin/env bash
# The project's test command: installs what is missing, builds the 32-bit product, the native
# sanitizer build, the 64-bit and the 32-bit test builds, and runs every test: the Windows ones under
# wine64, then again, built for i686, under the emulated 32-bit Wine.
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)

scripts/install-deps.sh || exit 1

# The emulated 32-bit Wine's root (scripts/wine32-setup.sh) takes minutes on a fresh machine, mostly
# network and disk: it is prepared in the background while the builds compile, and the 32-bit tests
# wait for it. It yields the processor to them.
mkdir -p build
nice -n 10 scripts/wine32-setup.sh "$root" >build/wine32-setup.log 2>&1 &
wine32_setup_pid=$!

failed=()
# The processor's busy and total time so far, in ticks of all cores (/proc/stat).
cpu_ticks() {
    local _ user nice system idle iowait irq softirq steal
    read -r _ user nice system idle iowait irq softirq steal _ </proc/stat
    echo "$((user + nice + system + irq + softirq + steal)) $((user + nice + system + idle + iowait + irq + softirq + steal))"
}
# Each step says when it starts; a long one says how long it took and how busy it kept the
# processor (all cores), which shows where work could still run beside it.
step() {  # name command...
    local name=$1 start=$SECONDS busy0 total0 busy1 total1 status=0
    shift
    echo "=== $name (at ${SECONDS} s)"
    read -r busy0 total0 < <(cpu_ticks)
    "$@" || status=$?
    read -r busy1 total1 < <(cpu_ticks)
    if ((SECONDS - start >= 20 && total1 > total0)); then
        echo "--- $((SECONDS - start)) s, the processor $((100 * (busy1 - busy0) / (total1 - total0))) % busy"
    fi
    if ((status != 0)); then
        failed+=("$name")
        return 1
    fi
}

# Windows programs with windows need an X display; the wineserver takes the screen size at its start.
source scripts/xvfb.sh
if [[ -z "${DISPLAY:-}" ]]; then
    start_xvfb 90 120
fi

cleanup() {
    [[ -n "${publisher_pid:-}" ]] && kill "$publisher_pid" 2>/dev/null
    [[ -n "${win32_build_pid:-}" ]] && kill -- "-$win32_build_pid" 2>/dev/null
    scripts/test-environment.sh stop "$root/build/win64-test" >/dev/null 2>&1 || true
    [[ -n "${wine32_setup_pid:-}" ]] && kill "$wine32_setup_pid" 2>/dev/null
    scripts/test-environment.sh stop "$root/build/win32-test" >/dev/null 2>&1 || true
    scripts/wine32-stop.sh "$root" >/dev/null 2>&1 || true
    [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null
}
trap cleanup EXIT

# The display must answer before any test draws on it: a server that failed to start (or a stale
# DISPLAY) would otherwise show up as window tests failing for no visible reason.
display_up=0
for _ in $(seq 100); do
    if xdpyinfo -display "${DISPLAY:-}" >/dev/null 2>&1; then
        display_up=1
        break
    fi
    sleep 0.1
done
if ((display_up == 0)); then
    echo "the X display ${DISPLAY:-(none)} does not answer (xdpyinfo); the window tests cannot run" >&2
    exit 1
fi

# A wineserver left from an earlier run may hold another display: start this run with a fresh one.
scripts/test-environment.sh stop "$root/build/win64-test" >/dev/null 2>&1 || true

# The publisher's tests need nothing built and keep the processor less than half busy: they run
# beside the 32-bit product's build, their output kept for their step.
timeout 600 python3 -m unittest discover -s tests/publish -t tests/publish >build/publisher-tests.log 2>&1 &
publisher_pid=$!
publisher_done() {
    wait "$publisher_pid"
    local status=$?
    publisher_pid=""
    cat build/publisher-tests.log
    return "$status"
}

step "emulated 32-bit Wine: stopping and removing its root never reach through a mount" \
    timeout 300 python3 tests/scripts/wine32_root_test.py

step "32-bit product: configure" cmake --preset win32 >/dev/null &&
    step "32-bit product: build (warnings are errors)" cmake --build --preset win32 && {
    step "32-bit product: imports and include layers" scripts/check-imports.sh build/win32/VarnholdLauncher.exe
    step "32-bit product: pictures and icon" scripts/check-art.sh build/win32
    step "32-bit product: application manifest" scripts/check-manifest.py build/win32/VarnholdLauncher.exe
    step "32-bit product: rebuilt elsewhere by the release script, byte for byte; signed and verified" \
        scripts/check-release.sh
}
step "publisher: unit tests, beside the 32-bit product's build" publisher_done

step "host: configure" cmake --preset host >/dev/null &&
    step "host: build" cmake --build --preset host &&
    step "host: tests under sanitizers" ctest --preset host

step "fuzz targets: configure" cmake --preset fuzz >/dev/null &&
    step "fuzz targets: build" cmake --build --preset fuzz &&
    step "fuzz targets: smoke runs" ctest --preset fuzz

# What ctest and the demo need; the benchmarks are built (warnings as errors) by the 32-bit product.
x86_built=0
step "64-bit tests: configure" cmake --preset win64-test >/dev/null &&
    step "64-bit tests: build" cmake --build --preset win64-test --target test_programs && x86_built=1

# The product itself: the same tests built for i686, run under the emulated 32-bit Wine. Its build
# runs beside the demo's check and the 64-bit tests, which keep the processor only about half busy
# (they wait on servers, processes and windows); at the lowest priority it takes what they leave.
# Its own session, so that the clean-up can end ninja and the compilers with it. A new session is
# a scheduling group of its own where the kernel groups by session (autogroup): such groups share
# the processor as equals whatever the nice value of their processes, so the group itself is set
# to the lowest priority too.
win32_build_pid=""
if step "32-bit tests: configure" cmake --preset win32-test >/dev/null; then
    setsid bash -c '{ echo 19 >/proc/self/autogroup; } 2>/dev/null
        exec nice -n 19 cmake --build --preset win32-test --target test_programs' >build/win32-test-build.log 2>&1 &
    win32_build_pid=$!
fi

# The demo as a person sees it: nginx serving a published release, the window updating a game folder
# on a screen of its own, then finding it current. It waits on its servers and its window most of the
# time, so it goes first, beside the 32-bit build; the 32-bit launcher's run comes after the 32-bit
# tests. It restarts the 64-bit build's Wine server, which the 64-bit tests then start afresh.
((x86_built)) &&
    step "demo: nginx, one update through the window, the second run" timeout 900 scripts/demo-check.sh x86_64
((x86_built)) &&
    step "64-bit tests: the product's application manifest" \
        scripts/check-manifest.py build/win32/VarnholdLauncher.exe build/win64-test/VarnholdLauncher.exe &&
    step "64-bit tests: under wine64" ctest --preset win64-test
scripts/test-environment.sh stop "$root/build/win64-test" >/dev/null 2>&1

win32_built() {
    wait "$win32_build_pid"
    local status=$?
    win32_build_pid=""
    cat build/win32-test-build.log
    return "$status"
}
wine32_ready() {
    wait "$wine32_setup_pid"
    local status=$?
    wine32_setup_pid=""
    tail -n 5 build/wine32-setup.log | sed 's/^/    /'
    # As for the 64-bit tests: a server left from an earlier run may hold another display.
    ((status == 0)) && scripts/test-environment.sh stop "$root/build/win32-test" >/dev/null 2>&1
    return "$status"
}
[[ -n "$win32_build_pid" ]] &&
    step "32-bit tests: build, beside the 64-bit tests (warnings are errors)" win32_built &&
    step "32-bit tests: the emulated 32-bit Wine (log: build/wine32-setup.log)" wine32_ready &&
    step "32-bit tests: under the emulated 32-bit Wine" ctest --preset win32-test
scripts/test-environment.sh stop "$root/build/win32-test" >/dev/null 2>&1

step "demo: the 32-bit launcher's update through the window" timeout 900 scripts/demo-check.sh i686
step "try-release: the demo's served tree taken by a launcher of its values" timeout 900 scripts/try-release-check.sh

echo "=== all steps done in ${SECONDS} s"
if ((${#failed[@]})); then
    printf 'FAILED: %s\n' "${failed[@]}" >&2
    exit 1
fi
