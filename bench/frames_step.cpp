// Speed of the frame kernels and of the whole per-frame step, one thread, at 640x480,
// 1280x720 and 1920x1080, beside the time of one memcpy of the frame. The argument of
// each benchmark is the size index (for BM_WholeStepStripRows: rows per strip at
// 1920x1080); BM_WholeStep runs the step in strips as the callback does,
// BM_WholeStepInStages the same stages one after the other over whole frames.
//
//   build/bench/frames_step [--benchmark_filter=1080]
//   build/bench/frames_step --benchmark_filter=BM_Layout   (the output layouts)
//   ZQR_FORCE_SCALAR=1 build/bench/frames_step   (the plain kernels)
#include <benchmark/benchmark.h>

#include <unistd.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/brightness_contrast.h"
#include "frames/frame.h"
#include "frames/frame_file.h"
#include "frames/frame_step.h"
#include "frames/kernels.h"
#include "frames/layouts.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "frames/yuv420.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"

namespace {

using zqr::frames::FrameArray;

struct Size {
  int32_t w;
  int32_t h;
};
// The last size is an eighth of 1920x1080: a step's five frames of it (5 MB) stay in the
// cache, so eight steps of it show what a 1920x1080 step costs without waiting on memory.
constexpr Size kSizes[] = {{640, 480}, {1280, 720}, {1920, 1080}, {1920, 135}};

FrameArray RandomFrame(Size size, uint32_t seed) {
  FrameArray frame;
  frame.Allocate(size.w, size.h + 1);
  std::mt19937 rng(seed);
  for (int64_t i = 0; i < int64_t{size.w} * size.h; ++i) frame.data()[i] = rng();
  return frame;
}

void Label(benchmark::State& state, Size size) {
  state.SetLabel(std::to_string(size.w) + "x" + std::to_string(size.h) + " " +
                 zqr::frames::ActiveKernels().name);
  state.SetBytesProcessed(state.iterations() * int64_t{size.w} * size.h * 4);
}

void BM_Memcpy(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  const FrameArray src = RandomFrame(size, 1);
  FrameArray dst;
  dst.Allocate(size.w, size.h + 1);
  for (auto _ : state) {
    std::memcpy(dst.data(), src.data(), src.byte_size());
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

// The same copy with each frame coming fresh from memory, as a decoded frame does: the copy
// rotates through 128 MiB of frames, more than the caches hold.
void BM_MemcpyCold(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  const size_t bytes = size_t{4} * static_cast<size_t>(size.w) * static_cast<size_t>(size.h);
  const size_t count = std::max<size_t>(4, (size_t{128} << 20) / bytes);
  std::vector<std::vector<uint32_t>> frames(count, std::vector<uint32_t>(bytes / 4, 1));
  size_t k = 0;
  for (auto _ : state) {
    std::memcpy(frames[(k + 1) % count].data(), frames[k].data(), bytes);
    k = (k + 2) % count;
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

void BM_Smooth(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  FrameArray frame = RandomFrame(size, 2);
  for (auto _ : state) {
    zqr::frames::SmoothFramePass(frame.data(), size.w, int64_t{size.w} * size.h);
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

void BM_BrightnessContrast(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  FrameArray frame = RandomFrame(size, 3);
  for (auto _ : state) {
    zqr::frames::ApplyBrightnessContrast(frame.data(), int64_t{size.w} * size.h, 1, 140, 1, 127);
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

void BM_SharpenCopy(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  const FrameArray src = RandomFrame(size, 4);
  FrameArray dst;
  dst.Allocate(size.w, size.h + 1);
  for (auto _ : state) {
    zqr::frames::SharpenCopy(src.data(), dst.data(), size.w, size.h, size.h + 1, 1, 1);
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

void BM_StereoDynamicDepth(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  FrameArray arrays[6];
  for (FrameArray& a : arrays) a.Allocate(size.w, size.h + 1);
  const FrameArray input = RandomFrame(size, 5);
  arrays[2] = RandomFrame(size, 6);
  const zqr::frames::StereoFrameSet set{&arrays[0], &arrays[1], &arrays[2],
                                        &arrays[3], &arrays[4], &arrays[5]};
  for (auto _ : state) {
    state.PauseTiming();
    std::memcpy(arrays[0].data(), input.data(), input.byte_size());
    state.ResumeTiming();
    zqr::frames::StereoFrameStep(set, {0, 6, 1, 30});
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

bool Discard(const std::string&, int32_t, int32_t, const uint32_t*, int32_t) {
  return true;
}

// The crop into a frame of the writers' own, as a frame file's copy is made where the
// callback cannot hand its frame over (the file itself is not written).
void BM_CropIntoWriter(benchmark::State& state) {
  const Size size = kSizes[state.range(0)];
  const FrameArray src = RandomFrame(size, 8);
  zqr::frames::FrameFileWriter::Options options;
  options.write = Discard;
  zqr::frames::FrameFileWriter writer(options);
  for (auto _ : state) writer.Submit("x", src.data(), size.w - 16, size.h, size.w);
  writer.WaitAll();
  Label(state, size);
}

// The encoder's 4:2:0 picture of a frame file at 1904x1080 (a 1920x1080 frame cropped
// by 16 columns, as the frame files hold it).
void BM_Yuv420(benchmark::State& state) {
  const Size size = {1904, 1080};
  const FrameArray frame = RandomFrame(size, 11);
  std::vector<uint8_t> out(static_cast<size_t>(zqr::frames::Yuv420SizeFor(size.w, size.h).bytes));
  for (auto _ : state) {
    zqr::frames::BottomUpBgraToYuv420(reinterpret_cast<const uint8_t*>(frame.data()), size.w,
                                      size.h, out.data());
    benchmark::ClobberMemory();
  }
  Label(state, size);
}

// One frame of each output layout (the first argument, in the order of OutputLayout;
// 0 is today's merge) at 1904x1080, dynamic stereo at tuning 6, the second argument
// turning 3D Depth on (divisor 30). Bytes processed count the input frame, so the figures
// compare as costs per frame; the full side-by-side and top-and-bottom layouts write twice
// the pixels.
void BM_Layout(benchmark::State& state) {
  const Size size = {1904, 1080};
  const auto layout = static_cast<zqr::frames::OutputLayout>(state.range(0));
  const FrameArray current = RandomFrame(size, 12);
  const FrameArray previous = RandomFrame(size, 13);
  std::vector<uint32_t> out(
      static_cast<size_t>(zqr::frames::LayoutOutputSize(layout, size.w, size.h).pixels));
  zqr::frames::LayoutScratch scratch;
  const zqr::frames::StereoSettings settings{0, 6, static_cast<int32_t>(state.range(1)), 30};
  for (auto _ : state) {
    zqr::frames::ComposeLayout(layout, current.data(), previous.data(), size.w, size.h, settings,
                               out.data(), scratch);
    benchmark::ClobberMemory();
  }
  Label(state, size);
  state.SetLabel(std::string(zqr::frames::LayoutName(layout)) +
                 (state.range(1) != 0 ? " depth " : " ") + zqr::frames::ActiveKernels().name);
}

// Writing one frame file to a file in memory (/dev/shm, else /tmp), the writer thread's
// work: argument 0 the cropped copy made first and written in one block, as a copy per
// file does it; argument 1 the rows written straight from the frame in one gathered write,
// as the frame step's hand-over does it.
void BM_WriteFrameFile(benchmark::State& state) {
  const Size size = kSizes[2];
  const FrameArray frame = RandomFrame(size, 10);
  const int32_t width = size.w - 16;
  const std::string folder = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
  const std::string path = folder + "/zqr-bench-" + std::to_string(getpid()) + ".bmp";
  std::vector<uint32_t> copy(static_cast<size_t>(width) * size.h);
  for (auto _ : state) {
    if (state.range(0) == 0) {
      for (int32_t y = 0; y < size.h; ++y) {
        std::memcpy(copy.data() + int64_t{y} * width, frame.data() + int64_t{y} * size.w,
                    static_cast<size_t>(width) * 4);
      }
      benchmark::DoNotOptimize(
          zqr::frames::WriteFrameFileNow(path, width, size.h, copy.data(), width));
    } else {
      benchmark::DoNotOptimize(
          zqr::frames::WriteFrameFileNow(path, width, size.h, frame.data(), size.w));
    }
  }
  std::remove(path.c_str());
  Label(state, size);
}

// The whole per-frame step through the callback body: noise 1 pass, brightness and
// contrast, sharpen 1 / radius 1, dynamic stereo with 3D Depth, and the frame handed to the
// frame-file writers, which crop it on the way to the disk (files discarded, so the disk
// does not count; BM_WriteFrameFile times the writing). The input buffer stands for the
// grabber's sample.
void WholeStep(benchmark::State& state, Size size, int64_t strip) {
  zqr::SetFrameStepStrip(strip);
  zqr::Settings.CpuLimitOn = 0;
  zqr::Settings.NoiseOn = 1;
  zqr::Settings.NoisePasses = 1;
  zqr::Settings.BrightnessOn = 1;
  zqr::Settings.Brightness = 140;
  zqr::Settings.ContrastOn = 1;
  zqr::Settings.Contrast = 127;
  zqr::Settings.SharpenOn = 1;
  zqr::Settings.SharpenAmount = 1;
  zqr::Settings.SharpenRadius = 1;
  zqr::Settings.StereoOn = 1;
  zqr::Settings.StereoMode = 0;
  zqr::Settings.StereoTuning = 6;
  zqr::Settings.DepthOn = 1;
  zqr::Settings.DepthDivisor = 30;
  zqr::Shell.TempFolder = "/nonexistent";
  zqr::frames::FrameFileWriter::Options options;
  options.write = Discard;
  zqr::ConfigureFrameFileWriters(options);
  zqr::AllocateGrabFrames(size.w, size.h);
  const FrameArray input = RandomFrame(size, 9);
  const int64_t bytes = int64_t{size.w} * size.h * 4;
  zqr::RecordingPlan plan{"/nonexistent"};
  plan.numframes = 1000;
  zqr::FrameRecording recording(std::move(plan));
  if (!recording.AllocateArrays()) {
    state.SkipWithError("out of memory");
    return;
  }
  for (auto _ : state) zqr::BufferCB(recording, input.data(), bytes);
  recording.WaitForFiles();
  zqr::SetFrameStepStrip(zqr::frames::kFrameStepStrip);
  Label(state, size);
}

// The whole step as the callback runs it: the stages in strips of kFrameStepStrip pixels.
void BM_WholeStep(benchmark::State& state) {
  WholeStep(state, kSizes[state.range(0)], zqr::frames::kFrameStepStrip);
}

// The same with the stages one after the other over whole frames.
void BM_WholeStepInStages(benchmark::State& state) {
  WholeStep(state, kSizes[state.range(0)], 0);
}

// 1920x1080 with strips of other sizes (the argument: rows per strip).
void BM_WholeStepStripRows(benchmark::State& state) {
  WholeStep(state, kSizes[2], state.range(0) * kSizes[2].w);
}

#define SIZES Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond)
BENCHMARK(BM_Memcpy)->SIZES->Arg(3);
BENCHMARK(BM_MemcpyCold)->SIZES;
BENCHMARK(BM_Smooth)->SIZES->Arg(3);
BENCHMARK(BM_BrightnessContrast)->SIZES->Arg(3);
BENCHMARK(BM_SharpenCopy)->SIZES->Arg(3);
BENCHMARK(BM_StereoDynamicDepth)->SIZES->Arg(3);
BENCHMARK(BM_CropIntoWriter)->SIZES;
BENCHMARK(BM_Yuv420)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Layout)
    ->ArgsProduct({{0, 1, 2, 3, 4, 5, 6, 7}, {0, 1}})
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WriteFrameFile)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_WholeStep)->SIZES->Arg(3);
BENCHMARK(BM_WholeStepInStages)->SIZES;
BENCHMARK(BM_WholeStepStripRows)
    ->Arg(1)
    ->Arg(2)
    ->Arg(4)
    ->Arg(8)
    ->Arg(16)
    ->Arg(64)
    ->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
