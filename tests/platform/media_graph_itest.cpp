// The FFmpeg frame-grabbing graph on clips made with ffmpeg's lavfi sources whose
// pixels carry the frame number: delivery order and count, frame layout, end of stream,
// seeking, pausing, the buffered sample, the clock, the sound, and damaged input.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/media.h"
#include "tests/support/test_support.h"

namespace zqr::platform {
namespace {

using test::MakeClip;
using test::ScratchDir;

// Lossless RGB clip: red = frame number (mod 256), green = column, blue = row from the
// top (both mod 256).
std::string NumberedRgbSource(int width, int height, int rate) {
  return "nullsrc=size=" + std::to_string(width) + "x" + std::to_string(height) +
         ":rate=" + std::to_string(rate) +
         ",format=gbrp,geq=r='mod(N,256)':g='mod(X,256)':b='mod(Y,256)'";
}

// H.264-friendly clip: the top 16 rows carry the frame number as 8 black/white bit
// blocks of 8 columns (bit 0 leftmost); the rows below are mid grey.
// Lossless H.264, so every frame's number bits survive the coding.
const std::vector<std::string> kLossless = {"-c:v", "libx264", "-qp", "0"};

std::string NumberedBitsSource(int rate) {
  return "nullsrc=size=64x32:rate=" + std::to_string(rate) +
         ",format=yuv420p,geq=lum='if(lt(Y,16),255*mod(floor(N/pow(2,floor(X/8))),2),128)'"
         ":cb=128:cr=128";
}

std::vector<std::string> LosslessOptions() {
  return {"-c:v", "ffv1", "-pix_fmt", "gbrp"};
}

// Reads the frame number of a NumberedBitsSource frame (bottom row first, BGRX).
int BitsFrameNumber(const uint8_t* frame, int width, int height) {
  const int top_row = height - 1 - 4;  // a row inside the bit band, counted from the bottom
  int number = 0;
  for (int bit = 0; bit < 8; ++bit) {
    const uint8_t* pixel = frame + (static_cast<size_t>(top_row) * width + bit * 8 + 4) * 4;
    if (pixel[1] > 128) number |= 1 << bit;
  }
  return number;
}

// Records what the grabber delivers.
class Recorder : public SampleGrabberCallback {
 public:
  Recorder(int width, int height, bool bits) : width_(width), height_(height), bits_(bits) {}

  MediaStatus SampleCB(double, const GrabbedSample&) override {
    ++sample_calls;
    return MediaStatus::kOk;
  }
  MediaStatus BufferCB(double time, uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex_);
    lengths.push_back(length);
    times.push_back(time);
    if (bits_) {
      numbers.push_back(BitsFrameNumber(buffer, width_, height_));
      // Bottom row first: the first row of the buffer is the grey part of the picture.
      bottom_first.push_back(buffer[1] > 100 && buffer[1] < 160);
    } else {
      numbers.push_back(buffer[2]);
      // Row 0 of the buffer is the picture's bottom row: blue holds height-1.
      const bool first_ok = buffer[0] == static_cast<uint8_t>((height_ - 1) % 256);
      const uint8_t* last_row = buffer + static_cast<size_t>(height_ - 1) * width_ * 4;
      const uint8_t* right = buffer + (static_cast<size_t>(width_) - 1) * 4;
      bottom_first.push_back(first_ok && last_row[0] == 0 &&
                             right[1] == static_cast<uint8_t>((width_ - 1) % 256));
    }
    delivered.fetch_add(1);
    return MediaStatus::kOk;
  }
  std::vector<int> Numbers() {
    std::lock_guard lock(mutex_);
    return numbers;
  }

  std::mutex mutex_;
  std::vector<int> numbers;
  std::vector<int32_t> lengths;
  std::vector<double> times;
  std::vector<bool> bottom_first;
  std::atomic<int> delivered{0};
  std::atomic<int> sample_calls{0};

