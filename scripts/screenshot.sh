#!/usr/bin/env bash
# The README's picture of the launcher window (docs/launcher-window.png), made the same way on every
# machine: the launcher of the win64-test build under wine64 on its own 1920x1080 Xvfb display and
# its own Wine prefix, against local HTTPS test servers on the addresses compiled into that build
# (update servers on localhost:8443 and 8444, rating on 8445). The first branch's folder gets
# release 1.44 with three news items; the second branch's folder holds the game but no update is
# published for it. Once both checks have ended, the window is cut out of the screen.
# usage: scripts/screenshot.sh [OUTPUT.png] [--language en|ru]
# Needs the ports 8443 to 8445 free (no window test running at the same time).
set -euo pipefail
cd "$(dirname "$0")/.."
root=$(pwd)
build="$root/build/win64-test"
work="$root/build/screenshot"
output="$root/docs/launcher-window.png"
language=en
while (($#)); do
    case "$1" in
        --language) language=$2; shift ;;
        *) output=$(realpath -m "$1") ;;
    esac
    shift
done

scripts/install-deps.sh
cmake --preset win64-test >/dev/null
cmake --build --preset win64-test --target VarnholdLauncher add_root_cert >/dev/null
source scripts/wine-env.sh
wine_env_prepare "$build"  # the template prefix with "Segoe UI" mapped

rm -rf "$work"
mkdir -p "$work"/{tls/trusted,www,control,launcher}
export WINEPREFIX="$work/prefix"
cp -a "$build/wine/template" "$WINEPREFIX"
winpath() { echo "Z:$(echo "$1" | tr / '\\')"; }

# A display of our own: the wineserver of this prefix takes its screen size at its start.
source scripts/xvfb.sh
start_xvfb 130 160
server_pid=""
cleanup() {
    wineserver -k >/dev/null 2>&1 || true
    [[ -n "$server_pid" ]] && kill "$server_pid" 2>/dev/null
    [[ -n "${xvfb_pid:-}" ]] && kill "$xvfb_pid" 2>/dev/null
    true
}
trap cleanup EXIT
sleep 0.5

# A certificate authority trusted in this prefix only, and the servers' certificate.
tls="$work/tls/trusted"
openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj "/CN=Varnhold Screenshot CA" \
    -addext "basicConstraints=critical,CA:TRUE" -addext "keyUsage=critical,keyCertSign,cRLSign" \
    -keyout "$tls/ca.key" -out "$tls/ca.pem" 2>/dev/null
openssl x509 -in "$tls/ca.pem" -outform DER -out "$tls/ca.der"
openssl req -newkey rsa:2048 -nodes -subj "/CN=localhost" -keyout "$tls/server.key" -out "$tls/server.csr" 2>/dev/null
printf 'subjectAltName=DNS:localhost\nextendedKeyUsage=serverAuth\n' >"$tls/server.ext"
openssl x509 -req -in "$tls/server.csr" -CA "$tls/ca.pem" -CAkey "$tls/ca.key" -CAcreateserial -days 2 \
    -sha256 -extfile "$tls/server.ext" -out "$tls/server.pem" 2>/dev/null
"$WINE" "$build/test-helpers/add_root_cert.exe" "$(winpath "$tls/ca.der")" >"$work/add_root_cert.log" 2>&1

# Two game folders and the first branch's release.
python3 - "$work" <<'PY'
import os, sys
work = sys.argv[1]
for branch in ("game-lurra", "game-ktvx"):
    game = os.path.join(work, branch)
    for name in ("Tharnvl2.exe", "binkw32.dll", "gameinfo.dat", "Mss23.dll"):
        os.makedirs(game, exist_ok=True)
        open(os.path.join(game, name), "wb").write(b"game file")
    for folder in ("Imgs", "ImgData", "Music", "Sounds", "Video", "Scens", "ScenData", "Campaign", "Briefing"):
        os.makedirs(os.path.join(game, folder), exist_ok=True)
        open(os.path.join(game, folder, "data.bin"), "wb").write(b"data")
release = os.path.join(work, "release")
for i in range(24):
    os.makedirs(os.path.join(release, "Imgs"), exist_ok=True)
    open(os.path.join(release, "Imgs", f"mod_{i:02}.png"), "wb").write(bytes((i * 7 + j) % 251 for j in range(40000)))
news = """[news]
title_en=Season two|begins
title_ru=Второй сезон|начался
text_en=The gates of Varnhold open for the second season: new waves, new heroes and a harder endless mode.
text_ru=Ворота Варнхольда открыты для второго сезона: новые волны, новые герои и более трудный бесконечный режим.
date=08.12.2026
url_en=https://localhost:8445/news/season-two
url_ru=https://localhost:8445/news/season-two
[news]
title_en=Patch 1.44
title_ru=Патч 1.44
text_en=Balance of the late waves, two new towers and fixes for the campaign's third act.
text_ru=Баланс поздних волн, две новые башни и исправления третьего акта кампании.
date=01.12.2026
url_en=https://localhost:8445/news/patch-1-44
url_ru=https://localhost:8445/news/patch-1-44
[news]
title_en=Winter|tournament
title_ru=Зимний|турнир
text_en=Sign up before the end of the month; the best three of each difficulty win a place in the hall of fame.
text_ru=Запишитесь до конца месяца: трое лучших на каждой сложности попадут в зал славы.
date=24.11.2026
url_en=https://localhost:8445/news/tournament
url_ru=https://localhost:8445/news/tournament
"""
open(os.path.join(work, "news_v2.txt"), "w", encoding="utf-8").write(news)
PY
python3 tests/server/release_builder.py build --key "$build/keys/update_signing_private.pem" \
    --out "$work/www/patch/lurra" --clean --version 144 --display-version "1.44" \
    --source "$work/release" --news-v2 "$work/news_v2.txt" >"$work/release.log"

source scripts/test-servers.sh
start_test_servers "$work" "$work/tls" 300 || exit 1

cp "$build/VarnholdLauncher.exe" "$work/launcher/"
printf '# VarnholdLauncher config (UTF-8)\n[paths]\nlurra=%s\nktvx=%s\n[ui]\nlanguage=%s\n' \
    "$(winpath "$work/game-lurra")" "$(winpath "$work/game-ktvx")" "$language" >"$work/launcher/launcher.ini"
"$WINE" "$work/launcher/VarnholdLauncher.exe" >"$work/launcher.log" 2>&1 &
# Both checks end within seconds; the rating arrives alongside.
for _ in $(seq 300); do
    [[ -f "$work/game-lurra/VarnholdChannel.ini" ]] && grep -q "ktvx/latest.txt" "$work/server.log" && break
    sleep 0.1
done
sleep 3
mkdir -p "$(dirname "$output")"
import -window root -crop 960x540+480+270 +repage "$output"
echo "wrote $output"
