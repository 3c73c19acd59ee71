// The graph build and play loop against a scripted graph: the order of the graph calls,
// the log lines and labels of a successful build, every failing step's message and the
// common teardown, the preview poll, the position bar and the busy guard.
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/window_observer.h"
#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "platform/headless/headless_ui.h"
#include "platform/media.h"
#include "platform/ui.h"
#include "tests/support/test_support.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/play.h"
#include "video/probe.h"
#include "video/video_state.h"

namespace zqr {
namespace {

using namespace platform;  // NOLINT(google-build-using-namespace)

// What the next scripted graph does; shared with the factory.
struct Script {
  std::string fail_at;  // name of the call that fails
  int32_t width = 640;
  int32_t height = 480;
  RefTime avg_time_per_frame = 400000;
  RefTime duration = 100'000'000;
  RefTime position = 50'000'000;
  uint32_t pixel = 0x00123456;  // what GetCurrentBuffer writes
  bool no_graph = false;
};

Script script;
std::mutex calls_mutex;
std::vector<std::string> calls;
std::atomic<int> buffer_polls{0};
std::atomic<int> graphs_alive{0};

void Record(const std::string& call) {
  std::lock_guard lock(calls_mutex);
  calls.push_back(call);
}

std::vector<std::string> Calls() {
  std::lock_guard lock(calls_mutex);
  return calls;
}

class ScriptedGraph final : public MediaGraph {
 public:
  ScriptedGraph() { ++graphs_alive; }
  ~ScriptedGraph() override { --graphs_alive; }
  const char* Name() const override { return "scripted"; }