 private:
  int width_;
  int height_;
  bool bits_;
};

// The graph as the program builds it, up to the connected type.
struct Built {
  std::unique_ptr<MediaGraph> graph;
  MediaStatus failed_at_source = MediaStatus::kOk;
  MediaStatus failed_at_connect = MediaStatus::kOk;
  MediaStatus failed_at_type = MediaStatus::kOk;
  MediaType type;
};

Built Build(const std::string& path, bool sound = false) {
  Built built;
  built.graph = CreateFfmpegGraph();
  MediaGraph& g = *built.graph;
  EXPECT_EQ(g.CreateSampleGrabber(), MediaStatus::kOk);
  EXPECT_EQ(g.AddGrabberFilter("Sample Grabber"), MediaStatus::kOk);
  MediaType wanted;
  wanted.majortype = MajorType::kVideo;
  wanted.subtype = SubType::kRgb32;
  wanted.formattype = FormatType::kVideoInfo;
  EXPECT_EQ(g.SetMediaType(wanted), MediaStatus::kOk);
  built.failed_at_source = g.AddSourceFilter(path, "Source");
  if (Failed(built.failed_at_source)) return built;
  built.failed_at_connect = g.ConnectSourceToGrabber();
  if (Failed(built.failed_at_connect)) return built;
  EXPECT_EQ(g.AddNullRenderer("NullRenderer"), MediaStatus::kOk);
  EXPECT_EQ(g.ConnectGrabberToNullRenderer(), MediaStatus::kOk);
  EXPECT_EQ(g.SetBufferSamples(true), MediaStatus::kOk);
  if (sound) g.RenderFile(path);
  built.failed_at_type = g.GetConnectedMediaType(&built.type);
  return built;
}

// Waits for event code 1; false after `seconds`.
bool WaitForEnd(MediaGraph& graph, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < deadline) {
    int32_t code = 0;
    intptr_t p1 = 0, p2 = 0;
    if (graph.GetEvent(&code, &p1, &p2, 50) == MediaStatus::kOk) {
      graph.FreeEventParams(code, p1, p2);
      if (code == kEcComplete) return true;
    }
  }
  return false;
}

bool WaitFor(const std::function<bool()>& done, double seconds) {
  const auto deadline = std::chrono::steady_clock::now() +
                        std::chrono::milliseconds(static_cast<int>(seconds * 1000));
  while (std::chrono::steady_clock::now() < deadline) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return done();
}

std::vector<int> Iota(int count) {
  std::vector<int> v(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) v[static_cast<size_t>(i)] = i % 256;
  return v;
}

class MediaGraphTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() { setenv("SDL_AUDIODRIVER", "dummy", 1); }
  ScratchDir dir_;
};

