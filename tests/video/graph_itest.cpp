// The graph build on the FFmpeg backend with real files: the figures of a good clip,
// the preview poll's newest frame, a conversion's pass over the same graph (rewind,
// clock off, callback, run to the end), and each kind of bad input ending in its
// message or a clean end of stream.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "app/window_observer.h"
#include "core/run_log.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/headless/headless_ui.h"
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

using platform::HeadlessUi;

// The top 16 rows carry the frame number as 8 black/white blocks of 8 columns.
std::string NumberedSource(int rate) {
  return "nullsrc=size=64x32:rate=" + std::to_string(rate) +
         ",format=yuv420p,geq=lum='if(lt(Y,16),255*mod(floor(N/pow(2,floor(X/8))),2),128)'"
         ":cb=128:cr=128";
}
const std::vector<std::string> kLossless = {"-c:v", "libx264", "-qp", "0"};

int FrameNumber(const uint8_t* frame) {
  int number = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const uint8_t* pixel = frame + (static_cast<size_t>(32 - 1 - 4) * 64 + bit * 8 + 4) * 4;
    if (pixel[1] > 128) number |= 1 << bit;
  }
  return number;
}

class Recorder : public platform::SampleGrabberCallback {
 public:
  platform::MediaStatus SampleCB(double, const platform::GrabbedSample&) override {
    return platform::MediaStatus::kOk;
  }
  platform::MediaStatus BufferCB(double, uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex);
    numbers.push_back(length == 64 * 32 * 4 ? FrameNumber(buffer) : -1);
    return platform::MediaStatus::kOk;
  }
  std::mutex mutex;
  std::vector<int> numbers;
};

// The number of the newest previewed frame, written by the play loop's thread as the
// preview is drawn (reading the WorkFrame from here would race with the next poll).
std::atomic<int> previewed_frame{-1};
// The window's observer, with the number of the frame each preview shows kept.
class PreviewRecorder final : public ObserverRelay {
 public:
  PreviewRecorder() : ObserverRelay(WindowObserver()) {}
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    if (frame.pixels != nullptr) {
      previewed_frame = FrameNumber(reinterpret_cast<const uint8_t*>(frame.pixels));
    }
  }
};

bool WaitFor(const std::function<bool()>& done, int seconds) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

std::string LogText(const std::string& path) {
  return test::ReadFile(path);
}

class GraphFileTest : public ::testing::Test {
 protected:
  void SetUp() override {
    setenv("SDL_AUDIODRIVER", "dummy", 1);
    platform::InstallFfmpegMedia();
    SetGraphSettleMs(0);
    log_ = dir_.File("run.log");
    SetLogFile(log_);
    ui().Clear();
    Video.PlayState = 2;  // as the loader leaves it; the play loop sets 1 once the frames exist
    Video.GraphBusy = 0;
    Video.Converting = 0;
    previewed_frame = -1;
  }
  void TearDown() override {
    Video.PlayState = 0;
    if (loader_.joinable()) loader_.join();
    SetLogFile("");
    platform::InstallMediaGraphFactory(nullptr);
  }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(platform::CurrentUi()); }

  void StartBuild(const std::string& file) {
    done_ = false;
    loader_ = std::thread([this, file] {
      BuildAndPlayGraph(file, recorder_);
      done_ = true;
    });
  }
  // Waits for the play loop (true) or for the build to end without one (false).
  bool WaitForPlaying() {
    EXPECT_TRUE(WaitFor([this] { return done_ || CurrentGraph() != nullptr; }, 20));
    EXPECT_TRUE(WaitFor([this] { return done_ || Video.PlayState == 1; }, 20));
    return !done_;
  }
  void StopAndJoin() {
    Video.PlayState = 0;
    loader_.join();
  }
  // A build that must end by itself with `message`.
  // The step's text, the file, and why, in the decoder's words where `reason` is given.
  void ExpectMessage(const std::string& file, const std::string& step_text,
                     const std::string& reason = "") {
    const std::string message =
        step_text + "\r\n\r\n" + file + "\r\nThe file cannot be read as a video: ";
    SCOPED_TRACE(file);
    ui().Clear();
    Video.PlayState = 1;
    StartBuild(file);
    ASSERT_TRUE(WaitFor([this] { return done_.load(); }, 30));
    loader_.join();
    const auto messages = ui().Messages();
    ASSERT_EQ(messages.size(), 1u);
    if (reason.empty()) {
      EXPECT_EQ(messages[0].text.rfind(message, 0), 0u) << messages[0].text;
    } else {
      EXPECT_EQ(messages[0].text, message + reason + ".");
    }
    EXPECT_EQ(messages[0].caption, "Error Monitoring");
    const std::string log = LogText(log_);
    EXPECT_NE(log.find("File exit Ok\r\nFile exit Final\r\n"), std::string::npos);
    EXPECT_EQ(CurrentGraph(), nullptr);
    EXPECT_EQ(Video.GraphBusy, 0);
  }

  test::ScratchDir dir_;
  std::string log_;
  PreviewRecorder recorder_;
  std::thread loader_;
  std::atomic<bool> done_{false};
};

