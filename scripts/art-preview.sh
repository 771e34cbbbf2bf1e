#!/usr/bin/env bash
# Preview of the built pictures, for looking at them as a player would:
#  - contact-sheet.png: every picture in all its states on a dark ground, at full size and at half
#    size (a 1920 x 1080 screen shows the window, and so every picture, at half size);
#  - mock-screen.png: the main screen at 960 x 540 composed roughly as the window lays it out,
#    with stand-in texts in DejaVu Sans, to see that the pictures fit together and texts read.
# Usage: scripts/art-preview.sh [BUILD_DIR]   (default build/win32; the pictures must be built)
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build/win32}
art="$build/art"
out="$build/art-preview"
[[ -f "$art/background.png" ]] || { echo "no pictures in $art: build first" >&2; exit 1; }
mkdir -p "$out"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT

font=/usr/share/fonts/truetype/dejavu/DejaVuSans.ttf
bold=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
ground='#121014'

# Small buttons: one row per button, its states at full size, then the same at half size.
# Bigger pictures: a row each at full and half size.
rows=()
row() {  # name tile-size label:file...
    local name=$1 cell=$2
    shift 2
    local args=() tile
    for tile in "$@"; do
        args+=(-label "${tile%%:*}" "${tile#*:}")
    done
    montage -font "$font" -pointsize 11 -fill '#BBBBBB' -background "$ground" "${args[@]}" \
        -tile x1 -geometry "$cell>+10+4" "$tmp/$name.png"
    rows+=("$tmp/$name.png")
}
states() {  # base name in the table -> "id state:path" of its pictures, full size then half
    local id file state tiles=() halves=()
    while read -r id file _ _ state; do
        tiles+=("$id $state:$art/$file")
        convert "$art/$file" -resize 50% "$tmp/half-$file"
        halves+=("$id 1/2:$tmp/half-$file")
    done < <(grep -E "^[0-9]+ +$1(_[a-z]+)?\.png" resources/art/images.txt)
    printf '%s\n' "${tiles[@]}" "${halves[@]}"
}
for button in close minimise gear verify link continue retry folder language; do
    mapfile -t tiles < <(states "$button")
    row "small-$button" 60x60 "${tiles[@]}"
done
mapfile -t tiles < <(states play)
row play 448x252 "${tiles[@]:0:4}"
row play-half 224x126 "${tiles[@]:4}"
mapfile -t tiles < <(states panel)
row panel 680x208 "${tiles[@]:0:2}"
row panel-half 340x104 "${tiles[@]:2}"
mapfile -t tiles < <(states glow)
row glow 112x112 "${tiles[@]}"
convert "$art/divider.png" -resize 50% "$tmp/half-divider.png"
row divider 925x169 "189 1/2:$tmp/half-divider.png"
# The divider as the window shows it: 0.034 x the window height (18 px in a 540 px window).
convert "$art/divider.png" -resize x18 -bordercolor "$ground" -border 12 "$tmp/divider-window.png"
rows+=("$tmp/divider-window.png")
convert -background "$ground" "$art/launcher.ico" -gravity center -extent 256x256 +append \
    -bordercolor "$ground" -border 10 "$tmp/icon.png"
rows+=("$tmp/icon.png")
convert "$art/background.png" -resize 960x540 "$tmp/background.png"
rows+=("$tmp/background.png")
convert -background "$ground" "${rows[@]}" -gravity west -append "$out/contact-sheet.png"

