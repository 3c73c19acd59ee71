#!/bin/sh
# The whole conversion against the encoder's own speed and against ffmpeg, all in one run:
# a 20-second 1920x1080 30 fps clip with sound is converted to MP4 by `zqrstereo
# --convert` (the batch run: no frame files) and again with --keep-frames (frame files
# written as the window writes them); beside it
#   - the encoder floor: the same encoder with the same translated options, fed the very
#     pictures the converter feeds it (captured once by a stand-in encoder, raw 4:2:0 in
#     /dev/shm) and the clip's sound; nothing around the encoder can make a conversion
#     faster than this;
#   - the floor with the clip decoded beside it at the clip's pace: what the two cores
#     leave a conversion that must decode its clip, before any step of its own;
#   - ffmpeg doing the same job in one command (decode, eq, unsharp, crop, red from the
#     previous frame);
#   - ffmpeg with eq and unsharp only, no stereo step.
# Wall and processor seconds (user + system) of each; peak resident memory of the converter
# alone for 10, 20 and 60 s clips shows whether memory grows with the length.
#
#   bench/convert_vs_ffmpeg.sh [build dir] [work dir]
#
# ROUNDS (3 unless set) rounds of the batch run, the floor, ffmpeg's same job and the floor
# with the decode beside it, in turn.
# Targets: batch <= 1.10 x the floor and <= 0.80 x ffmpeg's same job; --keep-frames <= 1.25
# x the floor; peak memory < 300 MB at 1920x1080, the same for 10 s and 60 s.
set -eu
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-$(mktemp -d)}
mkdir -p "$WORK"
cd "$WORK"
SHM=$(mktemp -d /dev/shm/zqr-bench.XXXXXX)
trap 'rm -rf "$SHM"' EXIT

clip() {  # seconds name
  [ -f "$2" ] || ffmpeg -v error -y -f lavfi -i "testsrc2=size=1920x1080:rate=30" \
    -f lavfi -i "sine=frequency=440:sample_rate=48000" -t "$1" \
    -c:v libx264 -preset veryfast -crf 20 -pix_fmt yuv420p -c:a aac "$2"
}
clip 20 clip20.mp4
clip 10 clip10.mp4
clip 60 clip60.mp4

# "wall user+system peak-MB" of one command (the peak counts its tools too).
measure() {
  /usr/bin/time -f '%e %U %S %M' -o time.txt "$@" >/dev/null 2>&1
  awk '{ printf "%.2f %.2f %.0f\n", $1, $2 + $3, $4 / 1024 }' time.txt
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

OPTIONS="--stereo dynamic --sharpen 1 --brightness 140"
batch_run() {
  rm -rf tmp20 && mkdir -p tmp20
  measure "$BUILD/zqrstereo" --convert clip20.mp4 out20.mp4 $OPTIONS --temp "$WORK/tmp20" --log run20.log
}
set -- $(batch_run)
batch_s=$1 batch_cpu=$2
rm -rf tmp20k && mkdir -p tmp20k
set -- $(measure "$BUILD/zqrstereo" --convert clip20.mp4 keep20.mp4 $OPTIONS --temp "$WORK/tmp20k" --log keep20.log --keep-frames)
keep_s=$1 keep_cpu=$2
rm -rf tmp20k

# The encoder floor: the converter's own command line, as ffmpeg_III runs it, with the
# pipe replaced by the pictures the converter feeds (a copy of the program whose encoder
# only keeps them) and the sound by the clip's.
mkdir -p capture/PLUG-IN
cp "$BUILD/zqrstereo" capture/
ln -sf "$BUILD/PLUG-IN/ffmpeg" capture/PLUG-IN/ffmpeg
printf '#!/bin/sh\nfor a; do [ "$a" = pipe:0 ] && exec cat >"%s"; done\nexit 1\n' \
  "$SHM/pictures.yuv" >capture/PLUG-IN/ffmpeg_III
chmod +x capture/PLUG-IN/ffmpeg_III
capture/zqrstereo --convert clip20.mp4 capture.mp4 $OPTIONS --temp "$WORK/tmp20" \
  --log capture.log >/dev/null 2>&1 || true
ffmpeg -v error -y -i clip20.mp4 -vn -ar 44100 -ac 2 -c:a pcm_s16le "$SHM/sound.wav"
command=$(sed -n 's/^FFMPEG : //p' run20.log | tr -d '\r' | head -1)
eval "set -- $command"
shift
"$BUILD/PLUG-IN/ffmpeg_III" --dry-run "$@" | tail -n +2 >args.txt
awk -v pics="$SHM/pictures.yuv" -v wav="$SHM/sound.wav" '{ a[NR] = $0 } END {
    for (k = 1; k < NR; k++) {
      if (a[k] == "pipe:0") a[k] = pics
      else if (a[k - 1] == "-i" && a[k] ~ /temp(\.wav|_wav\.fifo)$/) a[k] = wav
      print a[k]
    }
    print "floor20.mp4" }' args.txt >floor_args.txt