TEST_F(MediaGraphTest, ConnectedFormatDescribesTheClip) {
  const std::string clip = dir_.File("rgb.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(64, 48, 25), 2.0, "", LosslessOptions()));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  EXPECT_EQ(b.type.majortype, MajorType::kVideo);
  EXPECT_EQ(b.type.subtype, SubType::kRgb32);
  EXPECT_EQ(b.type.formattype, FormatType::kVideoInfo);
  EXPECT_EQ(b.type.format.Width, 64);
  EXPECT_EQ(b.type.format.Height, 48);
  EXPECT_EQ(b.type.format.BitCount, 32);
  EXPECT_EQ(b.type.lSampleSize, 64 * 48 * 4);
  EXPECT_EQ(b.type.format.AvgTimePerFrame, 400000);
  TimeFormat format = TimeFormat::kNone;
  EXPECT_EQ(b.graph->GetTimeFormat(&format), MediaStatus::kOk);
  EXPECT_EQ(format, TimeFormat::kMediaTime);
  EXPECT_EQ(b.graph->SetTimeFormat(TimeFormat::kMediaTime), MediaStatus::kOk);
  RefTime duration = 0;
  EXPECT_EQ(b.graph->GetDuration(&duration), MediaStatus::kOk);
  EXPECT_EQ(duration, 20'000'000);
}

TEST_F(MediaGraphTest, WithoutClockEveryFrameArrivesOnceInOrderBottomRowFirst) {
  const std::string clip = dir_.File("rgb.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(64, 48, 25), 2.0, "", LosslessOptions()));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  Recorder rec(64, 48, false);
  MediaGraph& g = *b.graph;
  ASSERT_EQ(g.SetNoSyncSource(), MediaStatus::kOk);
  ASSERT_EQ(g.SetCallback(&rec, kSelectBufferCB), MediaStatus::kOk);
  const auto start = std::chrono::steady_clock::now();
  ASSERT_EQ(g.Run(), MediaStatus::kOk);
  ASSERT_TRUE(WaitForEnd(g, 20));
  // 50 frames of a 2-second clip arrive far faster than real time without the clock.
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(1500));
  EXPECT_EQ(rec.Numbers(), Iota(50));
  for (size_t i = 0; i < rec.lengths.size(); ++i) {
    EXPECT_EQ(rec.lengths[i], 64 * 48 * 4);
    EXPECT_TRUE(rec.bottom_first[i]) << "frame " << i;
  }
  EXPECT_DOUBLE_EQ(rec.times[0], 0.0);
  EXPECT_NEAR(rec.times[25], 1.0, 1e-6);
  EXPECT_EQ(rec.sample_calls.load(), 0);
  RefTime position = 0;
  g.GetCurrentPosition(&position);
  EXPECT_EQ(position, 20'000'000);  // at the end the position equals the duration
  // Only one end-of-stream event.
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  EXPECT_EQ(g.GetEvent(&code, &p1, &p2, 100), MediaStatus::kNoEvent);
}

TEST_F(MediaGraphTest, RewindAndRunDeliversTheFirstFrameAgain) {
  const std::string clip = dir_.File("bits.mp4");
  ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 2.0, "", kLossless));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  MediaGraph& g = *b.graph;
  Recorder first(64, 32, true);
  g.SetNoSyncSource();
  g.SetCallback(&first, kSelectBufferCB);
  g.Run();
  ASSERT_TRUE(WaitForEnd(g, 20));
  EXPECT_EQ(first.Numbers(), Iota(50));
  for (bool ok : first.bottom_first) EXPECT_TRUE(ok);

  // The conversion driver's sequence: rewind, pause, install the callback, run.
  Recorder second(64, 32, true);
  RefTime zero = 0;
  ASSERT_EQ(g.SetPositions(&zero, kSeekAbsolutePositioning, nullptr, kSeekNoPositioning),
            MediaStatus::kOk);
  g.Pause();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EXPECT_EQ(second.delivered.load(), 0);
  g.SetCallback(&second, kSelectBufferCB);
  g.Run();
  ASSERT_TRUE(WaitForEnd(g, 20));
  EXPECT_EQ(second.Numbers(), Iota(50));
}

TEST_F(MediaGraphTest, SeekingToTheMiddleStartsAtThatFrame) {
  const std::string clip = dir_.File("bits.mp4");
  ASSERT_TRUE(
      MakeClip(clip, NumberedBitsSource(25), 4.0, "", {"-c:v", "libx264", "-qp", "0", "-g", "30"}));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  MediaGraph& g = *b.graph;
  Recorder rec(64, 32, true);
  g.SetNoSyncSource();
  g.SetCallback(&rec, kSelectBufferCB);
  RefTime target = 40 * 400000;  // frame 40, between two key frames
  ASSERT_EQ(g.SetPositions(&target, kSeekAbsolutePositioning, nullptr, kSeekNoPositioning),
            MediaStatus::kOk);
  g.Run();
  ASSERT_TRUE(WaitForEnd(g, 20));
  std::vector<int> expected;
  for (int n = 40; n < 100; ++n) expected.push_back(n);
  EXPECT_EQ(rec.Numbers(), expected);
}

TEST_F(MediaGraphTest, PausingStopsDeliveryAndRunResumesWithTheNextFrame) {
  const std::string clip = dir_.File("bits.mp4");
  ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 3.0, "", kLossless));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  MediaGraph& g = *b.graph;
  Recorder rec(64, 32, true);
  g.SetDefaultSyncSource();
  g.SetCallback(&rec, kSelectBufferCB);
  g.Run();
  ASSERT_TRUE(WaitFor([&] { return rec.delivered.load() >= 10; }, 10));
  g.Pause();
  const int at_pause = rec.delivered.load();
  std::this_thread::sleep_for(std::chrono::milliseconds(400));
  EXPECT_EQ(rec.delivered.load(), at_pause);

  // The buffered sample is the newest delivered frame.
  int32_t size = 0;
  ASSERT_EQ(g.GetCurrentBuffer(&size, nullptr), MediaStatus::kOk);
  ASSERT_EQ(size, 64 * 32 * 4);
  std::vector<uint8_t> polled(static_cast<size_t>(size));
  ASSERT_EQ(g.GetCurrentBuffer(&size, polled.data()), MediaStatus::kOk);
  EXPECT_EQ(BitsFrameNumber(polled.data(), 64, 32), rec.Numbers().back());
  int32_t small = size - 4;
  EXPECT_TRUE(Failed(g.GetCurrentBuffer(&small, polled.data())));

  g.Run();
  ASSERT_TRUE(WaitForEnd(g, 20));
  EXPECT_EQ(rec.Numbers(), Iota(75));
}

