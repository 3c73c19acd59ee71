// Responsiveness of the window while a 1920 x 1080, 30 fps clip plays in it (run with a
// display, e.g. an Xvfb): how many of the clip's frames the preview never showed, and how
// long a question posted to the GUI thread waits before the GUI thread answers it (every
// 10 ms, the round trip of a call that lists the window's controls). The clip is made from
// lavfi's testsrc2 when it is not there yet; its frame counter in the top-left corner tells
// the frames apart. Measured twice: the preview of the filtered picture (Option > Preview
// the converted picture off), and the converted picture with the dynamic stereo effect in
// the side-by-side layout, the dearest frame step the preview can be asked for.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/commands.h"
#include "app/preview.h"
#include "app/startup_window.h"
#include "app/window_layout.h"
#include "app/window_observer.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/layouts.h"
#include "frames/scale_to_rgb.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/preview_step.h"
#include "video/video_state.h"

namespace zqr {
namespace {

constexpr double kClipSeconds = 10.0;

std::string ClipPath() {
  if (const char* path = std::getenv("ZQR_WINDOW_BENCH_CLIP")) return path;
  return "window_bench_1080p30.mp4";
}

bool EnsureClip(const std::string& path) {
  platform::Redirections quiet;
  quiet.output_path = "/dev/null";
  quiet.error_path = "/dev/null";
  if (platform::RunCommandLine("test -s \"" + path + "\"", quiet).exit_code == 0) return true;
  return platform::RunCommandLine(
             "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 10 "
             "-c:v libx264 -preset fast -pix_fmt yuv420p \"" +
                 path + "\"",
             quiet)
             .exit_code == 0;
}

// Distinct pictures the preview was given: the frame counter's corner, hashed.
std::mutex seen_mutex;
uint64_t last_hash = 0;
int64_t distinct_frames = 0;
int64_t first_ms = 0, last_ms = 0;
int64_t converted_pictures = 0;  // pictures the preview showed as a conversion writes them

void CountingPreview(const PreviewFrame& frame) {
  const int32_t w = frame.width, h = frame.height;
  if (w > 200 && h > 60 && frame.pixels != nullptr) {
    uint64_t hash = 1469598103934665603ull;
    for (int32_t row = h - 60; row < h; ++row) {
      const uint32_t* line = frame.pixels + int64_t{row} * frame.stride;
      for (int32_t x = 0; x < 200; ++x) hash = (hash ^ line[x]) * 1099511628211ull;
    }
    std::lock_guard lock(seen_mutex);
    // Called from the poll, which holds the playing video's preview step.
    const std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
    if (video && video->preview_step().Shown != PreviewStepState::Shows::kNothing) {
      ++converted_pictures;
    }
    if (hash != last_hash) {
      last_hash = hash;
      ++distinct_frames;
      last_ms = platform::MonotonicMs();
      if (first_ms == 0) first_ms = last_ms;
    }
  }
  DrawPreviewFrame(frame);
}

// The window's observer with its preview replaced by the count above.
class CountingObserver final : public ObserverRelay {
 public:
  CountingObserver() : ObserverRelay(WindowObserver()) {}
  void ShowPreviewFrame(const PreviewFrame& frame) override { CountingPreview(frame); }
};

// The window's observer, drawing every preview.
class DrawingObserver final : public ObserverRelay {
 public:
  DrawingObserver() : ObserverRelay(WindowObserver()) {}
  void ShowPreviewFrame(const PreviewFrame& frame) override { DrawPreviewFrame(frame); }
};

void BM_PlayingClipInWindow(benchmark::State& state) {
  const std::string clip = ClipPath();
  if (std::getenv("DISPLAY") == nullptr || !EnsureClip(clip)) {
    state.SkipWithError("needs a display and ffmpeg");
    return;
  }
  platform::InstallFfmpegMedia();
  ResetSettingsToStartValues();
  // 1: dynamic stereo side by side; 2: the depth map found in the video, 3: the depth map
  // from the prior alone, both half side by side.
  const bool converted = state.range(0) >= 1;
  const bool depth_map = state.range(0) >= 2;
  Settings.PreviewConverted = converted ? 1 : 0;
  Settings.StereoOn = converted ? 1 : 0;
  Settings.StereoMode = depth_map ? kDepthMapMode : 0;
  Settings.DepthFromPrior = state.range(0) == 3 ? 1 : 0;
  Settings.Layout =
      static_cast<int32_t>(depth_map ? frames::OutputLayout::kHalfSbs : frames::OutputLayout::kSbs);
  Settings.SharpenAmount = 1;  // what a settings file's stored 0 loads as
  {
    std::lock_guard lock(seen_mutex);
    last_hash = 0;
    distinct_frames = 0;
    first_ms = last_ms = 0;
    converted_pictures = 0;
  }
  ConnectWindowCommands();
  CountingObserver counting;
  std::vector<double> waits_ms;
  for (auto _ : state) {
    platform::MainWindowSpec spec;
    spec.layout = MainWindowLayout();
    spec.events = MainWindowEvents();
    std::thread loader, prober;
    spec.on_created = [&] {
      loader = std::thread([clip, &counting] {
        Video.PlayState = 1;
        BuildAndPlayGraph(clip, counting);
      });
      prober = std::thread([&] {
        // Wait for the first frame, then ask every 10 ms for the clip's length.
        for (bool started = false; !started; platform::SleepMs(10)) {
          std::lock_guard lock(seen_mutex);
          started = first_ms != 0;
        }
        const int64_t start = platform::MonotonicMs();
        while (platform::MonotonicMs() - start < static_cast<int64_t>(kClipSeconds * 1000) - 500) {
          const auto asked = std::chrono::steady_clock::now();
          platform::LiveControls();
          waits_ms.push_back(
              std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - asked)
                  .count());
          platform::SleepMs(10);
        }
        Video.PlayState = 0;
        platform::SleepMs(500);
        platform::CurrentUi().CloseMainWindow();
      });
    };
    const auto began = std::chrono::steady_clock::now();
    platform::RunMainWindow(spec);
    if (prober.joinable()) prober.join();
    if (loader.joinable()) loader.join();
    state.SetIterationTime(
        std::chrono::duration<double>(std::chrono::steady_clock::now() - began).count());
  }
  std::sort(waits_ms.begin(), waits_ms.end());
  auto percentile = [&](double p) {
    return waits_ms.empty() ? 0.0 : waits_ms[static_cast<size_t>(p * double(waits_ms.size() - 1))];
  };
  std::lock_guard lock(seen_mutex);
  const double shown_seconds = static_cast<double>(last_ms - first_ms) / 1000.0;
  const double expected = shown_seconds * 30.0 + 1.0;
  state.counters["frames_shown"] = static_cast<double>(distinct_frames);
  state.counters["frames_expected"] = expected;
  state.counters["converted_pictures"] = static_cast<double>(converted_pictures);
  state.counters["dropped_percent"] =
      std::max(0.0, 100.0 * (expected - static_cast<double>(distinct_frames)) / expected);
  state.counters["gui_wait_p50_ms"] = percentile(0.50);
  state.counters["gui_wait_p99_ms"] = percentile(0.99);
  state.counters["gui_wait_max_ms"] = percentile(1.0);
  state.counters["questions"] = static_cast<double>(waits_ms.size());
}
// The preview's share of each polled frame: one 1920 x 1080 frame scaled into the area.
void BM_ScalePreview1080p(benchmark::State& state) {
  std::vector<uint32_t> frame(size_t{1920} * 1081);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint32_t>(i * 2654435761u);
  std::vector<uint8_t> area(size_t{600} * 600 * 3);
  for (auto _ : state) {
    frames::ScaleFrameToRgb(frame.data(), 1920, 1920, 1080, area.data(), 600 * 3, 600, 338, 131,
                            600);
    benchmark::DoNotOptimize(area.data());
  }
}
BENCHMARK(BM_ScalePreview1080p)->Unit(benchmark::kMillisecond);

// One polled 1920 x 1080 picture from GrabBuffer to the preview area, on the poll's thread:
// argument 0 the filtered picture, 1 the converted picture (sharpen, dynamic stereo, side
// by side).
void BM_PolledPicture1080p(benchmark::State& state) {
  ResetSettingsToStartValues();
  Settings.PreviewConverted = state.range(0) == 1 ? 1 : 0;
  Settings.StereoOn = 1;
  Settings.Layout = static_cast<int32_t>(frames::OutputLayout::kSbs);
  Settings.SharpenAmount = 1;  // what a settings file's stored 0 loads as
  if (!AllocateGrabFrames(1920, 1080)) {
    state.SkipWithError("no memory");
    return;
  }
  uint32_t* grab = FrameStore.GrabBuffer.data();
  for (int64_t i = 0; i < int64_t{1920} * 1080; ++i)
    grab[i] = static_cast<uint32_t>(i * 2654435761u);
  DrawingObserver drawing;
  PreviewStepState step;
  for (auto _ : state) {
    grab[0] ^= 0x00010101;  // each poll a new picture, as while the clip plays
    ShowPolledFrame(step, drawing);
  }
  ClearPreviewFrames(nullptr);
}
BENCHMARK(BM_PolledPicture1080p)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

// Argument 0: the filtered picture; 1: the converted picture, dynamic stereo, side by side;
// 2: the depth map found in the video, 3: the depth map from the prior, half side by side.
BENCHMARK(BM_PlayingClipInWindow)
    ->Arg(0)
    ->Arg(1)
    ->Arg(2)
    ->Arg(3)
    ->Iterations(1)
    ->UseManualTime()
    ->Unit(benchmark::kSecond);

}  // namespace
}  // namespace zqr

BENCHMARK_MAIN();