# Output options for the ffmpeg references: everything after the last input, without the
# crop (theirs is in their filter graph) and the output name.
out_opts=$(awk '{ a[NR] = $0 } END {
    for (k = 1; k <= NR; k++) if (a[k] == "-i") last = k
    for (k = last + 2; k < NR; k++) {
      if (a[k] == "-vf") { k++; continue }
      printf "%s ", a[k]
    } }' args.txt)
floor_run() {
  tr '\n' '\0' <floor_args.txt | xargs -0 sh -c '
    /usr/bin/time -f "%e %U %S %M" -o time.txt ffmpeg -v error -y "$@" >/dev/null 2>&1
    awk "{ printf \"%.2f %.2f\n\", \$1, \$2 + \$3 }" time.txt' sh
}
set -- $(floor_run)
floor_s=$1 floor_cpu=$2
# The floor again with the clip decoded beside it at the clip's own pace (ffmpeg's decoder
# and its conversion to 32-bit pictures, as the converter's graph delivers them, thrown
# away): every conversion decodes its clip on the same two cores, so this is the nearest a
# conversion can come to the floor, whatever its own steps cost.
decode_beside_run() {
  ffmpeg -v error -re -i clip20.mp4 -an -vf format=bgra -f null - >/dev/null 2>&1 &
  decoder=$!
  floor_run
  wait "$decoder"
}

GRAPH="[0:v]eq=brightness=0.05,unsharp=5:5:1.0,crop=1904:1080:0:0,split[a][b];\
[b]tpad=start=1:start_mode=clone[p];[a]format=gbrp,extractplanes=g+b[ag][ab];\
[p]format=gbrp,extractplanes=r[pr];[ag][ab][pr]mergeplanes=0x001020:gbrp,format=yuv420p[v]"
peer_run() {
  measure ffmpeg -v error -y -i clip20.mp4 -filter_complex "$GRAPH" -map "[v]" -map 0:a \
    $out_opts peer20.mp4
}
set -- $(peer_run)
peer_s=$1 peer_cpu=$2
# One round's line: batch / floor, batch / peer, floor / peer, the three times, and the floor
# with the decode beside it / floor.
round_line() {
  awk -v b="$1" -v f="$2" -v p="$3" -v d="$4" 'BEGIN { printf "%.3f %.3f %.3f %.2f %.2f %.2f %.3f", b / f, b / p, f / p, b, f, p, d / f }'
}
# This machine's speed drifts between minutes: the batch run, the floor and ffmpeg's same job
# are measured again in turn, and each round's ratios are kept; the median round counts.
ratios="$(round_line "$batch_s" "$floor_s" "$peer_s" "$(decode_beside_run | cut -d' ' -f1)")"
round=1
while [ "$round" -lt "${ROUNDS:-3}" ]; do
  round=$((round + 1))
  b=$(batch_run | cut -d' ' -f1)
  f=$(floor_run | cut -d' ' -f1)
  p=$(peer_run | cut -d' ' -f1)
  d=$(decode_beside_run | cut -d' ' -f1)
  ratios="$ratios