TEST_F(GraphFileTest, GoodClipShowsItsFiguresAndPreviewsTheNewestFrame) {
  const std::string clip = dir_.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, NumberedSource(25), 2.0, "sine=frequency=440", kLossless));
  StartBuild(clip);
  ASSERT_TRUE(WaitForPlaying());
  EXPECT_EQ(ui().GetLabel(kIdFrameSizeLabel), "64x32");
  EXPECT_EQ(ui().GetLabel(kIdFrameRateLabel), "25.00 fps");
  EXPECT_EQ(ui().GetLabel(kIdFrameCountLabel), "50");
  EXPECT_EQ(ui().GetLabel(kIdDurationLabel), "00:00:02");
  EXPECT_EQ(ui().GetLabel(kIdFileNameLabel), " " + clip + " ");
  // The preview plays in real time: the polled frame moves on.
  ASSERT_TRUE(WaitFor([] { return previewed_frame >= 10; }, 10));
  StopAndJoin();
  const std::string log = LogText(log_);
  EXPECT_NE(log.find("Frame Size = 64x32\r\ngetTimePerFrame = 0.04\r\nFPS = 25.00\r\n"
                     "numframes = 50\r\n"),
            std::string::npos);
  EXPECT_NE(log.find("**************** CYCLE STOPPED\r\nFile exit Ok\r\nFile exit Final\r\n"),
            std::string::npos);
  EXPECT_TRUE(ui().Messages().empty());
}

TEST_F(GraphFileTest, ConversionPassOverTheLoadedGraphDeliversEveryFrameOnce) {
  const std::string clip = dir_.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, NumberedSource(25), 3.0, "sine=frequency=440", kLossless));
  StartBuild(clip);
  ASSERT_TRUE(WaitForPlaying());
  ASSERT_TRUE(WaitFor([] { return previewed_frame >= 5; }, 10));
  // The window's Convert command and the conversion driver, on another thread.
  auto graph = CurrentGraph();
  ASSERT_NE(graph, nullptr);
  graph->Stop();
  platform::RefTime zero = 0;
  graph->SetPositions(&zero, platform::kSeekAbsolutePositioning, nullptr,
                      platform::kSeekNoPositioning);
  graph->SetNoSyncSource();
  graph->SetPositions(&zero, platform::kSeekAbsolutePositioning, nullptr,
                      platform::kSeekNoPositioning);
  graph->Pause();
  Video.Converting = 1;
  Recorder rec;
  graph->SetCallback(&rec, platform::kSelectBufferCB);
  graph->PutVolume(platform::kVolumeSilent);
  graph->Run();
  bool ended = false;
  for (int pass = 0; pass < 400 && !ended; ++pass) {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    if (graph->GetEvent(&code, &p1, &p2, 0) == platform::MediaStatus::kOk) {
      graph->FreeEventParams(code, p1, p2);
      ended = code == platform::kEcComplete;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
  }
  EXPECT_TRUE(ended);
  graph.reset();
  Video.PlayState = 0;
  Video.Converting = 0;
  loader_.join();
  std::vector<int> expected;
  for (int n = 0; n < 75; ++n) expected.push_back(n);
  std::lock_guard lock(rec.mutex);
  EXPECT_EQ(rec.numbers, expected);
}

