// The per-frame callback body over a sequence of frames: file count, names, sizes and
// contents against the reference kernels, counters, estimate texts, odd buffers, and a
// slow disk that must not make memory grow.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/brightness_contrast.h"
#include "frames/estimate.h"
#include "frames/frame_file.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "tests/frames/frames_test_util.h"
#include "tests/frames/reference_pipeline.h"
#include "tests/support/test_support.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"

namespace zqr {
namespace {

using frames::FrameArray;

std::vector<int32_t> sleeps;
void RecordSleep(int32_t ms) {
  sleeps.push_back(ms);
}
int previews = 0;
// Counts the frames shown.
class PreviewCounter final : public Observer {
 public:
  int Ask(const std::string&, const std::string&, int) override { return 0; }
  void ShowPreviewFrame(const PreviewFrame& /*frame*/) override { ++previews; }
};

class BufferCallback : public ::testing::Test {
 protected:
  void SetUp() override {
    Settings.CpuLimitOn = 1;
    Settings.CpuUsage = 100;
    Settings.NoiseOn = 1;
    Settings.NoisePasses = 1;
    Settings.BrightnessOn = 1;
    Settings.Brightness = 140;
    Settings.ContrastOn = 1;
    Settings.Contrast = 127;
    Settings.SharpenOn = 1;
    Settings.SharpenAmount = 1;
    Settings.SharpenRadius = 1;
    Settings.StereoOn = 1;
    Settings.StereoMode = 0;
    Settings.StereoTuning = 6;
    Settings.DepthOn = 1;
    Settings.DepthDivisor = 30;
    Shell.TempFolder = dir_.path();
    Shell.EstimateText.Set("00.00.00");
    Shell.ElapsedText.Set("00.00.00");
    SetThrottleSleep(RecordSleep);
    sleeps.clear();
    previews = 0;
  }
  void TearDown() override {
    recording_.reset();
    ConfigureFrameFileWriters({});
    SetThrottleSleep(nullptr);
  }
  // Geometry as the graph build and the conversion driver set it up.
  void StartConversion(int32_t w, int32_t h, int32_t numframes) {
    recording_.reset();  // the one before ends first, its last file written
    ASSERT_TRUE(AllocateGrabFrames(w, h));
    numframes_ = numframes;
    ASSERT_TRUE(PrepareFileFrame());
    FrameStore.FrameCounter = 0;
  }
  // The recording the frames go to, its arrays made: numbered by arrival, files in the
  // temporary folder.
  FrameRecording& Recording() {
    if (!recording_) {
      RecordingPlan plan{dir_.path()};
      plan.observer = &counter_;
      plan.numframes = numframes_;
      recording_.emplace(std::move(plan));
      EXPECT_TRUE(recording_->AllocateArrays());
    }
    return *recording_;
  }
  std::vector<uint32_t> RandomFrame(int32_t w, int32_t h) {
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    frames::test::FillRandom(pixels.data(), static_cast<int64_t>(pixels.size()), rng_);
    return pixels;
  }
  // Delivers one random frame to BufferCB; returns what its frame file must hold.
  std::vector<uint32_t> DeliverRandomFrame(ReferencePipeline& reference, int32_t w, int32_t h) {
    const std::vector<uint32_t> delivered = RandomFrame(w, h);
    std::vector<uint32_t> expected = reference.Frame(delivered);
    BufferCB(Recording(), delivered.data(), static_cast<int64_t>(delivered.size()) * 4);
    return expected;
  }
  void ExpectFile(int32_t number, int32_t w, int32_t h, const std::vector<uint32_t>& pixels) {
    const std::string bytes = test::ReadFile(frames::FrameFileName(dir_.path(), number));
    ASSERT_EQ(static_cast<int64_t>(bytes.size()), frames::FrameFileSize(w - 16, h)) << number;
    const auto headers = frames::FrameFileHeaders(w - 16, h);
    EXPECT_EQ(std::memcmp(bytes.data(), headers.data(), 54), 0) << number;
    EXPECT_EQ(std::memcmp(bytes.data() + 54, pixels.data(), pixels.size() * 4), 0)
        << "frame file " << number << " holds other pixels";
  }