# Mock of the main screen, 960 x 540 (a 1920 x 1080 screen): rectangles as the window lays
# them out; scale 0.5 for every picture.
w=960 h=540
s=$((h * 56 / 1000))          # top strip
B=$((h * 26 / 100)) q=$((h * 26 / 1000))
l=$((h * 3 / 100))            # text unit (16 at 540)
base=$((l * 96 / 72))
half() { convert "$art/$1" -resize 50% "$tmp/half-$1"; echo "$tmp/half-$1"; }
play=$(half play.png) play_hovered=$(half play_hovered.png) play_disabled=$(half play_disabled.png)
pw=224 ph=126
p1=$((w - q - q / 2 - 2 * pw)) p2=$((w - q - q / 2 - pw))
py=$((h - B + (B - ph) / 2))
card=$(half panel.png) card_hot=$(half panel_hovered.png)
cw=340 ch=104
ny=$((s + q + 2))
rx=$((cw + 2 * q))
glow=$(half glow.png)
bar_x=$q bar_r=$((p1 - q))
fy=$((h - B + q + l * 155 / 100 + 2)) bh=$((l * 115 / 100))
ty=$((fy + bh + q + l * 155 / 100 + 2))
fill_w=$(((bar_r - bar_x - 4) * 62 / 100))
convert "$tmp/background.png" \
    -fill '#0000004C' -draw "rectangle 0,0 $w,$s" \
    "$(half language.png)" -geometry +$((w - 4 * s))+0 -composite \
    "$(half minimise.png)" -geometry +$((w - 3 * s))+0 -composite \
    "$(half gear_hovered.png)" -geometry +$((w - 2 * s))+1 -composite \
    "$(half close.png)" -geometry +$((w - s))+0 -composite \
    -font "$bold" -pointsize $((base * 8 / 10)) -fill white -annotate +$((w - 4 * s + 5))+$((s * 2 / 3)) 'RU' \
    -font "$bold" -pointsize "$base" -fill '#FFD700' -annotate +$q+$((s * 3 / 4)) 'Tharnveil II — Varnhold' \
    "$(half link.png)" -geometry +520+0 -composite \
    -font "$font" -pointsize $((base * 66 / 100)) -fill '#E6E6E6' -annotate +552+$((s * 2 / 3)) 'Download LURRA' \
    -font "$font" -pointsize $((base * 66 / 100)) -fill '#FFFFFF96' -annotate +715+$((s * 2 / 3)) 'Launcher V1.16' \
    "$card_hot" -geometry +$q+$ny -composite \
    "$card" -geometry +$q+$((ny + ch + q)) -composite \
    "$card" -geometry +$q+$((ny + 2 * (ch + q))) -composite \
    -font "$bold" -pointsize "$base" -fill '#E6E6E6' -annotate +$((q + 24))+$((ny + 46)) 'Season of\nAshes' \
    -font "$font" -pointsize $((base * 8 / 10)) -fill white \
    -annotate +$((q + 155))+$((ny + 34)) 'The northern passes are open.\nNew fortress maps and a\nrebalanced late game.' \
    -font "$font" -pointsize $((base * 8 / 10)) -fill '#FFFFFF96' -annotate +$((q + 255))+$((ny + 92)) '12.05.2025' \
    -fill '#0000004C' -stroke '#CAA442BE' -strokewidth 1.5 \
    -draw "rectangle $rx,$ny $((w - q)),$((h - B - q))" -stroke none \
    \( "$art/divider.png" -resize "x$((h * 34 / 1000))" \) \
    -geometry +$(((rx + w - q) / 2 - 50))+$((ny + l * 19 / 10 - 4)) -composite \
    -font "$bold" -pointsize "$base" -fill white -gravity north -annotate +$(((rx - q) / 2))+$((ny + 4)) 'Season rating' \
    -gravity northwest \
    -font "$bold" -pointsize "$base" -fill '#FFD700' -annotate +$((rx + 40))+$((ny + 76)) 'Normal' \
    -font "$font" -pointsize "$base" -fill '#FFFFFF96' \
    -annotate +$((rx + 180))+$((ny + 76)) 'Hard' -annotate +$((rx + 320))+$((ny + 76)) 'Brutal' \
    -annotate +$((rx + 470))+$((ny + 76)) 'Impossible' \
    -font "$font" -pointsize "$base" -fill '#FFD700' -annotate +$((rx + 12))+$((ny + 112)) '1. Ironhand' \
    -fill white -annotate +$((rx + 12))+$((ny + 136)) '2. Vela_of_the_North' \
    -annotate +$((rx + 12))+$((ny + 160)) '3. grimward' -annotate +$((rx + 12))+$((ny + 184)) '4. Osk' \
    -annotate +$((rx + 12))+$((ny + 208)) '5. Tamsin' -annotate +$((rx + 12))+$((ny + 232)) '6. ravenmarch' \
    -fill '#FFD700' -annotate +$((w - q - 130))+$((ny + 112)) 'wave 48 +3' \
    -fill white -annotate +$((w - q - 130))+$((ny + 136)) 'wave 44' \
    -annotate +$((w - q - 130))+$((ny + 160)) 'wave 41' -annotate +$((w - q - 130))+$((ny + 184)) 'wave 40' \
    -annotate +$((w - q - 130))+$((ny + 208)) 'wave 37' -annotate +$((w - q - 130))+$((ny + 232)) 'wave 35' \
    "$play_hovered" -geometry +$p1+$py -composite \
    "$play_disabled" -geometry +$p2+$py -composite \
    -font "$bold" -pointsize $((base * 145 / 100)) -fill white \
    -annotate +$((p1 + 76))+$((py + 18)) 'PLAY' -annotate +$((p2 + 76))+$((py + 18)) 'PLAY' \
    -font "$bold" -pointsize $((base * 8 / 10)) -fill '#FFD700' \
    -annotate +$((p1 + 70))+$((py + 64)) 'LURRA 1.44' -annotate +$((p2 + 64))+$((py + 64)) 'KORDAN TVX' \
    -font "$font" -pointsize $((base * 66 / 100)) -fill '#E6E6E6' -annotate +$((p2 + 70))+$((py + 86)) 'choose folder' \
    -font "$font" -pointsize $((base * 8 / 10)) -fill '#E6E6E6' \
    -annotate +$bar_x+$((fy - l * 155 / 100)) 'Data/Maps/north_pass.pak' \
    -annotate +$bar_x+$((ty - l * 155 / 100)) 'Updating LURRA 1.44: 38 of 61 files' \
    -fill '#0000007D' -stroke '#E6E6E6' -strokewidth 1 \
    -draw "rectangle $bar_x,$fy $bar_r,$((fy + bh))" -draw "rectangle $bar_x,$ty $bar_r,$((ty + bh))" \
    -stroke none -fill '#CAA442E1' \
    -draw "rectangle $((bar_x + 2)),$((fy + 2)) $((bar_x + 2 + fill_w)),$((fy + bh - 2))" \
    -draw "rectangle $((bar_x + 2)),$((ty + 2)) $((bar_x + 2 + fill_w / 2)),$((ty + bh - 2))" \
    "$glow" -geometry +$((bar_x + 2 + fill_w - 28))+$((fy + bh / 2 - 28)) -composite \
    "$glow" -geometry +$((bar_x + 2 + fill_w / 2 - 28))+$((ty + bh / 2 - 28)) -composite \
    -font "$bold" -pointsize $((base * 8 / 10)) -fill white -gravity northwest \
    -annotate +$(((bar_x + bar_r) / 2 - 12))+$((fy + 1)) '62%' \
    -annotate +$(((bar_x + bar_r) / 2 - 12))+$((ty + 1)) '31%' \
    "$out/mock-screen.png"

echo "$out/contact-sheet.png"
echo "$out/mock-screen.png"