  MediaStatus Step(const std::string& call) {
    Record(call);
    return call.rfind(script.fail_at, 0) == 0 && !script.fail_at.empty() ? MediaStatus::kUnsupported
                                                                         : MediaStatus::kOk;
  }
  MediaStatus CreateSampleGrabber() override { return Step("CreateSampleGrabber"); }
  MediaStatus AddGrabberFilter(const std::string& name) override {
    return Step("AddGrabberFilter " + name);
  }
  MediaStatus SetMediaType(const MediaType& type) override {
    const bool rgb32 = type.majortype == MajorType::kVideo && type.subtype == SubType::kRgb32 &&
                       type.formattype == FormatType::kVideoInfo;
    return Step(std::string("SetMediaType ") + (rgb32 ? "RGB32" : "other"));
  }
  MediaStatus AddSourceFilter(const std::string& file, const std::string& name) override {
    return Step("AddSourceFilter [" + file + "] " + name);
  }
  MediaStatus ConnectSourceToGrabber() override { return Step("ConnectSourceToGrabber"); }
  MediaStatus AddNullRenderer(const std::string& name) override {
    return Step("AddNullRenderer " + name);
  }
  MediaStatus ConnectGrabberToNullRenderer() override {
    return Step("ConnectGrabberToNullRenderer");
  }
  MediaStatus SetBufferSamples(bool b) override {
    return Step("SetBufferSamples " + std::to_string(b));
  }
  MediaStatus SetOneShot(bool b) override { return Step("SetOneShot " + std::to_string(b)); }
  MediaStatus SetCallback(SampleGrabberCallback* cb, int32_t selector) override {
    return Step(std::string("SetCallback ") + (cb ? "object " : "null ") +
                std::to_string(selector));
  }
  MediaStatus GetConnectedMediaType(MediaType* type) override {
    const MediaStatus hr = Step("GetConnectedMediaType");
    if (Failed(hr)) return hr;
    type->majortype = MajorType::kVideo;
    type->subtype = SubType::kRgb32;
    type->formattype = FormatType::kVideoInfo;
    type->lSampleSize = script.width * script.height * 4;
    type->format.Width = script.width;
    type->format.Height = script.height;
    type->format.AvgTimePerFrame = script.avg_time_per_frame;
    return hr;
  }
  MediaStatus GetCurrentBuffer(int32_t* size, void* buffer) override {
    ++buffer_polls;
    if (buffer == nullptr || *size < script.width * script.height * 4)
      return MediaStatus::kInvalidArgument;
    auto* pixels = static_cast<uint32_t*>(buffer);
    for (int32_t i = 0; i < script.width * script.height; ++i) pixels[i] = script.pixel;
    return MediaStatus::kOk;
  }
  MediaStatus RenderFile(const std::string& file) override {
    return Step("RenderFile [" + file + "]");
  }
  MediaStatus Run() override { return Step("Run"); }
  MediaStatus Pause() override { return Step("Pause"); }
  MediaStatus Stop() override { return Step("Stop"); }
  MediaStatus SetDefaultSyncSource() override { return Step("SetDefaultSyncSource"); }
  MediaStatus SetNoSyncSource() override { return Step("SetNoSyncSource"); }
  MediaStatus GetTimeFormat(TimeFormat* f) override {
    *f = TimeFormat::kMediaTime;
    return Step("GetTimeFormat");
  }
  MediaStatus SetTimeFormat(TimeFormat) override { return Step("SetTimeFormat"); }
  MediaStatus GetDuration(RefTime* d) override {
    *d = script.duration;
    return Step("GetDuration");
  }
  MediaStatus GetCurrentPosition(RefTime* p) override {
    *p = script.position;
    return MediaStatus::kOk;
  }
  MediaStatus SetPositions(RefTime*, int32_t, RefTime*, int32_t) override {
    return Step("SetPositions");
  }
  MediaStatus GetEvent(int32_t*, intptr_t*, intptr_t*, int32_t) override {
    return MediaStatus::kNoEvent;
  }
  MediaStatus FreeEventParams(int32_t, intptr_t, intptr_t) override { return MediaStatus::kOk; }
  MediaStatus PutVolume(int32_t v) override { return Step("PutVolume " + std::to_string(v)); }
};

std::unique_ptr<MediaGraph> MakeScripted() {
  if (script.no_graph) return nullptr;
  return std::make_unique<ScriptedGraph>();
}

std::vector<std::string> LogLines(const std::string& path) {
  std::vector<std::string> lines;
  const std::string text = test::ReadFile(path);
  size_t start = 0;
  while (start < text.size()) {
    const size_t end = text.find("\r\n", start);
    if (end == std::string::npos) break;
    lines.push_back(text.substr(start, end - start));
    start = end + 2;
  }
  return lines;
}

class GraphBuildTest : public ::testing::Test {
 protected:
  void SetUp() override {
    script = Script{};
    {
      std::lock_guard lock(calls_mutex);
      calls.clear();
    }
    buffer_polls = 0;
    // The polled picture is checked as it came: no image control of an earlier test acts.
    ResetSettingsToStartValues();
    InstallMediaGraphFactory(&MakeScripted);
    SetGraphSettleMs(0);
    log_ = dir_.File("run.log");
    SetLogFile(log_);
    ui().Clear();
    Video.PlayState = 1;  // as the loader leaves it
    Video.GraphBusy = 0;
    Video.Converting = 0;
  }
  void TearDown() override {
    InstallMediaGraphFactory(nullptr);
    SetLogFile("");
    SetCurrentLoadedVideo(nullptr);
  }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(CurrentUi()); }

