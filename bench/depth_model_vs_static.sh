#!/bin/sh
# A depth model's cost in a whole conversion: the 20-second 1920x1080 30 fps clip of
# depth_map_vs_static.sh converted with --stereo static and with --stereo depth-map from a
# model of MiDaS small's cost (tests/video/models/make_models.py, random weights, 256x256),
# run every N-th frame for each N of EVERY ("8" unless set), ROUNDS (1 unless set) rounds in
# turn. Prints each run's wall and processor seconds (the processor's the fairer figure on a
# machine others share) and each N's ratios of the medians to static.
# Target: the default N within about 2 x static.
#
#   bench/depth_model_vs_static.sh [build dir] [work dir]
set -eu
HERE=$(cd "$(dirname "$0")/.." && pwd)
BUILD=$(cd "${1:-build}" && pwd)
WORK=${2:-$(mktemp -d)}
ROUNDS=${ROUNDS:-1}
EVERY=${EVERY:-8}
mkdir -p "$WORK"
cd "$WORK"
[ -f clip.mp4 ] || ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 \
    -f lavfi -i sine=frequency=440:sample_rate=48000 -t 20 -c:v libx264 -preset veryfast \
    -pix_fmt yuv420p -c:a aac clip.mp4
[ -f midas_like.onnx ] || /usr/bin/python3 "$HERE/tests/video/models/make_models.py" "$WORK" \
    --with-midas-like

run() { # label, then the options
    label=$1
    shift
    start=$(date +%s.%N)
    /usr/bin/time -f "%U %S" -o "$WORK/cpu" \
        "$BUILD/zqrstereo" --log "$WORK/run.log" --convert clip.mp4 "$WORK/out.mp4" "$@" >/dev/null 2>&1
    end=$(date +%s.%N)
    seconds=$(awk "BEGIN {print $end - $start}")
    cpu=$(awk '{print $1 + $2}' "$WORK/cpu")
    echo "$label $seconds s wall, $cpu s processor (encoder included)"
    echo "$seconds" >>"$WORK/$label.times"
    echo "$cpu" >>"$WORK/$label.cpu"
}
rm -f "$WORK"/*.times
i=0
while [ $i -lt "$ROUNDS" ]; do
    run static --stereo static --layout half-sbs
    for n in $EVERY; do
        run "every-$n" --stereo depth-map --layout half-sbs --depth-model midas_like.onnx \
            --depth-model-every "$n"
    done
    i=$((i + 1))
done
median() { sort -n "$1" | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
s=$(median "$WORK/static.times")
sc=$(median "$WORK/static.cpu")
for n in $EVERY; do
    d=$(median "$WORK/every-$n.times")
    dc=$(median "$WORK/every-$n.cpu")
    echo "median static ${s} s, model every $n: ${d} s, ratio $(awk "BEGIN {printf \"%.3f\", $d / $s}");" \
        "processor ratio $(awk "BEGIN {printf \"%.3f\", $dc / $sc}")"
done
