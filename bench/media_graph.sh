#!/usr/bin/env bash
# Runs the graph benchmark (clock off, empty callback, 1920x1080 H.264) beside
# `ffmpeg -i clip -pix_fmt bgra -f null -`, the repetitions of the two interleaved at
# random so both see the same machine, and prints the best rate of each, their ratio
# (target: 0.9 or more) and the processor time per frame of each.
# Usage: bench/media_graph.sh [build-folder]   (REPETITIONS=5 by default)
set -euo pipefail
build=${1:-build}
program="$build/bench/media_graph"
[ -x "$program" ] || { echo "no $program: build the media_graph target first" >&2; exit 1; }
cd "$build/bench"
./media_graph --benchmark_repetitions="${REPETITIONS:-5}" \
  --benchmark_enable_random_interleaving=true 2>/dev/null | tee /dev/stderr |
  awk 'function num(key) { if (match($0, key "=[0-9.]+")) return substr($0, RSTART + length(key) + 1, RLENGTH - length(key) - 1); return -1 }
       /_mean|_median|_stddev|_cv/ { next }
       /BM_GraphFramesClockOff/ { f = num("fps"); if (f > g) g = f; c = num("cpu_ms_per_frame"); if (gc == 0 || c < gc) gc = c }
       /BM_FfmpegToBgraNull/ { f = num("fps"); if (f > m) m = f; c = num("cpu_ms_per_frame"); if (mc == 0 || c < mc) mc = c }
       END { if (g > 0 && m > 0) printf "best: graph %.1f fps, ffmpeg %.1f fps, ratio %.2f; processor time per frame: graph %.2f ms, ffmpeg %.2f ms\n", g, m, g / m, gc, mc }'