  // Runs a build on its own thread (as the loader does); returns once the play loop
  // has run `polls` preview polls and been told to stop, or the build has ended.
  // `probe_text` stands for the probe's summary of the file.
  void BuildAndStopAfter(const std::string& file, int polls, int32_t* bar_while_playing = nullptr,
                         const std::string& probe_text = "") {
    std::atomic<bool> done{false};
    auto video = std::make_shared<LoadedVideo>(file);
    video->SetProbeText(probe_text);
    SetCurrentLoadedVideo(video);
    std::thread loader([&] {
      std::string failure;
      if (BuildGraphPaused(*video, &failure, WindowObserver()) == GraphBuild::kBuilt) {
        PlayBuiltGraph(*video, WindowObserver());
      }
      done = true;
    });
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(10);
    while (!done && std::chrono::steady_clock::now() < deadline) {
      // The loop sets the bar right after each poll; one more poll proves it has.
      const int wanted = bar_while_playing != nullptr ? polls + 1 : polls;
      if (Video.PlayState == 1 && buffer_polls >= wanted) {
        if (bar_while_playing != nullptr) *bar_while_playing = ui().ProgressPos(kIdPositionBar);
        Video.PlayState = 0;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    Video.PlayState = 0;
    loader.join();
  }

  // Runs a build expected to fail and checks the message and the teardown.
  void ExpectFailure(const std::string& fail_at, const std::string& message) {
    SCOPED_TRACE(fail_at);
    SetUp();
    script.fail_at = fail_at;
    BuildAndStopAfter("clip.mp4", 1);
    const auto messages = ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].text, message);
    EXPECT_EQ(messages[0].caption, "Error Monitoring");
    EXPECT_EQ(messages[0].style, kMbIconInformation);
    const auto lines = LogLines(log_);
    ASSERT_GE(lines.size(), 2u);
    EXPECT_EQ(lines[lines.size() - 2], "File exit Ok");
    EXPECT_EQ(lines.back(), "File exit Final");
    for (const auto& line : lines) EXPECT_NE(line, "**************** CYCLE STOPPED");
    EXPECT_EQ(ui().GetLabel(kIdFrameSizeLabel), "");
    EXPECT_EQ(Video.GraphBusy, 0);
    EXPECT_EQ(CurrentGraph(), nullptr);
    EXPECT_EQ(graphs_alive.load(), 0);
    EXPECT_EQ(ui().ProgressPos(kIdPositionBar), 1);
    // Nothing after the failing call.
    EXPECT_EQ(Calls().back().rfind(fail_at, 0), 0u) << Calls().back();
  }

