// A depth model's cost per 1080p frame: a keyframe (the picture made into the model's
// input, the model, the output's levels and the guided upsampling) and a frame between two
// keyframes. The model is ZQR_DEPTH_MODEL (bench/depth_model_vs_static.sh makes one of
// MiDaS small's cost); without it the test models' 1x1 convolution, which times the rest.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "video/model_depth.h"

namespace {

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;

void ModelDepthFrame(benchmark::State& state) {
  const char* file = std::getenv("ZQR_DEPTH_MODEL");
  zqr::ModelChoice choice;
  choice.file =
      file != nullptr ? file : std::string(ZQR_SOURCE_DIR) + "/tests/video/models/follow.onnx";
  choice.every = static_cast<int32_t>(state.range(0));
  zqr::ModelDepth model;
  std::string failure;
  if (!model.Open(choice, kWidth, kHeight, failure)) {
    state.SkipWithError(failure.c_str());
    return;
  }
  std::vector<uint32_t> picture(static_cast<size_t>(kWidth) * kHeight);
  for (size_t k = 0; k < picture.size(); ++k) {
    picture[k] = static_cast<uint32_t>((k * 2654435761u) >> 8) & 0xffffff;
  }
  std::vector<uint8_t> plane(picture.size());
  for (auto _ : state) {
    model.Estimate(picture.data(), kWidth, plane.data());
    benchmark::DoNotOptimize(plane.data());
  }
  state.counters["input_w"] = model.InputWidth();
  state.counters["input_h"] = model.InputHeight();
}
// 1: every frame a keyframe; 1000: the held frames between.
BENCHMARK(ModelDepthFrame)->Arg(1)->Arg(1000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
