#!/usr/bin/env bash
# Draws the program's pictures and its click sound into the folder given as $1: the
# picture buttons in their three states (1 normal, 2 pressed, 3 under the mouse), the
# position bar, the glasses, the title and About pictures, the progress animation, the
# window icon and the "tick". ImageMagick and ffmpeg are the only tools it needs.
#
# draw.sh --icons OUT draws only the desktop's icon, OUT/48.png, 128.png and 256.png: the
# picture of zqrstereo.svg (whose units are those below) at each size.
set -euo pipefail

if [ "${1:-}" = --icons ]; then
  out=$2
  mkdir -p "$out"
  holes=""
  for x in 24 56 88 120 152 184 216; do
    holes+=" roundrectangle $x,36 $((x + 16)),50 3,3 roundrectangle $x,206 $((x + 16)),220 3,3"
  done
  for size in 48 128 256; do
    scale=$(awk -v n="$size" 'BEGIN { printf "%.6f", n / 256 }')
    convert -size "${size}x${size}" xc:none -draw "scale $scale,$scale \
      fill '#202830' roundrectangle 0,24 256,232 32,32 fill '#5a6878' $holes \
      fill '#e02828' rectangle 48,72 160,184 fill '#28d0e8' rectangle 96,72 208,184 \
      fill '#f0f0f0' rectangle 96,72 160,184" "PNG32:$out/$size.png"
  done
  exit 0
fi

out=$1
mkdir -p "$out"
font=DejaVu-Sans-Bold

# button NAME WIDTH TEXT SYMBOL: a rounded button whose symbol and text say what it does.
button() {
  local name=$1 width=$2 text=$3 symbol=$4
  local states=("1:#2d4f7c:#4f7fb8:white:0" "2:#16283f:#2d4f7c:#d8e4f0:1" "3:#b8562a:#f08a3c:white:0")
  for s in "${states[@]}"; do
    IFS=: read -r n top bottom ink shift <<<"$s"
    convert -size "${width}x24" xc:'#878787' \
      \( -size "${width}x24" gradient:"$bottom"-"$top" \
         \( -size "${width}x24" xc:black -fill white -draw "roundrectangle 0,0,$((width-1)),23,6,6" \) \
         -alpha off -compose CopyOpacity -composite \) -compose Over -composite \
      -fill none -stroke '#10203a' -strokewidth 1 -draw "roundrectangle 0,0,$((width-1)),23,6,6" \
      -stroke none -fill "$ink" -font "$font" -pointsize 12 \
      -draw "text $((8+shift)),$((17+shift)) '$symbol'" \
      -gravity center -draw "text $((10+shift)),$((shift)) '$text'" \
      -type TrueColor "PNG24:$out/${name}${n}.png"
  done
}
button b_load 195 "Load Movie" "▲"
button b_pause 195 "Play / Pause" "▶"
button b_save 195 "Save Parameters" "■"
button b_convert 195 "Convert to 3D" "◆"
button b_about 195 "About" "i"
button b_stopt 195 "Stop Conversion" "●"
button help 97 "Help" "?"

# The position bar: a red-to-cyan strip, stretched to the play position.
convert -size 18x50 gradient:'#ff3030'-'#30e0ff' -rotate 90 -type TrueColor "PNG24:$out/tomline.png"

# The glasses: a red and a cyan lens in a dark frame.
convert -size 36x20 xc:'#878787' -fill '#d02020' -stroke '#202020' -strokewidth 2 \
  -draw "roundrectangle 2,4 16,16 3,3" -fill '#20c0e0' -draw "roundrectangle 20,4 34,16 3,3" \
  -fill none -draw "line 16,8 20,8" -type TrueColor "PNG24:$out/glasses.png"

convert -size 640x154 gradient:'#101820'-'#2c3e58' \
  -font "$font" -pointsize 34 -gravity center \
  -fill '#e02828' -annotate -4-22 'Kavelund ZQR Stereo' \
  -fill '#28d0e8' -annotate +4-22 'Kavelund ZQR Stereo' \
  -fill white -annotate +0-22 'Kavelund ZQR Stereo' \
  -pointsize 20 -fill '#d8e4f0' -annotate +0+22 'Video to red/cyan 3D converter' \
  -pointsize 13 -fill '#9fb4cc' -annotate +0+52 'Put on your 3D glasses' \
  -type TrueColor "PNG24:$out/TITLE.png"

convert -size 244x212 gradient:'#f4f6f8'-'#c8d4e0' \
  -fill '#d02020' -stroke '#202020' -strokewidth 4 -draw "roundrectangle 30,70 112,130 14,14" \
  -fill '#20c0e0' -draw "roundrectangle 132,70 214,130 14,14" -fill none \
  -draw "arc 108,78 136,106 200,340" -draw "line 30,84 8,70" -draw "line 214,84 236,70" \
  -stroke none -fill '#203040' -font "$font" -pointsize 16 -gravity north \
  -annotate +0+18 'Anaglyph 3D' -pointsize 12 -gravity south -annotate +0+24 'red left, cyan right' \
  -type TrueColor "PNG24:$out/patent.png"

# The progress animation: a ring whose lit quarter moves on.
for i in 1 2 3 4; do
  a=$(( (i - 1) * 90 ))
  convert -size 100x100 xc:'#878787' -fill none -stroke '#505860' -strokewidth 12 \
    -draw "circle 50,50 50,14" -stroke '#30d0f0' -draw "arc 14,14 86,86 $((a - 90)),$a" \
    -stroke '#e03030' -draw "arc 14,14 86,86 $((a + 90)),$((a + 180))" \
    -type TrueColor "PNG24:$out/load$i.png"
done

# The window icon: a film frame with red and cyan offset.
convert -size 32x32 xc:none -fill '#202830' -draw "roundrectangle 0,3 31,28 4,4" \
  -fill '#e02828' -draw "rectangle 6,9 19,22" -fill '#28d0e8' -draw "rectangle 12,9 25,22" \
  -fill '#f0f0f0' -draw "rectangle 12,9 19,22" "PNG32:$out/VIDEO.png"

# The hand cursor "autor": a white pointing hand, its fingertip at (12, 1).
convert -size 32x32 xc:none -fill white -stroke black -strokewidth 1 \
  -draw "polygon 10,2 11,1 13,1 14,2 14,12 16,11 18,12 19,13 21,12 23,13 24,14 26,14 27,16 27,23 25,28 14,28 8,21 5,17 5,15 7,14 10,17" \
  -draw "line 18,13 18,18" -draw "line 22,14 22,18" -draw "line 26,16 26,19" \
  "PNG32:$out/autor.png"

# The click: 40 ms of a falling 2 kHz tone, 22050 Hz, 16-bit mono.
ffmpeg -loglevel error -y -f lavfi -i "sine=frequency=2000:sample_rate=22050:duration=0.04" \
  -af "afade=t=out:st=0:d=0.04,volume=0.5" -ac 1 -c:a pcm_s16le -fflags +bitexact \
  -flags:a +bitexact "$out/tick.wav"
