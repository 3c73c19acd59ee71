// The depth renderer at 1920x1080: both eyes of one frame on one thread, and split by rows
// over N threads (run it under taskset to fix the cores), on a textured picture with a depth
// plane of a ground, a wall and an object in front, as a real frame has them.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <thread>
#include <vector>

#include "frames/dibr.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

struct Scene {
  std::vector<uint32_t> picture, left, right;
  std::vector<uint8_t> depth;
  Scene()
      : picture(kWidth * kHeight),
        left(kWidth * kHeight),
        right(kWidth * kHeight),
        depth(kWidth * kHeight) {
    uint32_t seed = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        seed = seed * 1664525u + 1013904223u;
        const size_t i = static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
        picture[i] = seed >> 8;
        // The ground rises towards the viewer below the horizon; a box stands in front.
        const bool box = x > 700 && x < 1200 && y > 300 && y < 800;
        const int ground = y > 540 ? 60 + (y - 540) * 190 / 540 : 40;
        depth[i] = static_cast<uint8_t>(box ? 230 : ground);
      }
    }
  }
};

void BM_DibrBothEyes(benchmark::State& state) {
  static Scene scene;
  const int threads = static_cast<int>(state.range(0));
  zqr::frames::DibrSettings settings;
  std::vector<zqr::frames::DibrRowScratch> scratch(static_cast<size_t>(threads));
  for (auto _ : state) {
    std::vector<std::thread> workers;
    for (int t = 0; t < threads; ++t) {
      const int32_t begin = kHeight * t / threads;
      const int32_t end = kHeight * (t + 1) / threads;
      workers.emplace_back([&, t, begin, end] {
        zqr::frames::RenderDibrRows(scene.picture.data(), kWidth, scene.depth.data(), kWidth,
                                    kWidth, begin, end, settings, scene.left.data(),
                                    scene.right.data(), scratch[static_cast<size_t>(t)]);
      });
    }
    for (std::thread& w : workers) w.join();
    benchmark::DoNotOptimize(scene.left.data());
    benchmark::DoNotOptimize(scene.right.data());
  }
}
BENCHMARK(BM_DibrBothEyes)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
