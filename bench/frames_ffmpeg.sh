#!/bin/sh
# Times ffmpeg's nearest equivalent of the per-frame step, one thread, null output, for
# comparison with bench/frames_step (BM_WholeStep):
#   convolution  eight-neighbour mean (the smoothing pass, without its recursion)
#   lutrgb       brightness and contrast
#   convolution  four-neighbour Laplacian (sharpen 1 / radius 0)
#   mergeplanes  anaglyph: green and blue of the frame, red of the frame shifted 12 pixels
# The source (testsrc2 converted to planar RGB) is timed alone and subtracted, so the
# first figure is the filters' own time per frame, on the planar frames they need. The
# second starts from and ends in packed BGRA frames, as the frame step does: the same chain
# with its conversions from and back to BGRA, the source in BGRA subtracted.
#
#   bench/frames_ffmpeg.sh [frames] [size ...]     default: 100 frames, 640x480 1280x720 1920x1080
set -eu
FRAMES=${1:-100}
[ $# -gt 0 ] && shift
SIZES=${*:-640x480 1280x720 1920x1080}

MEAN="0 1 1 1 1 1 1 1 1"
LAPLACE="0 -1 0 -1 5 -1 0 -1 0"
LUT="clip((val+13-128)*127/128+128\,0\,255)"
CHAIN="format=gbrp,convolution=0m='$MEAN':1m='$MEAN':2m='$MEAN':0rdiv=0.125:1rdiv=0.125:2rdiv=0.125,\
lutrgb=r='$LUT':g='$LUT':b='$LUT',convolution=0m='$LAPLACE':1m='$LAPLACE':2m='$LAPLACE',\
split[a][b];[b]crop=iw-12:ih:12:0,pad=iw+12:ih:0:0[s];[a][s]mergeplanes=0x000112:gbrp"

# User CPU seconds of one ffmpeg run with the given filter graph.
run() {
  ffmpeg -hide_banner -nostdin -benchmark -threads 1 -filter_threads 1 \
    -filter_complex_threads 1 -f lavfi -i "testsrc2=size=$1:rate=25" -frames:v "$FRAMES" \
    -filter_complex "[0:v]$2[out]" -map "[out]" -f null - 2>&1 |
    sed -n 's/.*bench: utime=\([0-9.]*\)s.*/\1/p'
}

printf '%-10s %12s %12s %14s %18s\n' size source_ms chain_ms filters_ms/frame from_bgra_ms/frame
for size in $SIZES; do
  base=$(run "$size" "format=gbrp")
  full=$(run "$size" "$CHAIN")
  packed_base=$(run "$size" "format=bgra")
  packed_full=$(run "$size" "format=bgra,$CHAIN,format=bgra")
  awk -v s="$size" -v b="$base" -v f="$full" -v pb="$packed_base" -v pf="$packed_full" \
    -v n="$FRAMES" 'BEGIN { printf "%-10s %12.1f %12.1f %14.2f %18.2f\n", s, b * 1000, \
      f * 1000, (f - b) * 1000 / n, (pf - pb) * 1000 / n }'
done
