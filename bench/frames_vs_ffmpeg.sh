#!/bin/sh
# The speed targets of the frame step as ratios, measured round by round: each round times
# the whole step (BM_WholeStep), one memcpy of the frame (cached and from memory) and
# ffmpeg's nearest chain (bench/frames_ffmpeg.sh) one right after the other, and prints
# their ratios; the last line gives the median of each ratio over the rounds. On a shared
# machine whose speed moves by a quarter between runs, ratios taken within a round are
# steadier than figures taken minutes apart.
#
#   bench/frames_vs_ffmpeg.sh [build dir] [rounds] [size index 0|1|2]
set -eu
BUILD=${1:-build}
ROUNDS=${2:-5}
INDEX=${3:-2}
HERE=$(dirname "$0")
case $INDEX in
  0) SIZE=640x480 ;;
  1) SIZE=1280x720 ;;
  *) SIZE=1920x1080 ;;
esac

# Milliseconds per iteration of one benchmark (its time column in microseconds).
bench_ms() {
  "$BUILD/bench/frames_step" --benchmark_filter="^$1/$INDEX\$" --benchmark_min_time=0.5 2>/dev/null |
    awk -v name="$1/$INDEX" '$1 == name { print $2 / 1000 }'
}

printf '%-6s %9s %11s %11s %11s %11s %11s %10s %10s\n' round step_ms memcpy_ms cold_ms \
  ffmpeg_ms bgra_ms x_ffmpeg x_bgra x_memcpy
ratios=$(mktemp)
trap 'rm -f "$ratios"' EXIT
for round in $(seq "$ROUNDS"); do
  step=$(bench_ms BM_WholeStep)
  memcpy=$(bench_ms BM_Memcpy)
  cold=$(bench_ms BM_MemcpyCold)
  set -- $(sh "$HERE/frames_ffmpeg.sh" 30 "$SIZE" | awk -v s="$SIZE" '$1 == s { print $4, $5 }')
  awk -v r="$round" -v st="$step" -v m="$memcpy" -v c="$cold" -v f="$1" -v b="$2" 'BEGIN {
    printf "%-6s %9.2f %11.3f %11.3f %11.2f %11.2f %10.2f %10.2f %10.2f\n",
      r, st, m, c, f, b, f / st, b / st, st / m }'
  echo "$1 $2 $step $memcpy" | awk '{ print $1 / $3, $2 / $3, $3 / $4 }' >>"$ratios"
done
for column in 1 2 3; do
  sort -n -k"$column" "$ratios" | awk -v c="$column" '{ v[NR] = $c } END {
    printf "%s %.2f\n", (c == 1 ? "median x_ffmpeg" : c == 2 ? "median x_bgra" : "median x_memcpy"),
      (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'
done