TEST_F(GraphFileTest, PlayedToTheEndThePositionEqualsTheDuration) {
  const std::string clip = dir_.File("short.mp4");
  ASSERT_TRUE(test::MakeClip(clip, NumberedSource(25), 0.5, "", kLossless));
  StartBuild(clip);
  ASSERT_TRUE(WaitForPlaying());
  auto graph = CurrentGraph();
  ASSERT_TRUE(WaitFor(
      [&] {
        platform::RefTime position = 0, duration = 0;
        graph->GetCurrentPosition(&position);
        graph->GetDuration(&duration);
        return duration > 0 && position == duration;
      },
      10));
  ASSERT_TRUE(WaitFor([] { return ui().ProgressPos(kIdPositionBar) == 598; }, 5));
  graph.reset();
  StopAndJoin();
}

TEST_F(GraphFileTest, BadFilesEndInTheirMessages) {
  ExpectMessage(dir_.File("missing.mp4"), kAddSourceErrorText, "No such file or directory");
  ASSERT_TRUE(test::WriteFile(dir_.File("empty.mp4"), ""));
  ExpectMessage(dir_.File("empty.mp4"), kAddSourceErrorText);
  ASSERT_TRUE(test::WriteFile(dir_.File("text.mp4"), "Not a movie at all, only some words.\n"));
  ExpectMessage(dir_.File("text.mp4"), kAddSourceErrorText, "it holds text, not a video");

  const std::string sound = dir_.File("sound.m4a");
  ASSERT_TRUE(test::MakeClip(sound, "", 1.0, "sine=frequency=440", {"-c:a", "aac"}));
  ExpectMessage(sound, kUnsupportedText, "it holds no video stream");

  const std::string plain = dir_.File("plain.mp4");
  ASSERT_TRUE(test::MakeClip(plain, NumberedSource(25), 2.0, "", kLossless));
  const std::string bytes = test::ReadFile(plain);
  ASSERT_TRUE(test::WriteFile(dir_.File("cut.mp4"), bytes.substr(0, bytes.size() / 2)));
  ExpectMessage(dir_.File("cut.mp4"), kAddSourceErrorText);
}

TEST_F(GraphFileTest, DamagedButReadableFilesPlayToACleanEnd) {
  const std::string clip = dir_.File("garbage.mkv");
  ASSERT_TRUE(test::MakeClip(clip, NumberedSource(25), 3.0, "sine=frequency=440",
                             {"-c:v", "libx264", "-qp", "0", "-c:a", "aac"}));
  std::string bytes = test::ReadFile(clip);
  for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i) {
    bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  }
  ASSERT_TRUE(test::WriteFile(clip, bytes));
  StartBuild(clip);
  ASSERT_TRUE(WaitForPlaying());
  auto graph = CurrentGraph();
  ASSERT_NE(graph, nullptr);
  graph->SetNoSyncSource();
  graph->Run();
  bool ended = false;
  for (int pass = 0; pass < 500 && !ended; ++pass) {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    ended = graph->GetEvent(&code, &p1, &p2, 20) == platform::MediaStatus::kOk &&
            code == platform::kEcComplete;
  }
  EXPECT_TRUE(ended);
  graph.reset();
  StopAndJoin();
  EXPECT_TRUE(ui().Messages().empty());
}

}  // namespace
}  // namespace zqr
