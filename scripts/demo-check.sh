#!/usr/bin/env bash
# The demo's own check (a step of scripts/test.sh): runs scripts/demo.sh on its virtual screen
# three times and checks what a person would see and what lands on disk.
#   1. from a fresh start: the release is uploaded with the publisher (rclone, to a WebDAV server on
#      loopback, objects first, latest.txt last), nginx serves what was uploaded, the window
#      performs one update, the status line reads "All files updated successfully!", every release
#      file is in the game folder;
#   2. again: nothing is downloaded and the status line reads "Latest version already installed!";
#   3. again with --language ru: the same in Russian;
#   4. the product itself: the 32-bit launcher (--i686, under the emulated 32-bit Wine) from a fresh
#      start performs the update, the status line reads "All files updated successfully!", every
#      release file is in its game folder.
# The status line is read off the screenshots by drawing the candidate texts the way the launcher
# draws them (tests/helpers/status_text_probe_win.cpp). Logs: build/demo/check/.
# usage: scripts/demo-check.sh [x86_64] [i686]     (default both: runs 1 to 3, run 4)
set -uo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/win64-test"
demo="$root/build/demo"
check="$demo/check"

parts=("$@")
((${#parts[@]})) || parts=(x86_64 i686)
wanted() { [[ " ${parts[*]} " == *" $1 "* ]]; }
for part in "${parts[@]}"; do
    [[ $part == x86_64 || $part == i686 ]] || { echo "unknown part: $part (x86_64, i686)" >&2; exit 2; }
done

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
pass() { echo "ok:   $*"; }

# The x86_64 runs start the check over; the i686 run keeps what they left.
if wanted x86_64; then
    rm -rf "$check"
fi
mkdir -p "$check"
for part in "${parts[@]}"; do
    preset=$([[ $part == x86_64 ]] && echo win64-test || echo win32-test)
    if ! cmake --build --preset "$preset" --target status_text_probe >"$check/build-$part.log" 2>&1; then
        tail -n 30 "$check/build-$part.log"
        exit 1
    fi
done
source scripts/wine-env.sh
wine_env_exports "$build"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

run_demo() {  # name options...: one demo run, its screenshots and server logs kept under build/demo/check/name
    local name=$1
    shift
    echo "--- scripts/demo.sh $* (log: build/demo/check/$name.log)"
    env -u DISPLAY timeout 300 scripts/demo.sh "$@" >"$check/$name.log" 2>&1
    local status=$?
    mkdir -p "$check/$name"
    cp "$demo"/screenshots/*.png "$check/$name/" 2>/dev/null
    cp "$demo/nginx/run/access.log" "$check/$name/nginx-access.log" 2>/dev/null
    cp "$demo/rating.log" "$check/$name/rating.log" 2>/dev/null
    if ((status != 0)); then
        tail -n 25 "$check/$name.log"
        fail "scripts/demo.sh $* ended with exit code $status"
        return 1
    fi
    pass "scripts/demo.sh $* ended in success"
}

# status_line name wanted not-set other...: the run's last picture shows the wanted message (alone,
# after the branch's name, or as its line above the other branch's "not set" line) and none of the
# others, such as the summary that says only "ready".
status_line() {
    local name=$1 wanted=$2 not_set=$3 texts="$check/$1/texts.txt"
    shift 3
    printf '+%s\n' "$wanted" "LURRA 1.44 — $wanted" "LURRA 1.44 — $wanted\\nKORDAN TVX — $not_set" >"$texts"
    printf -- '-%s\n' "$@" >>"$texts"
    if "${WINE_RUN[@]}" "$WINE" "$build/test-helpers/status_text_probe.exe" "$(winpath "$check/$name/after.png")" \
        "$(winpath "$build/VarnholdLauncher.exe")" "$(winpath "$texts")" >"$check/$name/probe.log" 2>&1; then
        pass "$name: the status line reads \"$wanted\""
    else
        sed 's/^/      /' "$check/$name/probe.log"
        fail "$name: the status line does not read \"$wanted\" (build/demo/check/$name/after.png)"
    fi
}
readonly ready_en='LURRA 1.44 — ready\nKORDAN TVX — folder not set'
readonly ready_ru='LURRA 1.44 — готово\nKORDAN TVX — папка не выбрана'

served() {  # name pattern: nginx answered a request matching pattern with 200
    grep -Eq "^[^ ]+ 200 GET $2" "$check/$1/nginx-access.log" 2>/dev/null
}

# uploaded_in_order log: the release reached the WebDAV server objects first, then the manifest pair,
# launcher, news, latest.sig, and latest.txt last.
uploaded_in_order() {
    sed -n 's|.*INFO  : /patch/lurra/\([^ ]*\): PUT from.*|\1|p' "$1" | awk '
        /^[0-9]+\/files\// { rank = 0 } /^[0-9]+\/checksums\./ { rank = 1 } /^latest_launcher\.exe$/ { rank = 2 }
        /^news/ { rank = 3 } /^latest\.sig$/ { rank = 4 } /^latest\.txt$/ { rank = 5 }
        { if (rank < last) wrong = 1; last = rank; count++; final = $0 }
        END { exit !(count > 0 && !wrong && final == "latest.txt") }'
}

release_in_game_folder() {
    local differing=0 file
    while IFS= read -r -d '' file; do
        cmp -s "$file" "$demo/game/${file#"$demo/release/files/"}" || differing=$((differing + 1))
    done < <(find "$demo/release/files" -type f -print0)
    ((differing == 0)) && pass "every release file is in the game folder, byte for byte" ||
        fail "$differing release files differ from the game folder's copies"
}

# --- 1: the update ---------------------------------------------------------------------------------
if wanted x86_64 && run_demo update --reset --screenshots; then
    cp "$demo/webdav.log" "$check/update/webdav.log" 2>/dev/null
    uploaded_in_order "$check/update/webdav.log" &&
        pass "the release was uploaded through rclone's WebDAV server objects first, latest.txt last" ||
        fail "the upload's order on the WebDAV server is wrong (build/demo/check/update/webdav.log)"
    grep -q 'nginx (pid [0-9]*, user ' "$check/update.log" && served update '/patch/lurra/latest\.txt ' &&
        served update '/patch/lurra/144/checksums\.txt ' && served update '/patch/lurra/144/files/[0-9a-f]{64}\.gz ' &&
        pass "nginx served the descriptor, the manifest and the objects" ||
        fail "nginx's log lacks the release's requests (build/demo/check/update/nginx-access.log)"
    if [[ $(id -u) -eq 0 ]]; then
        grep -q 'user nobody)' "$check/update.log" && pass "nginx ran as nobody" || fail "nginx did not run as nobody"
    fi
    grep -q 'method=GET path=/v1/top?diff=[0-3] status=200' "$check/update/rating.log" 2>/dev/null && pass "the window asked the rating service" ||
        fail "the rating service had no request (build/demo/check/update/rating.log)"
    for shot in before during after; do
        [[ -s "$check/update/$shot.png" ]] && pass "screenshot $shot" || fail "no screenshot $shot"
    done
    status_line update "All files updated successfully!" "folder not set" "Latest version already installed!" \
        "$ready_en"

    release_in_game_folder
    [[ "$(cat "$demo/game/VarnholdLauncher.ini" 2>/dev/null)" == 144 ]] && pass "installed version 144" ||
        fail "the installed version is not 144"
    [[ "$(cat "$demo/game/VarnholdChannel.ini" 2>/dev/null)" == $'# Varnhold install marker - do not edit\nchannel=lurra' ]] &&
        pass "install marker for lurra" || fail "no install marker for lurra"
    [[ -s "$demo/game/Saves/slot1.sav" ]] && pass "the saved game is left alone" || fail "the saved game is gone"

    # --- 2 and 3: the folder is current ------------------------------------------------------------
    for language in en ru; do
        name=current-$language
        run_demo "$name" --screenshots --language "$language" || continue
        ! grep -q '/files/' "$check/$name/nginx-access.log" && [[ ! -e "$check/$name/during.png" ]] &&
            pass "$name: nothing downloaded" || fail "$name: the current folder downloaded files"
        if [[ $language == en ]]; then
            status_line "$name" "Latest version already installed!" "folder not set" \
                "All files updated successfully!" "$ready_en"
        else
            status_line "$name" "Установлена последняя версия!" "папка не выбрана" \
                "Все файлы успешно обновлены!" "$ready_ru"
        fi
    done
fi

wanted x86_64 && scripts/test-environment.sh stop "$build" >/dev/null 2>&1

# --- 4: the 32-bit launcher, the product itself --------------------------------------------------
# Its own demo folder (build/demo-i686: a release signed with the win32-test build's key) and its own
# probe, which draws the texts as the 32-bit launcher does.
build="$root/build/win32-test"
demo="$root/build/demo-i686"
wine_env_exports "$build"
if wanted i686 && run_demo i686-update --i686 --reset --screenshots; then
    [[ -s "$check/i686-update/during.png" ]] && pass "i686: screenshot during the update" ||
        fail "i686: no screenshot during the update"
    status_line i686-update "All files updated successfully!" "folder not set" \
        "Latest version already installed!" "$ready_en"
    release_in_game_folder
fi
wanted i686 && scripts/test-environment.sh stop "$build" >/dev/null 2>&1

if ((failures)); then
    echo "demo check: $failures failed"
    exit 1
fi
echo "demo check: passed"