  test::ScratchDir dir_;
  PreviewCounter counter_;
  std::optional<FrameRecording> recording_;
  int32_t numframes_ = 0;
  std::mt19937 rng_{2024};
};

// A clip whose frames fill one slot in ten (a variable-rate AVI) is estimated by the
// frames that come, not by the slots: the 30 frames' pace scaled to about 300, not 3000.
TEST_F(BufferCallback, TheEstimateOfASparseClipCountsTheFramesThatCome) {
  const int32_t w = 61;
  const int32_t h = 9;
  StartConversion(w, h, 3000);
  Settings.CpuUsage = 98;  // 20 ms a frame, for a pace the estimate can see
  SetThrottleSleep(nullptr);
  RecordingPlan plan{dir_.path()};
  plan.time_per_frame = 400000;  // 25 frames a second
  plan.numframes = 3000;
  plan.write_files = false;
  recording_.emplace(std::move(plan));
  ASSERT_TRUE(recording_->AllocateArrays());
  const double start = frames::MonotonicSeconds();
  for (int frame = 0; frame < 30; ++frame) {
    const std::vector<uint32_t> pixels = RandomFrame(w, h);
    BufferCB(*recording_, pixels.data(), static_cast<int64_t>(pixels.size()) * 4, frame * 0.4);
  }
  const double block = frames::MonotonicSeconds() - start;
  const std::string text = Shell.EstimateText.Get();
  ASSERT_EQ(text.size(), 8u);
  const int seconds = std::stoi(text.substr(0, 2)) * 3600 + std::stoi(text.substr(3, 2)) * 60 +
                      std::stoi(text.substr(6, 2));
  EXPECT_GT(seconds, 0) << text;
  EXPECT_LE(seconds, frames::EstimateSeconds(block, 400) + 1) << text << " for " << block << " s";
}

TEST_F(BufferCallback, ConvertsASequenceIntoNumberedFrameFiles) {
  const int32_t w = 61;
  const int32_t h = 9;
  StartConversion(w, h, 900);
  ReferencePipeline reference(w, h);
  std::vector<std::vector<uint32_t>> expected;
  for (int frame = 0; frame < 35; ++frame) {
    if (frame == 10) Settings.StereoMode = 1;  // settings act from the next frame on
    if (frame == 20) Settings.StereoTuning = -10;
    expected.push_back(DeliverRandomFrame(reference, w, h));
    EXPECT_EQ(FrameStore.FrameCounter, frame + 1);
    if (frame == 28) {
      EXPECT_EQ(Shell.EstimateText.Get(), "00.00.00");
    }
  }
  Recording().WaitForFiles();
  EXPECT_EQ(previews, 35);
  EXPECT_EQ(sleeps, std::vector<int32_t>(35, 0));
  // The 30th frame wrote the first estimate (hh:mm:ss).
  EXPECT_EQ(Shell.EstimateText.Get().size(), 8u);
  EXPECT_EQ(Shell.EstimateText.Get()[2], ':');
  EXPECT_EQ(Shell.ElapsedText.Get()[5], ':');
  for (int32_t frame = 0; frame < 35; ++frame) ExpectFile(frame, w, h, expected[frame]);
  EXPECT_FALSE(test::FileExists(frames::FrameFileName(dir_.path(), 35)));
  EXPECT_TRUE(test::FileExists(dir_.File("temp000034.bmp")));
}

TEST_F(BufferCallback, WideFramesSlideThroughTheirStorageAndStayExact) {
  // Frames wide enough for the sharpened frame to be built over the previous one: more
  // frames than the storage has room to slide for, so it also moves between DMEM2 and
  // DMEM3, with the stereo kinds and the widest reach changing on the way.
  const int32_t w = 272;
  const int32_t h = 20;  // more rows than the gap of eight
  StartConversion(w, h, 100);
  ReferencePipeline reference(w, h);
  Settings.DepthDivisor = 1;  // displacements up to 255 pixels
  Settings.StereoTuning = -10;
  std::vector<std::vector<uint32_t>> expected;
  for (int frame = 0; frame < 75; ++frame) {
    if (frame == 20) Settings.DepthDivisor = 30;
    if (frame == 40) Settings.StereoMode = 1;
    if (frame == 45) Settings.StereoOn = 0;
    if (frame == 50) {
      Settings.StereoOn = 1;
      Settings.StereoMode = 0;
      Settings.StereoTuning = 10;
    }
    expected.push_back(DeliverRandomFrame(reference, w, h));
  }
  Recording().WaitForFiles();
  for (int32_t frame = 0; frame < 75; ++frame) ExpectFile(frame, w, h, expected[frame]);
}

TEST_F(BufferCallback, TheLastFileIsWrittenWhenTheRecordingEnds) {
  // The last frame's file waits for a next frame that never comes: the recording's end
  // queues it, before a new conversion replaces DMEM1.
  const int32_t w = 40;
  const int32_t h = 5;
  StartConversion(w, h, 10);
  ReferencePipeline reference(w, h);
  std::vector<std::vector<uint32_t>> expected;
  for (int frame = 0; frame < 3; ++frame) expected.push_back(DeliverRandomFrame(reference, w, h));
  StartConversion(w + 8, h, 10);
  Recording().WaitForFiles();
  for (int32_t frame = 0; frame < 3; ++frame) ExpectFile(frame, w, h, expected[frame]);
}

TEST_F(BufferCallback, EmptyOrNullBuffersChangeNothing) {
  StartConversion(40, 4, 10);
  const std::vector<uint32_t> delivered = RandomFrame(40, 4);
  BufferCB(Recording(), nullptr, 640);
  BufferCB(Recording(), delivered.data(), 0);
  Recording().WaitForFiles();
  EXPECT_EQ(FrameStore.FrameCounter, 0);
  EXPECT_EQ(previews, 0);
  EXPECT_FALSE(test::FileExists(dir_.File("temp000000.bmp")));
}

TEST_F(BufferCallback, LongBuffersAreCutShortOnesProcessedAsDelivered) {
  Settings.NoiseOn = 0;
  Settings.StereoOn = 0;
  Settings.SharpenOn = 0;
  Settings.BrightnessOn = 0;
  Settings.ContrastOn = 0;
  StartConversion(40, 4, 10);
  std::vector<uint32_t> delivered(40 * 7, 0xABCDEF01u);
  BufferCB(Recording(), delivered.data(), static_cast<int64_t>(delivered.size()) * 4 + 3);
  EXPECT_EQ(FrameStore.FramePixelCount, 160);
  for (int64_t i = 160; i < 200; ++i) ASSERT_EQ(FrameStore.WorkFrame.data()[i], 0u);
  EXPECT_TRUE(frames::test::GuardsZero(FrameStore.WorkFrame));
  // A short buffer: only its pixels are replaced.
  std::vector<uint32_t> shorter(50, 0x11111111u);
  BufferCB(Recording(), shorter.data(), 50 * 4 + 2);
  EXPECT_EQ(FrameStore.FramePixelCount, 50);
  EXPECT_EQ(FrameStore.WorkFrame.data()[49], 0x11111111u);
  EXPECT_EQ(FrameStore.WorkFrame.data()[50], 0xABCDEF01u);
  Recording().WaitForFiles();
  EXPECT_EQ(FrameStore.FrameCounter, 2);
  ExpectFile(0, 40, 4, std::vector<uint32_t>(24 * 4, 0xABCDEF01u));
}

TEST_F(BufferCallback, SlowDiskKeepsMemoryBoundedAndEveryFrameIntact) {
  frames::FrameFileWriter::Options options;
  options.max_in_flight = 2;
  options.write = [](const std::string& path, int32_t w, int32_t h, const uint32_t* px,
                     int32_t stride) {
    std::this_thread::sleep_for(std::chrono::milliseconds(20));
    return frames::WriteFrameFileNow(path, w, h, px, stride);
  };
  ConfigureFrameFileWriters(options);
  const int32_t w = 48;
  const int32_t h = 6;
  StartConversion(w, h, 12);
  ReferencePipeline reference(w, h);
  std::vector<std::vector<uint32_t>> expected;
  for (int frame = 0; frame < 12; ++frame) {
    expected.push_back(DeliverRandomFrame(reference, w, h));
    const frames::FrameFileWriter::Stats stats = Recording().file_stats();
    ASSERT_LE(stats.buffers, 2) << "frame " << frame;
    ASSERT_LE(stats.peak_in_flight, 2);
  }
  EXPECT_GT(Recording().file_stats().waits, 0);
  Recording().WaitForFiles();
  EXPECT_EQ(Recording().file_stats().written, 12);
  for (int32_t frame = 0; frame < 12; ++frame) ExpectFile(frame, w, h, expected[frame]);
}

TEST_F(BufferCallback, ApplyFrameFiltersWorksOnTheWorkFrameAndShowsIt) {
  ASSERT_TRUE(AllocateGrabFrames(30, 5));
  Settings.CpuUsage = 60;
  std::mt19937 rng(4);
  frames::test::FillRandom(FrameStore.WorkFrame.data(), 150, rng);
  std::vector<uint32_t> expected(FrameStore.WorkFrame.data(), FrameStore.WorkFrame.data() + 180);
  frames::SmoothFramePassScalar(expected.data(), 30, 150);
  frames::BrightnessContrastScalar(expected.data(), 150,
                                   frames::MakeBrightnessContrastParams(1, 140, 1, 127));
  ApplyFrameFilters(counter_);
  EXPECT_EQ(frames::test::FirstDifference(expected.data(), FrameStore.WorkFrame.data(), 180), "");
  EXPECT_EQ(sleeps, std::vector<int32_t>{400});
  EXPECT_EQ(previews, 1);
}

TEST_F(BufferCallback, FramesOfSixteenColumnsOrFewerGiveNoFiles) {
  ASSERT_TRUE(AllocateGrabFrames(16, 5));
  EXPECT_FALSE(PrepareFileFrame());  // the arrays are there, the files cannot be
  EXPECT_EQ(Recording().pipeline().DMEM1.width(), 16);
  FrameStore.FrameCounter = 0;
  const std::vector<uint32_t> delivered = RandomFrame(16, 5);
  BufferCB(Recording(), delivered.data(), static_cast<int64_t>(delivered.size()) * 4);
  Recording().WaitForFiles();
  EXPECT_EQ(FrameStore.FrameCounter, 1);
  EXPECT_FALSE(test::FileExists(dir_.File("temp000000.bmp")));
}

TEST(FrameStore, InitialStorageIsFourHundredByThreeHundred) {
  ASSERT_TRUE(AllocateInitialFrameStorage());
  EXPECT_EQ(FrameStore.FrameW, 400);
  EXPECT_EQ(FrameStore.FrameH, 300);
  EXPECT_EQ(FrameStore.WorkFrame.width(), 400);
  EXPECT_EQ(FrameStore.WorkFrame.rows(), 301);
  EXPECT_EQ(FrameStore.GrabBuffer.rows(), 301);
}

// A recording's arrays follow the video, with a layout frame only for a layout, and go
// when it is done with them.
TEST(FrameStore, ARecordingsArraysFollowTheVideoAndItsLayout) {
  ASSERT_TRUE(AllocateGrabFrames(640, 480));
  EXPECT_EQ(FrameStore.FramePixelCount, 307200);
  FrameRecording merge(RecordingPlan{});
  ASSERT_TRUE(merge.AllocateArrays());
  EXPECT_EQ(merge.pipeline().DMEM3.width(), 640);
  EXPECT_EQ(merge.pipeline().DMEM3.rows(), 481);
  EXPECT_TRUE(merge.pipeline().LayoutFrame.empty());
  RecordingPlan plan;
  plan.layout = frames::OutputLayout::kTab;
  FrameRecording tab(std::move(plan));
  ASSERT_TRUE(tab.AllocateArrays());
  EXPECT_EQ(tab.pipeline().LayoutWidth, 624);
  EXPECT_EQ(tab.pipeline().LayoutHeight, 960);
  EXPECT_EQ(tab.pipeline().LayoutFrame.rows(), 961);
  tab.ReleaseArrays();
  EXPECT_TRUE(tab.pipeline().DMEM1.empty());
  EXPECT_TRUE(tab.pipeline().LayoutFrame.empty());
}

}  // namespace
}  // namespace zqr
