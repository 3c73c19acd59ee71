// JPEGMAIN against libjpeg-turbo on the same job: one 1920 x 1080 32-bit picture from
// memory to a JPEG file in memory (no file writing), quality 75, float DCT, optimised
// Huffman tables, 4:4:4. Counters report each side's output size; the stage benchmarks
// show where our time goes.
#include <benchmark/benchmark.h>
#include <jpeglib.h>

#include <cmath>
#include <cstdlib>
#include <vector>

#include "jpeg/jpeg_internal.h"
#include "tests/jpeg/jpeg_test_util.h"

namespace {

using namespace zqr::jpeg;

constexpr int32_t kWidth = 1920;
constexpr int32_t kHeight = 1080;
constexpr int32_t kQuality = 75;

// A bottom-up 32-bit picture with soft waves, hard-edged shapes and grain, like a frame.
const std::vector<uint8_t>& Frame() {
  static const std::vector<uint8_t> frame = [] {
    std::vector<uint8_t> px(static_cast<size_t>(kWidth) * kHeight * 4);
    uint32_t seed = 12345;
    for (int32_t y = 0; y < kHeight; ++y) {
      uint8_t* row = px.data() + static_cast<size_t>(kHeight - 1 - y) * kWidth * 4;
      for (int32_t x = 0; x < kWidth; ++x) {
        double r = 120 + 60 * std::sin(x / 61.0) + 35 * std::sin(y / 43.0);
        double g = 110 + 50 * std::sin((x + y) / 71.0) + 40 * std::cos(y / 29.0);
        double b = 130 + 55 * std::cos(x / 37.0 - y / 53.0) + 30 * std::sin(x / 97.0);
        double dx = x - 900, dy = y - 500;
        if (dx * dx + dy * dy < 300.0 * 300.0) {
          r = 0.5 * r + 110;
          g = 0.6 * g + 20;
          b = 0.4 * b;
        }
        if (x % 97 >= 80 && x % 97 < 84) r = g = b = 235;
        seed = seed * 1664525u + 1013904223u;
        double grain = static_cast<double>((seed >> 16) % 9) - 4;
        auto clamp = [](double v) {
          return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
        };
        row[4 * x] = clamp(b + grain);
        row[4 * x + 1] = clamp(g + grain);
        row[4 * x + 2] = clamp(r + grain);
        row[4 * x + 3] = 0;
      }
    }
    return px;
  }();
  return frame;
}

void EncodeOurs(benchmark::State& state, Kernel kernel) {
  const std::vector<uint8_t>& frame = Frame();
  size_t bytes = 0;
  for (auto _ : state) {
    OutputBuffer out;
    if (!EncodeJpegWith(frame.data(), kWidth, kHeight, 32, kQuality, kernel, out)) {
      state.SkipWithError("encoding failed");
      return;
    }
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}

void BM_Jpegmain(benchmark::State& state) {
  EncodeOurs(state, SelectKernel());
}
BENCHMARK(BM_Jpegmain)->Unit(benchmark::kMillisecond);

void BM_JpegmainScalar(benchmark::State& state) {
  EncodeOurs(state, Kernel::kScalar);
}
BENCHMARK(BM_JpegmainScalar)->Unit(benchmark::kMillisecond);

// libjpeg-turbo's own quality 75 tables (its scaling truncates halves where ours rounds them
// to even), or with `same_tables` ours, so the sizes compare the entropy coding alone.
void EncodeLibjpeg(benchmark::State& state, bool same_tables) {
  const std::vector<uint8_t>& frame = Frame();
  // The same bottom-up rows, handed over top row first.
  std::vector<JSAMPROW> rows(kHeight);
  for (int32_t y = 0; y < kHeight; ++y) {
    rows[static_cast<size_t>(y)] =
        const_cast<uint8_t*>(frame.data() + static_cast<size_t>(kHeight - 1 - y) * kWidth * 4);
  }
  QualityTables ours;
  BuildQualityTables(kQuality, ours);
  jpeg_compress_struct info;
  jpeg_error_mgr error;
  info.err = jpeg_std_error(&error);
  jpeg_create_compress(&info);
  unsigned long bytes = 0;
  for (auto _ : state) {
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    jpeg_mem_dest(&info, &buffer, &size);
    info.image_width = kWidth;
    info.image_height = kHeight;
    info.input_components = 4;
    info.in_color_space = JCS_EXT_BGRX;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, kQuality, TRUE);
    test::SetLibjpegToOurJob(info, same_tables ? ours.QuantTable : nullptr);
    jpeg_start_compress(&info, TRUE);
    jpeg_write_scanlines(&info, rows.data(), kHeight);
    jpeg_finish_compress(&info);
    bytes = size;
    benchmark::DoNotOptimize(buffer);
    std::free(buffer);
  }
  jpeg_destroy_compress(&info);
  state.counters["bytes"] = static_cast<double>(bytes);
  state.SetItemsProcessed(state.iterations() * kWidth * kHeight);
}
void BM_LibjpegTurbo(benchmark::State& state) {
  EncodeLibjpeg(state, false);
}
BENCHMARK(BM_LibjpegTurbo)->Unit(benchmark::kMillisecond);

void BM_LibjpegTurboSameTables(benchmark::State& state) {
  EncodeLibjpeg(state, true);
}
BENCHMARK(BM_LibjpegTurboSameTables)->Unit(benchmark::kMillisecond);

// The stages one by one, to see where the time goes.
void BM_StagePrepare(benchmark::State& state) {
  for (auto _ : state) {
    WorkPicture picture;
    PreparePicture(Frame().data(), kWidth, kHeight, 32, picture);
    benchmark::DoNotOptimize(picture.bgr.data());
  }
}
BENCHMARK(BM_StagePrepare)->Unit(benchmark::kMillisecond);

void BM_StageTransform(benchmark::State& state) {
  QualityTables tables;
  BuildQualityTables(kQuality, tables);
  WorkPicture picture;
  PreparePicture(Frame().data(), kWidth, kHeight, 32, picture);
  CoefPlanes planes;
  planes.Allocate(picture.width8 / 8, picture.height8 / 8);
  Kernel kernel = state.range(0) == 0 ? Kernel::kScalar : SelectKernel();
  for (auto _ : state) {
    TransformPicture(picture, tables, planes, kernel);
    benchmark::DoNotOptimize(planes.values[0].data());
  }
}
BENCHMARK(BM_StageTransform)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

struct Coded {
  QualityTables tables;
  CoefPlanes planes;
  Coded() {
    BuildQualityTables(kQuality, tables);
    WorkPicture picture;
    PreparePicture(Frame().data(), kWidth, kHeight, 32, picture);
    planes.Allocate(picture.width8 / 8, picture.height8 / 8);
    TransformPicture(picture, tables, planes, SelectKernel());
  }
};

void BM_StageHuffmanTables(benchmark::State& state) {
  static Coded coded;
  for (auto _ : state) {
    HuffTable tables[4];
    benchmark::DoNotOptimize(BuildHuffmanTables(coded.planes, tables));
  }
}
BENCHMARK(BM_StageHuffmanTables)->Unit(benchmark::kMillisecond);

void BM_StageScan(benchmark::State& state) {
  static Coded coded;
  HuffTable tables[4];
  int64_t estimate = BuildHuffmanTables(coded.planes, tables);
  for (auto _ : state) {
    OutputBuffer out;
    out.Reset(static_cast<size_t>(estimate) * 13 / 10 + 1001);
    WriteScan(out, coded.planes, tables);
    benchmark::DoNotOptimize(out.data());
  }
}
BENCHMARK(BM_StageScan)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
