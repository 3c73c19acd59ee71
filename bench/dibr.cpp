// The depth renderer at 1920x1080: both eyes of one frame on one thread, and split by rows
// over N threads (run it under taskset to fix the cores), on a textured picture with two
// depth planes. The first has a ground, a wall and an object in front, whole rows of one
// depth; the second is as a depth video or an estimator gives them, a smooth ramp with soft
// bumps, a few small objects with steep sides, and a level of noise, so that neighbours
// mostly differ by a level or so. BM_DibrKernelSet compares the kernels on one thread.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <thread>
#include <vector>

#include "frames/dibr.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

enum SceneKind { kRuns = 0, kSmooth = 1 };

struct Scene {
  std::vector<uint32_t> picture, left, right;
  std::vector<uint8_t> depth;
  explicit Scene(SceneKind kind)
      : picture(kWidth * kHeight),
        left(kWidth * kHeight),
        right(kWidth * kHeight),
        depth(kWidth * kHeight) {
    uint32_t seed = 12345;
    const auto next = [&seed] {
      seed = seed * 1664525u + 1013904223u;
      return seed >> 8;
    };
    for (uint32_t& p : picture) p = next();
    if (kind == kRuns) {
      for (int32_t y = 0; y < kHeight; ++y) {
        for (int32_t x = 0; x < kWidth; ++x) {
          // The ground rises towards the viewer below the horizon; a box stands in front.
          const bool box = x > 700 && x < 1200 && y > 300 && y < 800;
          const int ground = y > 540 ? 60 + (y - 540) * 190 / 540 : 40;
          depth[Index(x, y)] = static_cast<uint8_t>(box ? 230 : ground);
        }
      }
      return;
    }
    std::vector<float> level(depth.size());
    for (int32_t y = 0; y < kHeight; ++y) {
      for (int32_t x = 0; x < kWidth; ++x) {
        level[Index(x, y)] = 50.0f + 110.0f * x / kWidth + 50.0f * y / kHeight;
      }
    }
    // Soft bumps (slopes of a few levels a pixel at most) and small objects whose sides
    // climb 70 levels over 3 pixels, depth edges.
    for (int i = 0; i < 24; ++i) {
      const bool object = i % 3 == 0;
      const float cx = static_cast<float>(next() % kWidth);
      const float cy = static_cast<float>(next() % kHeight);
      const float radius = object ? 15.0f + next() % 45 : 30.0f + next() % 90;
      const float height = object ? 70.0f : 20.0f + next() % 50;
      const int32_t reach = static_cast<int32_t>(object ? radius + 3 : 3 * radius);
      for (int32_t y = std::max(0, static_cast<int32_t>(cy) - reach);
           y < std::min(kHeight, static_cast<int32_t>(cy) + reach); ++y) {
        for (int32_t x = std::max(0, static_cast<int32_t>(cx) - reach);
             x < std::min(kWidth, static_cast<int32_t>(cx) + reach); ++x) {
          const float r = std::hypot(x - cx, y - cy);
          level[Index(x, y)] += object ? height * std::clamp((radius - r) / 3.0f, 0.0f, 1.0f)
                                       : height * std::exp(-r * r / (2 * radius * radius));
        }
      }
    }
    for (size_t i = 0; i < depth.size(); ++i) {
      const float noise = static_cast<float>(next() % 3) - 1.0f;
      depth[i] = static_cast<uint8_t>(std::clamp(std::lround(level[i] + noise), 0L, 255L));
    }
  }
  static size_t Index(int32_t x, int32_t y) {
    return static_cast<size_t>(y) * kWidth + static_cast<size_t>(x);
  }
};

Scene& SceneOf(SceneKind kind) {
  static Scene runs(kRuns), smooth(kSmooth);
  return kind == kRuns ? runs : smooth;
}

void BothEyes(benchmark::State& state, SceneKind kind) {
  Scene& scene = SceneOf(kind);
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
  state.SetLabel(zqr::frames::ActiveDibrKernels().name);
}
void BM_DibrBothEyes(benchmark::State& state) {
  BothEyes(state, kRuns);
}
void BM_DibrBothEyesSmooth(benchmark::State& state) {
  BothEyes(state, kSmooth);
}
BENCHMARK(BM_DibrBothEyes)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DibrBothEyesSmooth)->Arg(1)->Arg(2)->UseRealTime()->Unit(benchmark::kMillisecond);

// Both eyes of a frame on this thread by one kernel: 0 the plain one, then each set this
// CPU can run; the second argument is the scene.
void BM_DibrKernelSet(benchmark::State& state) {
  const std::vector<zqr::frames::DibrKernels> sets = zqr::frames::AvailableDibrKernelSets();
  const auto index = static_cast<size_t>(state.range(0));
  if (index > sets.size()) {
    state.SkipWithError("no such kernel set on this CPU");
    return;
  }
  const zqr::frames::EyeRowKernel render =
      index == 0 ? zqr::frames::RenderEyeRowScalar : sets[index - 1].render_eye_row;
  Scene& scene = SceneOf(static_cast<SceneKind>(state.range(1)));
  const zqr::frames::DibrSettings settings;
  const zqr::frames::EyeShifts left = zqr::frames::LeftEyeShifts(settings, kWidth);
  const zqr::frames::EyeShifts right = zqr::frames::RightEyeShifts(settings, kWidth);
  zqr::frames::DibrRowScratch scratch;
  for (auto _ : state) {
    for (int32_t y = 0; y < kHeight; ++y) {
      const size_t row = Scene::Index(0, y);
      render(&scene.picture[row], &scene.depth[row], kWidth, left, &scene.left[row], scratch);
      render(&scene.picture[row], &scene.depth[row], kWidth, right, &scene.right[row], scratch);
    }
    benchmark::DoNotOptimize(scene.left.data());
    benchmark::DoNotOptimize(scene.right.data());
  }
  state.SetLabel(index == 0 ? "plain" : sets[index - 1].name);
}
BENCHMARK(BM_DibrKernelSet)
    ->ArgsProduct({{0, 1, 2, 3, 4}, {kRuns, kSmooth}})
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