TEST_F(MediaGraphTest, ClockPacesFramesToRealTime) {
  const std::string clip = dir_.File("bits.mp4");
  ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 1.0, "", kLossless));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  MediaGraph& g = *b.graph;
  Recorder rec(64, 32, true);
  g.SetDefaultSyncSource();
  g.SetCallback(&rec, kSelectBufferCB);
  const auto start = std::chrono::steady_clock::now();
  g.Run();
  ASSERT_TRUE(WaitForEnd(g, 20));
  const auto took = std::chrono::steady_clock::now() - start;
  // 25 frames at 25 fps: the last one is due 0.96 s after the start.
  EXPECT_GE(took, std::chrono::milliseconds(900));
  EXPECT_EQ(rec.Numbers(), Iota(25));
}

TEST_F(MediaGraphTest, SelectorZeroCallsSampleCallback) {
  const std::string clip = dir_.File("rgb.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(32, 16, 25), 0.4, "", LosslessOptions()));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  Recorder rec(32, 16, false);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&rec, kSelectSampleCB);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 20));
  EXPECT_EQ(rec.sample_calls.load(), 10);
  EXPECT_EQ(rec.delivered.load(), 0);
  EXPECT_EQ(b.graph->SetCallback(&rec, 2), MediaStatus::kInvalidArgument);
}

TEST_F(MediaGraphTest, OddSizedFramesKeepTheirShape) {
  const std::string clip = dir_.File("odd.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(321, 241, 25), 0.4, "", LosslessOptions()));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  EXPECT_EQ(b.type.format.Width, 321);
  EXPECT_EQ(b.type.format.Height, 241);
  EXPECT_EQ(b.type.lSampleSize, 321 * 241 * 4);
  Recorder rec(321, 241, false);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&rec, kSelectBufferCB);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 20));
  EXPECT_EQ(rec.Numbers(), Iota(10));
  for (bool ok : rec.bottom_first) EXPECT_TRUE(ok);
}

// Checks every pixel of every frame of a NumberedRgbSource clip.
class ExactChecker : public SampleGrabberCallback {
 public:
  ExactChecker(int width, int height) : width_(width), height_(height) {}
  MediaStatus SampleCB(double, const GrabbedSample&) override { return MediaStatus::kOk; }
  MediaStatus BufferCB(double, uint8_t* buffer, int32_t length) override {
    if (length != width_ * height_ * 4) ++wrong_pixels;
    for (int row = 0; row < height_ && length == width_ * height_ * 4; ++row) {
      const uint8_t* line = buffer + static_cast<size_t>(row) * width_ * 4;
      const auto top_row = static_cast<uint8_t>((height_ - 1 - row) % 256);
      for (int x = 0; x < width_; ++x) {
        const uint8_t* p = line + static_cast<size_t>(x) * 4;
        if (p[0] != top_row || p[1] != static_cast<uint8_t>(x % 256) ||
            p[2] != static_cast<uint8_t>(frames % 256)) {
          ++wrong_pixels;
        }
      }
    }
    ++frames;
    return MediaStatus::kOk;
  }
  int frames = 0;
  int64_t wrong_pixels = 0;

 private:
  int width_;
  int height_;
};

