#!/usr/bin/env bash
# Update speed: the headless update tool (update_tool.exe under wine64) bringing an empty game
# folder up to a release served by the loopback HTTPS test server, against a reference built from
# standard tools on the same data in the same run:
#   (a) 1,000 small files (1-16 KiB, half random, half text), each fetched singly;
#   (b) the same 1,000 files through the small-files bundle;
#   (c) 20 large files (5-20 MiB, two in three random, one in three text).
# The reference fetches the same URLs the tool requests (the four signed texts and every
# files/<sha256>.gz of the manifest) with ONE curl over one keep-alive connection, checks the two
# signatures with openssl, the SHA-256 of every compressed copy with sha256sum and unpacks each copy
# with gzip -d into its place, writing the same files to the same disk. Each figure is the best of
# three wall-clock runs, each into a fresh folder; the tool's time includes the Wine process start,
# shown separately below the table, together with the update check of a folder that is already
# current (start, TLS handshake, descriptor) over HTTPS and plain HTTP.
#
# A third column, the Win32 floor, is bench/update_floor.exe: the reference's steps done with plain
# Win32 calls under wine64 (one WinHTTP connection, CreateFileW/WriteFile, BCrypt SHA-256, zlib,
# DeleteFileW), no launcher code. tool/floor is the launcher's own share; floor/reference is Wine's.
# For (b) the floor fetches, checks and unpacks the bundle and writes every record straight into its
# file, as an archiver extracts: what creating the files costs at the least; its share of (a) is the
# lowest (b)/(a) that the design could reach. The server log confirms that every run used one
# connection.
#
# Goals: (a) and (c) at most 1.5 times the reference, (a) at most 1.15 times its floor; (b) at most
# 0.25 of (a). (a) and (b) also run with the run log (the tool's --log, to a file) in turn with the
# plain runs: at most 1.02 times their time without it.
# usage: bench/update_bench.sh [BUILD_DIR]      (default build/win64-test, configured)
# Releases are generated once into build/bench-data/update (about 450 MB, kept). The run folders
# (about 2.2 GB) are kept until the end: deleting thousands of files between runs would make the
# file system slow down the next run's file creation (ext4 without a journal skips inodes freed in
# the last half minute, one by one), on whichever side came next.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build=${1:-$root/build/win64-test}
[[ "$build" = /* ]] || build=$root/$build
data=$root/build/bench-data/update
work=$build/bench-update
runs=3

for tool in curl sha256sum gzip openssl python3; do
    command -v "$tool" >/dev/null || { echo "missing $tool: run scripts/install-deps.sh" >&2; exit 1; }
done
[[ -f "$build/keys/update_signing_private.pem" ]] || { echo "configure $build first" >&2; exit 1; }
cmake --build "$build" --target update_tool add_root_cert bench_update_floor >/dev/null
private_key=$build/keys/update_signing_private.pem
public_key=$build/keys/update_signing_public.pem

source scripts/wine-env.sh
wine_env_exports "$build"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

server_pid=
cleanup() {
    if [[ -n "$server_pid" ]]; then
        touch "$work/control/stop"
        for _ in $(seq 50); do
            kill -0 "$server_pid" 2>/dev/null || break
            sleep 0.1
        done
        kill "$server_pid" 2>/dev/null || true
    fi
    rm -rf "$work/runs"
}
trap cleanup EXIT
rm -rf "$work"
mkdir -p "$work/runs" "$work/control" "$work/logs"

# --- data: generated once, again when the generator, the release builder or the key changes ---------
stamp=$(cat bench/update_bench_data.py tests/server/release_builder.py "$private_key" | sha256sum | cut -c1-64)
if [[ "$(cat "$data/stamp" 2>/dev/null)" != "$stamp" ]]; then
    echo "writing the releases (gzip level 9 of 250 MB: takes about half a minute)..."
    rm -rf "$data"
    mkdir -p "$data"
    python3 bench/update_bench_data.py small "$data/src/small"
    python3 bench/update_bench_data.py large "$data/src/large"
    publish() {  # branch source [options...]
        local branch=$1 source=$2
        shift 2
        python3 tests/server/release_builder.py build --key "$private_key" --out "$data/www/patch/$branch" \
            --clean --version 144 --source "$data/src/$source" "$@" >"$data/$branch.log"
    }
    publish small small
    publish bundle small --bundle
    publish large large
    echo "$stamp" >"$data/stamp"
fi

# --- the test CA trusted in the prefix, and the server --------------------------------------------
if ! scripts/test-environment.sh setup "$build" >"$work/logs/environment.log" 2>&1; then
    cat "$work/logs/environment.log"
    exit 1
fi
ca=$build/test-run/tls/trusted/ca.pem
server_log=$work/logs/server.log
python3 tests/server/update_server.py --root "$data/www" --control "$work/control" --log "$server_log" \
    --ports-file "$work/ports.json" --tls-dir "$build/test-run/tls" --listen https --listen http \
    --idle-exit 600 --watch-pid $$ </dev/null >"$work/logs/server.out" 2>&1 &
server_pid=$!
for _ in $(seq 200); do
    [[ -s "$work/ports.json" ]] && break
    sleep 0.05
done
read -r https_port http_port < <(python3 -c \
    'import json,sys; p=json.load(open(sys.argv[1])); print(p["https"][0], p["http"][0])' "$work/ports.json") ||
    { echo "the update server did not start:"; cat "$work/logs/server.out"; exit 1; }
declare -A port=([https]=$https_port [http]=$http_port)

# --- one timed run of each side ---------------------------------------------------------------------
# Every timed command writes to files only: a reader on a pipe would wait for Wine's background
# services. The elapsed seconds land in $seconds, the connections the server saw in $connections.
seconds=0
connections=0
log_mark=0
begin() { log_mark=$(wc -l <"$server_log"); start=$EPOCHREALTIME; }
finish() {
    local end=$EPOCHREALTIME
    seconds=$(awk -v s="$start" -v e="$end" 'BEGIN { printf "%.3f", e - s }')
    connections=$(tail -n +"$((log_mark + 1))" "$server_log" | grep -c '^connect ' || true)
}
check_folder() {  # folder source-name what
    if ! diff -rq -x VarnholdLauncher.ini -x launcher_unins.ini "$data/src/$2" "$1" >"$work/logs/diff.log" 2>&1; then
        echo "$3 left a folder that differs from the release:" >&2
        head -5 "$work/logs/diff.log" >&2
        exit 1
    fi
}

run_tool() {  # folder branch scheme [--log]
    local folder=$1 branch=$2 scheme=$3 out=$work/logs/tool.json
    begin
    "$WINE" "$build/update_tool.exe" --folder "$(winpath "$folder")" \
        --server "$scheme://localhost:${port[$scheme]}/patch" --branch "/$branch" --key "$(winpath "$public_key")" \
        --language en --progress-ms 0 --no-news --json ${4:-} >"$out" 2>"$work/logs/tool.err" || true
    finish
    grep -q '"state":7,' "$out" || { echo "the update tool failed:" >&2; cat "$out" "$work/logs/tool.err" >&2; exit 1; }
    tool_message=$(sed -n 's/.*"message":"\([^"]*\)".*/\1/p' "$out")
}

run_floor() {  # folder branch [--rename]
    local folder=$1 branch=$2 pack=${3:-}
    [[ $branch == bundle ]] && pack=$(sed -n 's/^pack=//p' "$data/www/patch/$branch/latest.txt" | tr -d '\r')
    mkdir -p "$folder"
    begin
    "$WINE" "$build/bench/update_floor.exe" "$(winpath "$folder")" "https://localhost:${port[https]}/patch/$branch" \
        144 "$(winpath "$data/www/patch/$branch/144/checksums.txt")" $pack >"$work/logs/floor.out" 2>&1 ||
        { cat "$work/logs/floor.out" >&2; exit 1; }
    finish
    floor_steps=$(tr -d '\r' <"$work/logs/floor.out" |
        sed -n 's/.*fetch_ms=\([0-9]*\) hash_ms=\([0-9]*\) unpack_ms=\([0-9]*\).*/WinHTTP to files \1 ms, BCrypt SHA-256 \2 ms, zlib unpack and delete \3 ms/p')
}

# What the reference needs before it starts: curl's list of URL/output pairs, the checksum list for
# sha256sum and the list of copies for gzip, all from the published manifest.
prepare_reference() {  # folder branch
    local folder=$1 branch=$2 base="https://localhost:${port[https]}/patch/$2"
    local manifest=$data/www/patch/$branch/144/checksums.txt
    mkdir -p "$folder.texts"
    {
        for text in latest.txt latest.sig 144/checksums.txt 144/checksums.sig; do
            printf 'url = "%s/%s"\noutput = "%s/%s"\n' "$base" "$text" "$folder.texts" "${text#144/}"
        done
        awk -F'\t' -v base="$base/144/files/" -v dir="$folder" \
            '{ printf "url = \"%s%s.gz\"\noutput = \"%s/%s.gz\"\n", base, $5, dir, $1 }' "$manifest"
    } >"$folder.curl"
    awk -F'\t' -v dir="$folder" '{ printf "%s  %s/%s.gz\n", $5, dir, $1 }' "$manifest" >"$folder.sha256"
    awk -F'\t' -v dir="$folder" '{ printf "%s/%s.gz%c", dir, $1, 0 }' "$manifest" >"$folder.gzlist"
}

run_reference() {  # folder
    local folder=$1 texts=$1.texts t0 t1 t2 t3
    begin
    curl --config "$folder.curl" --create-dirs --cacert "$ca" --resolve "localhost:${port[https]}:127.0.0.1" \
        --fail --fail-early --silent --show-error || { echo "reference: curl failed" >&2; exit 1; }
    t0=$EPOCHREALTIME
    for text in latest checksums; do
        openssl dgst -sha256 -verify "$public_key" -signature "$texts/$text.sig" "$texts/$text.txt" >/dev/null ||
            { echo "reference: the signature of $text.txt does not verify" >&2; exit 1; }
    done
    t1=$EPOCHREALTIME
    sha256sum --quiet --strict --check "$folder.sha256" || { echo "reference: sha256sum failed" >&2; exit 1; }
    t2=$EPOCHREALTIME
    xargs -0 gzip -d <"$folder.gzlist" || { echo "reference: gzip -d failed" >&2; exit 1; }
    t3=$EPOCHREALTIME
    finish
    reference_steps=$(awk -v s="$start" -v a="$t0" -v b="$t1" -v c="$t2" -v d="$t3" 'BEGIN {
        printf "curl %.0f ms, openssl %.0f ms, sha256sum %.0f ms, gzip -d %.0f ms", (a - s) * 1000, (b - a) * 1000,
            (c - b) * 1000, (d - c) * 1000 }')
}

declare -A best
keep_best() {  # key
    local key=$1
    if [[ -z "${best[$key]:-}" ]] || awk -v n="$seconds" -v b="${best[$key]}" 'BEGIN { exit !(n < b) }'; then
        best[$key]=$seconds
        best[$key.detail]=${2:-}
    fi
}
note_connections() {  # side
    local count=${best[$1.connections]:-$connections}
    ((connections > count)) && count=$connections
    best[$1.connections]=$count
}

# Sides take turns, so that a change of load on the machine falls on each of them alike.
measure() {  # case branch source [floor]
    local case=$1 branch=$2 source=$3 with_floor=${4:-}
    for n in $(seq "$runs"); do
        local folder=$work/runs/$case-tool-$n
        mkdir -p "$folder"
        run_tool "$folder" "$branch" https
        [[ "$tool_message" == "All files updated successfully!" ]] ||
            { echo "$case: unexpected message: $tool_message" >&2; exit 1; }
        keep_best "$case.tool"
        note_connections "$case.tool"
        check_folder "$folder" "$source" "the update tool"
        current_folder=$folder

        if [[ $case != c ]]; then
            folder=$work/runs/$case-tool-log-$n
            mkdir -p "$folder"
            run_tool "$folder" "$branch" https --log
            grep -q '\] update run ended: state 7 ' "$work/logs/tool.err" ||
                { echo "$case: the run log has no end line" >&2; exit 1; }
            keep_best "$case.tool.log"
            check_folder "$folder" "$source" "the update tool with the run log"
        fi

        if [[ -n "$with_floor" ]]; then
            folder=$work/runs/$case-floor-$n
            run_floor "$folder" "$branch"
            keep_best "$case.floor" "$floor_steps"
            note_connections "$case.floor"
            check_folder "$folder" "$source" "the Win32 floor"
            if [[ $case == a ]]; then
                folder=$work/runs/$case-floor-rename-$n
                run_floor "$folder" "$branch" --rename
                keep_best "$case.floor.rename" "$floor_steps"
                check_folder "$folder" "$source" "the Win32 floor with renames"
            fi
        fi

        if [[ $case != b ]]; then
            folder=$work/runs/$case-reference-$n
            prepare_reference "$folder" "$branch"
            run_reference "$folder"
            keep_best "$case.reference" "$reference_steps"
            note_connections "$case.reference"
            check_folder "$folder" "$source" "the reference"
        fi
    done
}

# The Wine process alone (the tool refuses a call without arguments), and an update check that
# finds the folder current: process start, TLS handshake, descriptor and its signature.
measure_overhead() {
    for n in $(seq "$runs"); do
        begin
        "$WINE" "$build/update_tool.exe" >"$work/logs/start.out" 2>&1 || true
        finish
        keep_best start
        for scheme in https http; do
            run_tool "$current_folder" small "$scheme"
            [[ "$tool_message" == "Latest version already installed!" ]] ||
                { echo "current folder: unexpected message: $tool_message" >&2; exit 1; }
            keep_best "current.$scheme"
        done
    done
}

echo "warming up (Wine, page cache)..."
"$WINE" "$build/update_tool.exe" >"$work/logs/start.out" 2>&1 || true
cat "$data"/www/patch/*/144/files/* >/dev/null

echo "measuring (best of $runs; sides take turns)..."
measure a small small floor
measure_overhead
measure b bundle small floor
measure c large large floor

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
verdict() { awk -v r="$1" -v g="$2" 'BEGIN { print (r <= g ? "met" : "MISSED") }'; }
best[b.reference]=${best[a.reference]}
large_mib=$(du -sm "$data/src/large" | cut -f1)

echo
echo "update: the headless update tool under wine64 against curl + openssl + sha256sum + gzip -d,"
echo "HTTPS on loopback; best of $runs wall-clock seconds, each run into an empty folder"
printf '%-34s %7s %10s %9s   %s\n' case tool reference tool/ref goal
for case in a b c; do
    case $case in
        a) label="(a) 1,000 small files, singly" ;;
        b) label="(b) 1,000 small files, bundle" ;;
        c) label="(c) 20 large files, $large_mib MiB" ;;
    esac
    r=$(ratio "${best[$case.tool]}" "${best[$case.reference]}")
    if [[ $case == b ]]; then
        rb=$(ratio "${best[b.tool]}" "${best[a.tool]}")
        goal="(b)/(a) $rb, at most 0.25: $(verdict "$rb" 0.25)"
    else
        goal="at most 1.50: $(verdict "$r" 1.50)"
    fi
    printf '%-34s %7s %10s %9s   %s\n' "$label" "${best[$case.tool]}" "${best[$case.reference]}" "$r" "$goal"
done
echo "(b) is measured against the reference of (a): the same 1,000 files, each fetched singly."
for case in a b; do
    r=$(ratio "${best[$case.tool.log]}" "${best[$case.tool]}")
    echo "($case) with the run log (--log): ${best[$case.tool.log]} s, $r of the run without it;" \
        "at most 1.02: $(verdict "$r" 1.02)."
done
echo
echo "Where the time goes. Win32 floor: the reference's steps in plain Win32 under wine64, no launcher"
echo "code; floor/ref is what Wine costs, tool/floor what the launcher adds (link checks, CRC-32 of the"
echo "unpacked copy, rename into place, local check)."
printf '%-34s %7s %10s %10s\n' case floor floor/ref tool/floor
for case in a b c; do
    printf '%-34s %7s %10s %10s\n' "($case)" "${best[$case.floor]}" \
        "$(ratio "${best[$case.floor]}" "${best[$case.reference]}")" "$(ratio "${best[$case.tool]}" "${best[$case.floor]}")"
    [[ $case == b ]] || echo "    reference: ${best[$case.reference.detail]}"
    echo "    floor:     ${best[$case.floor.detail]}"
done
echo "(a) with every file unpacked beside its target and renamed into place (MoveFileExW 9), as the"
echo "    launcher must: floor ${best[a.floor.rename]}, $(ratio "${best[a.floor.rename]}" "${best[a.floor]}") of the plain floor;" \
    "tool/that floor $(ratio "${best[a.tool]}" "${best[a.floor.rename]}")."
echo "(a) tool/floor at most 1.15: $(verdict "$(ratio "${best[a.tool]}" "${best[a.floor]}")" 1.15)." \
    "The (b) floor is $(ratio "${best[b.floor]}" "${best[a.tool]}") of the tool's (a): the least (b)/(a) without launcher code."
echo
echo "Start-up of the tool: the Wine process alone ${best[start]} s; an update check that finds the folder"
echo "current (start, TLS handshake, descriptor) ${best[current.https]} s over HTTPS, ${best[current.http]} s over plain HTTP."
for side in a.tool b.tool c.tool a.reference c.reference a.floor b.floor c.floor; do
    ((best[$side.connections] == 1)) || echo "WARNING: $side used ${best[$side.connections]} connections in one run"
done
echo "Connections per run in the server log: tool (a)/(b)/(c)" \
    "${best[a.tool.connections]}/${best[b.tool.connections]}/${best[c.tool.connections]}," \
    "reference (a)/(c) ${best[a.reference.connections]}/${best[c.reference.connections]}," \
    "floor (a)/(b)/(c) ${best[a.floor.connections]}/${best[b.floor.connections]}/${best[c.floor.connections]}."