$(round_line "$b" "$f" "$p" "$d")"
done
set -- $(measure ffmpeg -v error -y -i clip20.mp4 -vf "eq=brightness=0.05,unsharp=5:5:1.0,crop=iw-16:ih" \
  $out_opts plain20.mp4)
plain_s=$1 plain_cpu=$2
rm -f "$SHM/pictures.yuv"

own10=$(converter_peak "$BUILD/zqrstereo" --convert clip10.mp4 out10.mp4 $OPTIONS --temp "$WORK/tmp10" --log run10.log)
own20=$(converter_peak "$BUILD/zqrstereo" --convert clip20.mp4 out20.mp4 $OPTIONS --temp "$WORK/tmp20" --log run20b.log)
own60=$(converter_peak "$BUILD/zqrstereo" --convert clip60.mp4 out60.mp4 $OPTIONS --temp "$WORK/tmp60" --log run60.log)

echo "encoder output options: $out_opts"
# The floor against ffmpeg's same job bounds the second target: no conversion can be faster
# than its own encoder.
echo "$ratios" | awk '{ printf "round %d: batch / floor %.2f, batch / ffmpeg same job %.2f, floor / ffmpeg same job %.2f, floor with the decode beside it / floor %.2f\n", NR, $1, $2, $3, $7 }'
echo "$ratios" | sort -n -k1,1 | awk '{ a[NR] = $1 } END { printf "median batch / floor %.2f", a[int((NR + 1) / 2)] }'
echo "$ratios" | sort -n -k2,2 | awk '{ a[NR] = $2 } END { printf ", median batch / ffmpeg same job %.2f", a[int((NR + 1) / 2)] }'
echo "$ratios" | sort -n -k7,7 | awk '{ a[NR] = $7 } END { printf ", median floor with the decode beside it / floor %.2f (%d rounds)\n", a[int((NR + 1) / 2)], NR }'
# The best time of each over the rounds: the least disturbed by the machine's slow minutes.
echo "$ratios" | awk 'NR == 1 || $4 < b { b = $4 } NR == 1 || $5 < f { f = $5 } NR == 1 || $6 < p { p = $6 }
  END { printf "best of rounds: batch %.2f s, floor %.2f s, ffmpeg same job %.2f s: batch / floor %.2f, batch / ffmpeg same job %.2f, floor / ffmpeg same job %.2f\n", b, f, p, b / f, b / p, f / p }'
awk -v b="$batch_s" -v bc="$batch_cpu" -v k="$keep_s" -v kc="$keep_cpu" -v f="$floor_s" \
  -v fc="$floor_cpu" -v p="$peer_s" -v pc="$peer_cpu" -v q="$plain_s" -v qc="$plain_cpu" \
  -v o10="$own10" -v o20="$own20" -v o60="$own60" 'BEGIN {
  printf "%-44s %8s %12s\n", "", "wall s", "processor s"
  printf "%-44s %8.2f %12.2f\n", "batch conversion (no frame files)", b, bc
  printf "%-44s %8.2f %12.2f\n", "conversion with frame files (--keep-frames)", k, kc
  printf "%-44s %8.2f %12.2f\n", "encoder floor (our pictures from memory)", f, fc
  printf "%-44s %8.2f %12.2f\n", "ffmpeg, the same job in one command", p, pc
  printf "%-44s %8.2f %12.2f\n", "ffmpeg, eq and unsharp only", q, qc
  printf "batch / floor %.2f (target <= 1.10); batch / ffmpeg same job %.2f (target <= 0.80)\n", b / f, b / p
  printf "with frame files / floor %.2f (target <= 1.25); batch / ffmpeg eq+unsharp %.2f\n", k / f, b / q
  printf "peak memory of the converter alone: 10 s %d MB, 20 s %d MB, 60 s %d MB (target < 300 MB, no growth)\n", o10, o20, o60
}'