TEST_F(MediaGraphTest, LargeFramesArriveExactlyRowByRow) {
  const std::string clip = dir_.File("large.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(1280, 720, 25), 0.2, "", LosslessOptions()));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  ExactChecker checker(1280, 720);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&checker, kSelectBufferCB);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 20));
  EXPECT_EQ(checker.frames, 5);
  EXPECT_EQ(checker.wrong_pixels, 0);
}

TEST_F(MediaGraphTest, SoundFirstVariableRateAndRotatedFilesPlay) {
  struct Case {
    const char* name;
    std::string audio;
    std::vector<std::string> options;
    int frames;
  };
  const std::vector<Case> cases = {
      {"audio_first.mp4",
       "sine=frequency=440:sample_rate=48000",
       {"-map", "1:a", "-map", "0:v", "-c:v", "libx264", "-qp", "0", "-c:a", "aac"},
       50},
      {"vfr.mkv",
       "",
       {"-vf", "setpts='if(lt(N,25),N*0.04,1+(N-25)*0.1)/TB'", "-fps_mode", "passthrough", "-c:v",
        "libx264", "-qp", "0"},
       35},  // 25 frames in the first second, then one every 0.1 s up to 2 s
      {"rotated.mp4", "", {"-c:v", "libx264", "-qp", "0", "-metadata:s:v", "rotate=90"}, 50},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string clip = dir_.File(c.name);
    ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 2.0, c.audio, c.options));
    Built b = Build(clip, true);
    ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
    EXPECT_EQ(b.type.format.Width, 64);
    Recorder rec(64, 32, true);
    b.graph->SetNoSyncSource();
    b.graph->SetCallback(&rec, kSelectBufferCB);
    b.graph->Run();
    ASSERT_TRUE(WaitForEnd(*b.graph, 20));
    EXPECT_EQ(rec.Numbers(), Iota(c.frames));
    for (size_t i = 1; i < rec.times.size(); ++i) EXPECT_GT(rec.times[i], rec.times[i - 1]);
  }
}

// Keeps the first delivered frame.
class FirstFrame : public SampleGrabberCallback {
 public:
  MediaStatus SampleCB(double, const GrabbedSample&) override { return MediaStatus::kOk; }
  MediaStatus BufferCB(double, uint8_t* buffer, int32_t length) override {
    std::lock_guard lock(mutex);
    if (pixels.empty()) pixels.assign(buffer, buffer + length);
    return MediaStatus::kOk;
  }
  std::mutex mutex;
  std::vector<uint8_t> pixels;
};

TEST_F(MediaGraphTest, TurnedPhoneVideosArriveUprightAsFfmpegShowsThem) {
  const std::string plain = dir_.File("plain.mp4");
  ASSERT_TRUE(
      MakeClip(plain, NumberedRgbSource(40, 24, 25), 0.2, "", {"-c:v", "libx264rgb", "-qp", "0"}));
  for (const char* degrees : {"90", "180", "270"}) {
    SCOPED_TRACE(degrees);
    const std::string turned = dir_.File(std::string("turned") + degrees + ".mp4");
    ASSERT_EQ(test::Run({"ffmpeg", "-v", "error", "-y", "-i", plain, "-c", "copy",
                         "-metadata:s:v:0", std::string("rotate=") + degrees, turned})
                  .exit_code,
              0);
    // ffmpeg's own autorotation, top row first.
    const test::RunResult shown = test::Run({"ffmpeg", "-v", "error", "-i", turned, "-frames:v",
                                             "1", "-pix_fmt", "bgra", "-f", "rawvideo", "-"});
    Built b = Build(turned);
    ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
    const int width = b.type.format.Width;
    const int height = b.type.format.Height;
    EXPECT_EQ(std::string(degrees) == "180" ? height : width, 24);  // 40x24 as decoded
    ASSERT_EQ(shown.output.size(), static_cast<size_t>(width) * height * 4);
    FirstFrame first;
    b.graph->SetNoSyncSource();
    b.graph->SetCallback(&first, kSelectBufferCB);
    b.graph->Run();
    ASSERT_TRUE(WaitForEnd(*b.graph, 20));
    ASSERT_EQ(first.pixels.size(), shown.output.size());
    int64_t differing = 0;
    for (int row = 0; row < height; ++row) {
      const size_t line = static_cast<size_t>(width) * 4;
      const uint8_t* ours = first.pixels.data() + static_cast<size_t>(height - 1 - row) * line;
      const auto* theirs = reinterpret_cast<const uint8_t*>(shown.output.data()) + row * line;
      for (size_t k = 0; k < line; k += 4) {
        if (std::memcmp(ours + k, theirs + k, 3) != 0) ++differing;
      }
    }
    EXPECT_EQ(differing, 0);
  }
}