  test::ScratchDir dir_;
  std::string log_;
};

TEST_F(GraphBuildTest, SuccessfulBuildCallsTheGraphInStepOrder) {
  BuildAndStopAfter("clip.mp4", 2);
  const std::vector<std::string> expected = {
      "CreateSampleGrabber",
      "AddGrabberFilter Sample Grabber",
      "SetMediaType RGB32",
      "AddSourceFilter [clip.mp4] Source",
      "ConnectSourceToGrabber",
      "AddNullRenderer NullRenderer",
      "ConnectGrabberToNullRenderer",
      "SetBufferSamples 1",
      "SetCallback null 0",
      "RenderFile [clip.mp4]",
      "Pause",
      "SetDefaultSyncSource",
      "GetConnectedMediaType",
      "SetOneShot 0",
      "GetTimeFormat",
      "SetTimeFormat",
      "GetDuration",
      "Run",
      "Stop",
  };
  EXPECT_EQ(Calls(), expected);
  EXPECT_TRUE(ui().Messages().empty());
  EXPECT_EQ(graphs_alive.load(), 0);
  EXPECT_EQ(CurrentGraph(), nullptr);
  EXPECT_EQ(Video.GraphBusy, 0);
}

TEST_F(GraphBuildTest, SuccessfulBuildLogsAndShowsTheVideosFigures) {
  BuildAndStopAfter(  // the name as given, blank and all
      "clip.mp4 ", 2, nullptr,
      "VIDEO file: clip.mp4\r\n\r\nvideo: h264, yuv420p, 640x480, 29.97 fps, 29.97 tbr");
  const std::vector<std::string> expected = {
      "OS_ASPECT = " + NumberText(Settings.FixAspect.load()),
      "Render file: clip.mp4 ",
      "VIDEO File Duration = 10",
      "Frame Size = 640x480",
      "getTimePerFrame = 0.0333667",
      "FPS = 29.97",
      "numframes = 299",
      "**************** CYCLE STOPPED",
      "File exit Ok",
      "File exit Final",
  };
  EXPECT_EQ(LogLines(log_), expected);
  EXPECT_EQ(ui().GetLabel(kIdFileNameLabel), " clip.mp4  ");
  EXPECT_EQ(ui().GetLabel(kIdFrameSizeLabel), "640x480");
  EXPECT_EQ(ui().GetLabel(kIdFrameRateLabel), "29.97 fps");
  EXPECT_EQ(ui().GetLabel(kIdFrameCountLabel), "299");
  EXPECT_EQ(ui().GetLabel(kIdDurationLabel), "00:00:10");
  const VideoFigures figures = CurrentLoadedVideo()->figures();
  EXPECT_EQ(figures.TimePerFrame, 333667);
  EXPECT_EQ(figures.Duration, 100'000'000);
  EXPECT_EQ(figures.SampleSize, 640 * 480 * 4);
  EXPECT_EQ(figures.FrameW, 640);
  EXPECT_EQ(figures.FrameH, 480);
  EXPECT_EQ(FrameStore.FrameW, 640);
  EXPECT_EQ(FrameStore.FrameH, 480);
  EXPECT_EQ(figures.numframes, 299);
  EXPECT_EQ(FrameStore.WorkFrame.width(), 640);
  EXPECT_EQ(FrameStore.WorkFrame.rows(), 481);
  EXPECT_EQ(FrameStore.GrabBuffer.rows(), 481);
  EXPECT_EQ(FrameStore.FramePixelCount, 307200);
}

TEST_F(GraphBuildTest, PlayLoopPollsThePreviewAndMovesTheBar) {
  script.width = 64;
  script.height = 32;
  script.pixel = 0x00ABCDEF;
  script.position = 25'000'000;  // a quarter of the way: round(598 / 4) = 150 (149.5, even)
  int32_t bar = 0;
  BuildAndStopAfter("clip.mp4", 3, &bar);
  EXPECT_EQ(bar, 150);
  EXPECT_GE(buffer_polls.load(), 3);
  // The newest polled sample went through GrabBuffer into WorkFrame; the spare row stays 0.
  const uint32_t* work = FrameStore.WorkFrame.data();
  EXPECT_EQ(work[0], 0x00ABCDEFu);
  EXPECT_EQ(work[64 * 32 - 1], 0x00ABCDEFu);
  EXPECT_EQ(work[64 * 32], 0u);
  // The teardown sets the bar back to 1.
  EXPECT_EQ(ui().ProgressPos(kIdPositionBar), 1);
}

TEST_F(GraphBuildTest, WhileConvertingTheLoopDoesNotPollNorRun) {
  Video.Converting = 1;
  std::thread stopper([] {
    std::this_thread::sleep_for(std::chrono::milliseconds(400));
    Video.Converting = 0;
  });
  BuildAndStopAfter("clip.mp4", 0);
  stopper.join();
  EXPECT_EQ(buffer_polls.load(), 0);
  for (const auto& call : Calls()) EXPECT_NE(call, "Run");
}

TEST_F(GraphBuildTest, EveryFailingStepShowsItsMessageAndTearsDown) {
  ExpectFailure("CreateSampleGrabber", "ISampleGrabber Error.");
  ExpectFailure("AddGrabberFilter", "GraphBuilder AddFilter Error.");
  ExpectFailure("SetMediaType", "ISampleGrabber SetMediaType Error.");
  // The source's own steps name the file and why it failed (the fake graph knows no more
  // than the status).
  ExpectFailure("AddSourceFilter",
                "AddSourceFile Error\r\n\r\nclip.mp4\r\nThe file cannot be read as a video: it is "
                "damaged or not a video.");
  ExpectFailure("ConnectSourceToGrabber",
                "Unsupported media type!\r\n\r\nclip.mp4\r\nThe file cannot be read as a video: "
                "it is damaged or not a video.");
  ExpectFailure("AddNullRenderer", "AddFilter m_pNullRenderer");
  ExpectFailure("ConnectGrabberToNullRenderer", "Stream Error 010");
  ExpectFailure("SetBufferSamples", "Stream Error 011");
  ExpectFailure("GetConnectedMediaType",
                "Format of the file is not support.\r\nOr - File can be open by another app.");
}

TEST_F(GraphBuildTest, FailureAfterRenderingKeepsTheLogLinesBeforeIt) {
  script.fail_at = "GetConnectedMediaType";
  BuildAndStopAfter("clip.mp4", 1);
  const std::vector<std::string> expected = {
      "OS_ASPECT = " + NumberText(Settings.FixAspect.load()),
      "Render file: clip.mp4",
      "File exit Ok",
      "File exit Final",
  };
  EXPECT_EQ(LogLines(log_), expected);
}

TEST_F(GraphBuildTest, NoGraphBackendIsReportedNotCrashed) {
  script.no_graph = true;
  BuildAndStopAfter("clip.mp4", 1);
  const auto messages = ui().Messages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].text, kNoGraphText);
  EXPECT_EQ(LogLines(log_).back(), "File exit Final");
}

