#!/usr/bin/env bash
# Builds one demo lesson package from its folder: draws the pictures, speaks the
# model sounds, then packs and checks the package with viztool.
#
#   make-lesson.sh LESSON_FOLDER WORK_FOLDER OUT.viz VIZTOOL
#
# LESSON_FOLDER holds manifest.json and pages.txt. Each line of pages.txt describes one
# page's files, fields separated by "|":
#   stem | picture extension | sound extension | background | shape | caption | Korean caption | sentence | shape colour
set -euo pipefail

src=$1 work=$2 out=$3 viztool=$4

latin_font=/usr/share/fonts/truetype/dejavu/DejaVuSans-Bold.ttf
korean_font=/usr/share/fonts/truetype/nanum/NanumGothicBold.ttf
[ -f "$korean_font" ] || korean_font=$latin_font

rm -rf "$work"
mkdir -p "$work"
cp "$src/manifest.json" "$work/manifest.json"

total=$(grep -c '^[^#]' "$src/pages.txt")
n=0
while IFS='|' read -r stem pext sext color shape caption korean sentence fill; do
    case "$stem" in ''|'#'*) continue ;; esac
    n=$((n + 1))
    trim() { local s=$1; s=${s#"${s%%[![:space:]]*}"}; printf '%s' "${s%"${s##*[![:space:]]}"}"; }
    stem=$(trim "$stem"); pext=$(trim "$pext"); sext=$(trim "$sext"); color=$(trim "$color")
    shape=$(trim "$shape"); caption=$(trim "$caption"); korean=$(trim "$korean"); sentence=$(trim "$sentence")
    fill=$(trim "${fill:-}"); fill=${fill:-'rgba(255,255,255,0.85)'}

    case "$shape" in
        circle)   draw="circle 320,265 320,170" ;;
        square)   draw="rectangle 225,175 415,355" ;;
        triangle) draw="polygon 320,170 430,360 210,360" ;;
        diamond)  draw="polygon 320,165 425,265 320,365 215,265" ;;
        star)     draw="polygon 320,161 344,237 424,237 360,285 384,361 320,313 256,361 280,285 216,237 296,237" ;;
        *)        draw="ellipse 320,265 140,80 0,360" ;;
    esac
    # Captions at the top: the lesson's own texts are drawn over the bottom.
    convert -size 640x480 "xc:$color" \
        -fill "$fill" -stroke '#333333' -strokewidth 4 -draw "$draw" \
        -stroke none -fill '#1a1a1a' -font "$latin_font" -pointsize 60 -gravity north -annotate +0+14 "$caption" \
        -font "$korean_font" -pointsize 40 -gravity north -annotate +0+92 "$korean" \
        -font "$latin_font" -pointsize 22 -gravity northwest -annotate +14+12 "$n / $total" \
        -quality 85 "$work/$stem.$pext"

    espeak-ng -v en-us -s 140 -w "$work/$stem.voice.wav" "$sentence"
    # A short lead-in and tail, and one rate for every page.
    sox -q "$work/$stem.voice.wav" -r 22050 -c 1 "$work/$stem.$sext" pad 0.2 0.3
    rm -f "$work/$stem.voice.wav"
done < "$src/pages.txt"

"$viztool" pack "$work/manifest.json" "$out"
# The package must play: every picture and sound present and decodable.
"$viztool" check "$out" >/dev/null