TEST_F(MediaGraphTest, PreviewSoundPlaysOrStaysSilentWithoutADevice) {
  const std::string clip = dir_.File("sound.mp4");
  ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 1.0, "sine=frequency=440:sample_rate=44100",
                       {"-c:v", "libx264", "-qp", "0", "-c:a", "aac"}));
  for (const char* driver : {"dummy", "no-such-driver"}) {
    SCOPED_TRACE(driver);
    setenv("SDL_AUDIODRIVER", driver, 1);
    Built b = Build(clip, true);
    ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
    EXPECT_EQ(b.graph->PutVolume(-2000), MediaStatus::kOk);
    EXPECT_EQ(b.graph->PutVolume(-10001), MediaStatus::kInvalidArgument);
    EXPECT_EQ(b.graph->PutVolume(1), MediaStatus::kInvalidArgument);
    Recorder rec(64, 32, true);
    b.graph->SetCallback(&rec, kSelectBufferCB);
    b.graph->Run();
    ASSERT_TRUE(WaitForEnd(*b.graph, 20));
    EXPECT_EQ(rec.Numbers(), Iota(25));
  }
  setenv("SDL_AUDIODRIVER", "dummy", 1);
}

TEST_F(MediaGraphTest, LongClipSeeksNearItsEnd) {
  const std::string clip = dir_.File("long.mp4");
  ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 600.0, "",
                       {"-c:v", "libx264", "-preset", "ultrafast", "-qp", "0"}));
  Built b = Build(clip);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  RefTime duration = 0;
  b.graph->GetDuration(&duration);
  EXPECT_EQ(duration, 600 * kUnitsPerSecond);
  Recorder rec(64, 32, true);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&rec, kSelectBufferCB);
  RefTime target = (15000 - 20) * 400000LL;
  b.graph->SetPositions(&target, kSeekAbsolutePositioning, nullptr, kSeekNoPositioning);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 30));
  std::vector<int> expected;
  for (int n = 15000 - 20; n < 15000; ++n) expected.push_back(n % 256);
  EXPECT_EQ(rec.Numbers(), expected);
}

TEST_F(MediaGraphTest, NoEventMeansAbort) {
  const std::string clip = dir_.File("rgb.mkv");
  ASSERT_TRUE(MakeClip(clip, NumberedRgbSource(32, 16, 25), 0.4, "", LosslessOptions()));
  Built b = Build(clip);
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  EXPECT_EQ(b.graph->GetEvent(&code, &p1, &p2, 0), MediaStatus::kNoEvent);
  EXPECT_EQ(b.graph->GetEvent(&code, &p1, &p2, 30), MediaStatus::kNoEvent);
}

// --- Damaged and unsuitable input ---

TEST_F(MediaGraphTest, FilesThatAreNoMovieFailAtTheSource) {
  EXPECT_TRUE(Failed(Build(dir_.File("missing.mp4")).failed_at_source));
  ASSERT_TRUE(test::WriteFile(dir_.File("empty.mp4"), ""));
  EXPECT_TRUE(Failed(Build(dir_.File("empty.mp4")).failed_at_source));
  ASSERT_TRUE(test::WriteFile(dir_.File("text.mp4"), "This is a shopping list.\nMilk\nBread\n"));
  EXPECT_TRUE(Failed(Build(dir_.File("text.mp4")).failed_at_source));
}

TEST_F(MediaGraphTest, SoundOnlyFileCannotBeConnected) {
  const std::string clip = dir_.File("sound.m4a");
  ASSERT_TRUE(MakeClip(clip, "", 1.0, "sine=frequency=440", {"-c:a", "aac"}));
  Built b = Build(clip);
  EXPECT_EQ(b.failed_at_source, MediaStatus::kOk);
  EXPECT_TRUE(Failed(b.failed_at_connect));
}

