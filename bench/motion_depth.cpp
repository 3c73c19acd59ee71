// The depth found in the video, per frame at 1920x1080 on the calling thread: a camera
// moving sideways past three textured layers (the background and two nearer rectangles
// sliding by amounts that grow with nearness), so that every stage runs as in a moving shot:
// both flows, the camera's fit, the fusion, the refinement and the full-size model. Run it
// under taskset to fix the core; OpenCV's own threads are whatever the process allows.
#include <benchmark/benchmark.h>

#include <cmath>
#include <cstdint>
#include <vector>

#include "video/motion_depth.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int kFrames = 8;

uint32_t Texel(uint32_t seed, int32_t u, int32_t v) {
  // Cells of 20 pixels, blended across their width: texture the flow can follow.
  const auto cell = [seed](int32_t i, int32_t j) {
    uint32_t h = seed ^ static_cast<uint32_t>(i) * 73856093u ^ static_cast<uint32_t>(j) * 19349663u;
    h = (h ^ h >> 13) * 1274126177u;
    return (h ^ h >> 16) & 0xFF;
  };
  const int32_t i = u >= 0 ? u / 20 : (u - 19) / 20;
  const int32_t j = v / 20;
  const uint32_t f = static_cast<uint32_t>(u - i * 20) * 255 / 20;
  const uint32_t g = (cell(i, j) * (255 - f) + cell(i + 1, j) * f) / 255;
  return g | g << 8 | (g / 2 + 60) << 16;
}

std::vector<std::vector<uint32_t>> MovingShot() {
  struct Layer {
    int32_t left, top, right, bottom;
    uint32_t seed;
    int32_t slide;  // pixels a frame
  } const layers[] = {
      {0, 0, kWidth, kHeight, 1, 2}, {200, 600, 1400, 1000, 2, 8}, {900, 100, 1900, 450, 3, 14}};
  std::vector<std::vector<uint32_t>> frames(kFrames,
                                            std::vector<uint32_t>(size_t{kWidth} * kHeight));
  for (int t = 0; t < kFrames; ++t) {
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        for (int k = 2; k >= 0; --k) {
          const int32_t u = x + layers[k].slide * t;
          if (k > 0 && (u < layers[k].left || u >= layers[k].right || y < layers[k].top ||
                        y >= layers[k].bottom)) {
            continue;
          }
          frames[t][static_cast<size_t>(kHeight - 1 - y) * kWidth + x] =
              Texel(layers[k].seed, u, y);
          break;
        }
      }
    }
  }
  return frames;
}

void BM_MotionDepth1080p(benchmark::State& state) {
  static const std::vector<std::vector<uint32_t>> frames = MovingShot();
  std::vector<uint8_t> plane(size_t{kWidth} * kHeight);
  zqr::MotionDepth motion;
  motion.Open(kWidth, kHeight);
  int t = 0;
  for (auto _ : state) {
    // Forward through the shot, then back: each step is one frame's motion.
    const int at = t % (2 * kFrames - 2);
    motion.Estimate(frames[at < kFrames ? at : 2 * kFrames - 2 - at].data(), kWidth, plane.data());
    benchmark::DoNotOptimize(plane.data());
    ++t;
  }
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_MotionDepth1080p)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