TEST_F(GraphBuildTest, UnknownFrameRateAndDurationShowZeroFrames) {
  script.avg_time_per_frame = 0;
  script.duration = 0;
  BuildAndStopAfter("clip.mp4", 1);
  EXPECT_EQ(ui().GetLabel(kIdFrameRateLabel), "00.00 fps");
  EXPECT_EQ(ui().GetLabel(kIdFrameCountLabel), "0");
  EXPECT_EQ(CurrentLoadedVideo()->figures().numframes, 0);
  const auto lines = LogLines(log_);
  EXPECT_NE(std::find(lines.begin(), lines.end(), "numframes = 0"), lines.end());
  EXPECT_NE(std::find(lines.begin(), lines.end(), "getTimePerFrame = 0"), lines.end());
}

TEST_F(GraphBuildTest, ConnectedFrameRateIsUsedWithoutProbeText) {
  script.avg_time_per_frame = 400000;
  script.duration = 20'000'000;
  BuildAndStopAfter("clip.mp4", 1);
  EXPECT_EQ(ui().GetLabel(kIdFrameRateLabel), "25.00 fps");
  EXPECT_EQ(ui().GetLabel(kIdFrameCountLabel), "50");
}

TEST_F(GraphBuildTest, BusyBuildReturnsAtOnceAndChangesNothing) {
  Video.GraphBusy = 1;
  EXPECT_EQ(BuildAndPlayGraph("clip.mp4", WindowObserver()), 0);
  EXPECT_TRUE(Calls().empty());
  EXPECT_TRUE(ui().LabelHistory().empty());
  EXPECT_TRUE(LogLines(log_).empty());
  Video.GraphBusy = 0;
}

TEST_F(GraphBuildTest, InstallingTheFrameCallbackNeedsAGraph) {
  FrameRecording recording(RecordingPlan{});
  EXPECT_EQ(InstallFrameCallback(CurrentGraph().get(), recording), MediaStatus::kNotBuilt);
  EXPECT_EQ(recording.SampleCB(0.0, GrabbedSample{}), MediaStatus::kOk);
  // An empty buffer changes nothing and still answers kOk.
  const int32_t before = FrameStore.FrameCounter;
  EXPECT_EQ(recording.BufferCB(0.0, nullptr, 0), MediaStatus::kOk);
  EXPECT_EQ(FrameStore.FrameCounter, before);
}

TEST(ClearVideoInfo, EmptiesTheLabelsAndTheProbeText) {
  auto& ui = dynamic_cast<HeadlessUi&>(CurrentUi());
  for (int id : {303, 304, 305, 306, 307, 409}) ui.SetLabel(id, "x");
  LoadedVideo video("a.mp4");
  video.SetProbeText("VIDEO file: a.mp4");
  ClearVideoInfo(WindowObserver(), &video);
  for (int id : {303, 304, 305, 306, 307, 409}) EXPECT_EQ(ui.GetLabel(id), "") << id;
  EXPECT_EQ(video.probe_text(), "");
}

}  // namespace
}  // namespace zqr