TEST_F(MediaGraphTest, TruncatedMoviesEndCleanly) {
  // Index at the end: cut off, nothing can be found.
  const std::string plain = dir_.File("plain.mp4");
  ASSERT_TRUE(MakeClip(plain, NumberedBitsSource(25), 4.0, "", kLossless));
  const std::string bytes = test::ReadFile(plain);
  ASSERT_TRUE(test::WriteFile(dir_.File("cut.mp4"), bytes.substr(0, bytes.size() / 2)));
  EXPECT_TRUE(Failed(Build(dir_.File("cut.mp4")).failed_at_source));

  // Index first: the file opens, plays what is there and ends.
  const std::string fast = dir_.File("fast.mp4");
  ASSERT_TRUE(MakeClip(fast, NumberedBitsSource(25), 4.0, "",
                       {"-c:v", "libx264", "-qp", "0", "-movflags", "+faststart"}));
  const std::string fast_bytes = test::ReadFile(fast);
  ASSERT_TRUE(
      test::WriteFile(dir_.File("cutfast.mp4"), fast_bytes.substr(0, fast_bytes.size() / 2)));
  Built b = Build(dir_.File("cutfast.mp4"));
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  Recorder rec(64, 32, true);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&rec, kSelectBufferCB);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 20));
  const std::vector<int> got = rec.Numbers();
  ASSERT_GT(got.size(), 5u);
  EXPECT_LT(got.size(), 100u);
  for (size_t i = 0; i < got.size(); ++i) EXPECT_EQ(got[i], static_cast<int>(i));
}

TEST_F(MediaGraphTest, GarbageInTheMiddleEndsCleanly) {
  for (const char* name : {"garbage.mp4", "garbage.mkv"}) {
    SCOPED_TRACE(name);
    const std::string clip = dir_.File(name);
    ASSERT_TRUE(MakeClip(clip, NumberedBitsSource(25), 4.0, "sine=frequency=440",
                         {"-c:v", "libx264", "-qp", "0", "-c:a", "aac"}));
    std::string bytes = test::ReadFile(clip);
    uint32_t seed = 12345;
    for (size_t i = bytes.size() / 3; i < bytes.size() * 2 / 3; ++i) {
      seed = seed * 1664525u + 1013904223u;
      bytes[i] = static_cast<char>(seed >> 24);
    }
    ASSERT_TRUE(test::WriteFile(clip, bytes));
    Built b = Build(clip, true);
    if (Failed(b.failed_at_source) || Failed(b.failed_at_connect)) continue;
    ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
    Recorder rec(64, 32, true);
    b.graph->SetNoSyncSource();
    b.graph->SetCallback(&rec, kSelectBufferCB);
    b.graph->Run();
    EXPECT_TRUE(WaitForEnd(*b.graph, 30));
    for (int32_t length : rec.lengths) EXPECT_EQ(length, 64 * 32 * 4);
  }
}

TEST_F(MediaGraphTest, UnbuiltGraphRefusesToRun) {
  auto g = CreateFfmpegGraph();
  EXPECT_TRUE(Failed(g->Run()));
  EXPECT_TRUE(Failed(g->Pause()));
  MediaType type;
  EXPECT_TRUE(Failed(g->GetConnectedMediaType(&type)));
  RefTime t = 0;
  EXPECT_TRUE(Failed(g->GetDuration(&t)));
  int32_t size = 0;
  EXPECT_TRUE(Failed(g->GetCurrentBuffer(&size, nullptr)));
  MediaType audio;
  audio.majortype = MajorType::kAudio;
  g->CreateSampleGrabber();
  EXPECT_EQ(g->SetMediaType(audio), MediaStatus::kUnsupported);
}

