#!/bin/sh
# The depth-map effect's cost in a whole conversion: a 20-second 1920x1080 30 fps clip with
# sound converted to MP4 by `zqrstereo --convert` with --stereo static, with --stereo
# depth-map from a depth video of the clip's size (a moving grey ramp with a square in front),
# and with --stereo depth-map and no depth video (the depth found in the video), ROUNDS (3
# unless set) rounds in turn, in the layout LAYOUT (the settings' unless set; half-sbs is the
# one 3D players take). Prints each run's wall seconds and the ratios of the medians.
# Targets: depth-map <= 1.15 x static, found <= 1.30 x static.
#
#   bench/depth_map_vs_static.sh [build dir] [work dir]
set -eu
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-$(mktemp -d)}
ROUNDS=${ROUNDS:-3}
mkdir -p "$WORK"
cd "$WORK"
[ -f clip.mp4 ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t 20 -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -c:a aac clip.mp4
[ -f depth.mkv ] || ffmpeg -v error -y -f lavfi -i \
    "gradients=size=1920x1080:rate=30:c0=black:c1=white:x0=0:y0=0:x1=0:y1=1079:nb_colors=2,format=gray,drawbox=x=t*60:y=300:w=400:h=400:c=white:t=fill" \
    -t 20 -pix_fmt gray -c:v ffv1 depth.mkv

run() { # label, then the options
    label=$1
    shift
    start=$(date +%s.%N)
    "$BUILD/zqrstereo" --log "$WORK/run.log" --convert clip.mp4 "$WORK/out.mp4" \
        ${LAYOUT:+--layout "$LAYOUT"} "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    seconds=$(awk "BEGIN {print $end - $start}")
    echo "$label $seconds"
    echo "$seconds" >>"$WORK/$label.times"
}
rm -f "$WORK"/static.times "$WORK"/depth-map.times "$WORK"/found.times
i=0
while [ $i -lt "$ROUNDS" ]; do
    run static --stereo static
    run depth-map --stereo depth-map --depth-video depth.mkv
    run found --stereo depth-map --depth-source video
    i=$((i + 1))
done
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
s=$(median "$WORK/static.times")
d=$(median "$WORK/depth-map.times")
f=$(median "$WORK/found.times")
echo "median static ${s} s, depth-map ${d} s, ratio $(awk "BEGIN {printf \"%.3f\", $d / $s}")"
echo "median static ${s} s, found ${f} s, ratio $(awk "BEGIN {printf \"%.3f\", $f / $s}")"
