// Frames per second that the FFmpeg graph delivers with its clock off and an empty
// callback (the conversion's pace before any frame work), beside the system ffmpeg
// decoding the same clip to BGRA into nothing, timed in the same run. The clip is a
// 1920 x 1080 H.264 movie made from lavfi's testsrc2 when it is not there yet
// (ZQR_MEDIA_BENCH_CLIP names another one).
#include <benchmark/benchmark.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <string>
#include <thread>

#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/media.h"
#include "platform/process.h"

namespace {

using namespace zqr::platform;  // NOLINT(google-build-using-namespace)

std::string ClipPath() {
  if (const char* path = std::getenv("ZQR_MEDIA_BENCH_CLIP")) return path;
  return "media_bench_1080p.mp4";
}

bool Exists(const std::string& path) {
  Redirections quiet;
  quiet.output_path = "/dev/null";
  quiet.error_path = "/dev/null";
  return RunCommandLine("test -s \"" + path + "\"", quiet).exit_code == 0;
}

bool EnsureClip(const std::string& path) {
  if (Exists(path)) return true;
  const std::string line =
      "ffmpeg -v error -y -f lavfi -i testsrc2=size=1920x1080:rate=30 -t 10 -c:v libx264 "
      "-preset fast -pix_fmt yuv420p \"" +
      path + "\"";
  return RunCommandLine(line).exit_code == 0 && Exists(path);
}

class CountingCallback final : public SampleGrabberCallback {
 public:
  MediaStatus SampleCB(double, const GrabbedSample&) override { return MediaStatus::kOk; }
  MediaStatus BufferCB(double, uint8_t*, int32_t) override {
    frames.fetch_add(1, std::memory_order_relaxed);
    return MediaStatus::kOk;
  }
  std::atomic<int64_t> frames{0};
};

// One pass over the clip: build, clock off, callback with selector 1, run to the end.
int64_t PlayThrough(const std::string& path) {
  auto graph = CreateFfmpegGraph();
  MediaType type;
  type.majortype = MajorType::kVideo;
  type.subtype = SubType::kRgb32;
  type.formattype = FormatType::kVideoInfo;
  graph->CreateSampleGrabber();
  graph->AddGrabberFilter("Sample Grabber");
  graph->SetMediaType(type);
  if (Failed(graph->AddSourceFilter(path, "Source")) || Failed(graph->ConnectSourceToGrabber()))
    return -1;
  graph->AddNullRenderer("NullRenderer");
  graph->ConnectGrabberToNullRenderer();
  graph->SetBufferSamples(true);
  if (Failed(graph->GetConnectedMediaType(&type))) return -1;
  CountingCallback callback;
  graph->SetNoSyncSource();
  graph->SetCallback(&callback, kSelectBufferCB);
  graph->Run();
  for (;;) {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    if (graph->GetEvent(&code, &p1, &p2, 1000) == MediaStatus::kOk && code == kEcComplete) break;
  }
  graph.reset();
  return callback.frames.load();
}

// Frames in the clip, counted once by ffprobe (300 for the generated one).
int64_t ClipFrames(const std::string& path) {
  static const int64_t frames = [&] {
    const std::string count_file = path + ".frames";
    Redirections out;
    out.output_path = count_file;
    out.error_path = "/dev/null";
    RunCommandLine(
        "ffprobe -v error -count_packets -select_streams v:0 -show_entries "
        "stream=nb_read_packets -of csv=p=0 \"" +
            path + "\"",
        out);
    std::FILE* file = std::fopen(count_file.c_str(), "rb");
    long long value = -1;
    if (file != nullptr) {
      if (std::fscanf(file, "%lld", &value) != 1) value = -1;
      std::fclose(file);
    }
    std::remove(count_file.c_str());
    return static_cast<int64_t>(value);
  }();
  return frames;
}

// utime + stime from ffmpeg's -benchmark line.
double ReportedCpuSeconds(const std::string& report_path) {
  std::FILE* file = std::fopen(report_path.c_str(), "rb");
  if (file == nullptr) return 0.0;
  char line[512];
  double total = 0.0;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    double user = 0.0, system = 0.0;
    if (std::sscanf(line, "bench: utime=%lfs stime=%lfs", &user, &system) == 2)
      total = user + system;
  }
  std::fclose(file);
  return total;
}

void BM_GraphFramesClockOff(benchmark::State& state) {
  const std::string path = ClipPath();
  if (!EnsureClip(path)) {
    state.SkipWithError("cannot make the 1080p clip (ffmpeg with libx264 needed)");
    return;
  }
  int64_t frames = 0;
  const std::clock_t cpu_start = std::clock();
  for (auto _ : state) {
    const int64_t delivered = PlayThrough(path);
    if (delivered != ClipFrames(path)) {
      state.SkipWithError("the graph did not deliver every frame");
      return;
    }
    frames += delivered;
  }
  // Processor time of all the graph's threads: comparable even on a busy machine.
  const double cpu_ms = 1000.0 * static_cast<double>(std::clock() - cpu_start) / CLOCKS_PER_SEC;
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["cpu_ms_per_frame"] = cpu_ms / static_cast<double>(frames);
}
BENCHMARK(BM_GraphFramesClockOff)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

void BM_FfmpegToBgraNull(benchmark::State& state) {
  const std::string path = ClipPath();
  if (!EnsureClip(path)) {
    state.SkipWithError("cannot make the 1080p clip (ffmpeg with libx264 needed)");
    return;
  }
  // -benchmark makes ffmpeg report its own processor time ("bench: utime=... stime=...").
  Redirections report;
  report.output_path = "/dev/null";
  report.error_path = "media_bench_ffmpeg.txt";
  int64_t frames = 0;
  double cpu_seconds = 0.0;
  for (auto _ : state) {
    const std::string line =
        "ffmpeg -nostdin -v info -benchmark -i \"" + path + "\" -pix_fmt bgra -f null -";
    if (RunCommandLine(line, report).exit_code != 0) {
      state.SkipWithError("ffmpeg failed");
      return;
    }
    frames += ClipFrames(path);
    cpu_seconds += ReportedCpuSeconds(report.error_path);
  }
  std::remove(report.error_path.c_str());
  state.counters["fps"] =
      benchmark::Counter(static_cast<double>(frames), benchmark::Counter::kIsRate);
  state.counters["cpu_ms_per_frame"] = 1000.0 * cpu_seconds / static_cast<double>(frames);
}
BENCHMARK(BM_FfmpegToBgraNull)->Unit(benchmark::kMillisecond)->UseRealTime()->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