// The program acts on which step failed; the reasons still tell the steps' misuses apart,
// and RenderFile's answer is how the program knows whether the file has sound.
TEST_F(MediaGraphTest, StepsTakenOutOfTurnOrTwiceSayWhy) {
  const std::string silent = dir_.File("silent.mkv");
  ASSERT_TRUE(MakeClip(silent, NumberedRgbSource(32, 16, 25), 0.4, "", LosslessOptions()));
  auto g = CreateFfmpegGraph();
  EXPECT_EQ(g->AddGrabberFilter("Sample Grabber"), MediaStatus::kNotBuilt);
  EXPECT_EQ(g->CreateSampleGrabber(), MediaStatus::kOk);
  EXPECT_EQ(g->AddGrabberFilter("Sample Grabber"), MediaStatus::kOk);
  EXPECT_EQ(g->ConnectSourceToGrabber(), MediaStatus::kNotBuilt);
  EXPECT_EQ(g->RenderFile(silent), MediaStatus::kNotBuilt);
  EXPECT_EQ(g->AddSourceFilter("", "Source"), MediaStatus::kInvalidArgument);
  EXPECT_EQ(g->AddSourceFilter(dir_.File("missing.mkv"), "Source"), MediaStatus::kCannotOpen);
  EXPECT_EQ(g->AddSourceFilter(silent, "Source"), MediaStatus::kOk);
  EXPECT_EQ(g->AddSourceFilter(silent, "Source"), MediaStatus::kAlreadyDone);
  EXPECT_EQ(g->ConnectGrabberToNullRenderer(), MediaStatus::kNotBuilt);
  EXPECT_EQ(g->ConnectSourceToGrabber(), MediaStatus::kOk);
  EXPECT_EQ(g->ConnectSourceToGrabber(), MediaStatus::kAlreadyDone);
  EXPECT_EQ(g->RenderFile(dir_.File("other.mkv")), MediaStatus::kInvalidArgument);
  EXPECT_EQ(g->RenderFile(silent), MediaStatus::kNothingToDo);
  EXPECT_TRUE(Succeeded(g->RenderFile(silent)));
  EXPECT_EQ(g->SetBufferSamples(true), MediaStatus::kOk);
  int32_t size = 0;
  EXPECT_EQ(g->GetCurrentBuffer(&size, nullptr), MediaStatus::kNoSample);
  EXPECT_EQ(g->SetTimeFormat(TimeFormat::kFrame), MediaStatus::kUnsupported);
  RefTime position = 0;
  EXPECT_EQ(
      g->SetPositions(&position, kSeekAbsolutePositioning, &position, kSeekAbsolutePositioning),
      MediaStatus::kUnsupported);
  EXPECT_EQ(g->SetPositions(nullptr, kSeekAbsolutePositioning, nullptr, kSeekNoPositioning),
            MediaStatus::kInvalidArgument);
  EXPECT_EQ(g->GetDuration(nullptr), MediaStatus::kInvalidArgument);

  const std::string sound = dir_.File("sound.mp4");
  ASSERT_TRUE(MakeClip(sound, NumberedBitsSource(25), 0.4, "sine=frequency=440",
                       {"-c:v", "libx264", "-qp", "0", "-c:a", "aac"}));
  EXPECT_EQ(Build(sound).graph->RenderFile(sound), MediaStatus::kOk);
}

// A transport stream's timestamps start late (1.4 s); its second half is coded at half
// the size, as a stream spliced from two sources can be.
TEST_F(MediaGraphTest, LateStartingStreamThatShrinksMidwayKeepsTimeAndSize) {
  const std::string first = dir_.File("first.ts");
  const std::string second = dir_.File("second.ts");
  ASSERT_TRUE(MakeClip(first, NumberedBitsSource(25), 1.0, "",
                       {"-c:v", "libx264", "-qp", "0", "-f", "mpegts"}));
  ASSERT_TRUE(MakeClip(second, NumberedBitsSource(25) + ",scale=32:16", 1.0, "",
                       {"-c:v", "libx264", "-qp", "0", "-output_ts_offset", "1", "-f", "mpegts"}));
  const std::string spliced = dir_.File("spliced.ts");
  ASSERT_TRUE(test::WriteFile(spliced, test::ReadFile(first) + test::ReadFile(second)));
  Built b = Build(spliced);
  ASSERT_EQ(b.failed_at_type, MediaStatus::kOk);
  EXPECT_EQ(b.type.format.Width, 64);
  EXPECT_EQ(b.type.format.Height, 32);
  Recorder rec(64, 32, true);
  b.graph->SetNoSyncSource();
  b.graph->SetCallback(&rec, kSelectBufferCB);
  b.graph->Run();
  ASSERT_TRUE(WaitForEnd(*b.graph, 20));
  std::vector<int> expected = Iota(25);
  for (int n = 0; n < 25; ++n) expected.push_back(n);
  EXPECT_EQ(rec.Numbers(), expected);
  for (int32_t length : rec.lengths) EXPECT_EQ(length, 64 * 32 * 4);
  ASSERT_EQ(rec.times.size(), 50u);
  EXPECT_DOUBLE_EQ(rec.times[0], 0.0);
  EXPECT_NEAR(rec.times[25], 1.0, 1e-6);
}

}  // namespace
}  // namespace zqr::platform
