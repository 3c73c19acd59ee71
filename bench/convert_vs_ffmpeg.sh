#!/bin/sh
# The whole conversion against ffmpeg: a 20-second 1920x1080 30 fps clip with sound is
# converted to MP4 by `zqrstereo --convert`, and in the same run one ffmpeg command does
# decode, eq, unsharp and the converter's own encoder options (read from its run log and
# translated by ffmpeg_III --dry-run); then the recording phase alone (from the run log)
# beside `ffmpeg -i clip -pix_fmt bgra temp%06d.bmp`. Peak resident memory of the converter
# for a 10-second and a 60-second clip shows whether memory grows with the length.
#
#   bench/convert_vs_ffmpeg.sh [build dir] [work dir]
#
# Targets: whole conversion <= 1.2 x the ffmpeg command; recording <= 1.3 x the BMP export;
# peak memory < 300 MB at 1920x1080, the same for 10 s and 60 s.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-$(mktemp -d)}
mkdir -p "$WORK"
cd "$WORK"

clip() {  # seconds name
  [ -f "$2" ] || ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$1" \
    -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -c:a aac "$2"
}
clip 20 clip20.mp4
clip 10 clip10.mp4
clip 60 clip60.mp4

# Seconds and peak resident megabytes of one command: "seconds megabytes". The peak counts
# the command's tools too (the encoder among them).
measure() {
  /usr/bin/time -f '%e %M' -o time.txt "$@" >/dev/null 2>&1
  awk '{ printf "%.2f %.0f\n", $1, $2 / 1024 }' time.txt
}

# Peak resident megabytes of the converter's own process (VmHWM), without its tools.
converter_peak() {
  "$@" >/dev/null 2>&1 &
  pid=$!
  peak=0
  while kill -0 "$pid" 2>/dev/null; do
    hwm=$(awk '/^VmHWM/ { print $2 }' "/proc/$pid/status" 2>/dev/null || true)
    [ -n "$hwm" ] && [ "$hwm" -gt "$peak" ] && peak=$hwm
    sleep 0.2
  done
  wait "$pid" || true
  echo $((peak / 1024))
}

OPTIONS="--stereo dynamic --sharpen 1 --brightness 140 --contrast 140"
set -- $(measure "$BUILD/zqrstereo" --convert clip20.mp4 out20.mp4 $OPTIONS --temp "$WORK/tmp20" --log run20.log)
conv_s=$1 conv_mb=$2
record_s=$(awk '/^Recording time/ { printf "%.2f", $3 / 1000 }' run20.log)
export_s=$(awk '/^Export time/ { printf "%.2f", $3 / 1000 }' run20.log)

# The converter's encoder command, as ffmpeg_III runs it, with its inputs replaced by the
# clip and the picture work done by ffmpeg's filters.
command=$(sed -n 's/^FFMPEG : //p' run20.log | tr -d '\r')
eval "set -- $command"
shift
"$BUILD/PLUG-IN/ffmpeg_III" --dry-run "$@" | tail -n +2 >args.txt
# The output options: everything after the last input, without its crop (ours is below)
# and without the output name.
out_opts=$(awk '{ a[NR] = $0 } END {
    for (k = 1; k <= NR; k++) if (a[k] == "-i") last = k
    for (k = last + 2; k < NR; k++) {
      if (a[k] == "-vf") { k++; continue }
      printf "%s ", a[k]
    } }' args.txt)
set -- $(measure ffmpeg -v error -y -i clip20.mp4 \
  -vf "eq=brightness=0.05:contrast=1.1,unsharp=5:5:1.0,crop=iw-16:ih" $out_opts ffmpeg20.mp4)
ff_s=$1

mkdir -p bmp && rm -f bmp/*.bmp
set -- $(measure ffmpeg -v error -y -i clip20.mp4 -pix_fmt bgra bmp/temp%06d.bmp)
bmp_s=$1
rm -rf bmp

own20=$(converter_peak "$BUILD/zqrstereo" --convert clip20.mp4 out20.mp4 $OPTIONS --temp "$WORK/tmp20" --log run20b.log)
own10=$(converter_peak "$BUILD/zqrstereo" --convert clip10.mp4 out10.mp4 $OPTIONS --temp "$WORK/tmp10" --log run10.log)
own60=$(converter_peak "$BUILD/zqrstereo" --convert clip60.mp4 out60.mp4 $OPTIONS --temp "$WORK/tmp60" --log run60.log)

echo "ffmpeg output options: $out_opts"
awk -v c="$conv_s" -v f="$ff_s" -v r="$record_s" -v e="$export_s" -v b="$bmp_s" \
  -v m="$conv_mb" -v o20="$own20" -v o10="$own10" -v o60="$own60" 'BEGIN {
  printf "whole conversion  %7.2f s   ffmpeg one command %7.2f s   ratio %.2f (target <= 1.2)\n", c, f, c / f
  printf "  of which recording %.2f s, export %.2f s\n", r, e
  printf "recording         %7.2f s   ffmpeg BMP export  %7.2f s   ratio %.2f (target <= 1.3)\n", r, b, r / b
  printf "peak memory of the converter alone: 10 s %d MB, 20 s %d MB, 60 s %d MB (target < 300 MB, no growth)\n", o10, o20, o60
  printf "peak memory with its tools (the encoder), 20 s: %d MB\n", m
}'
