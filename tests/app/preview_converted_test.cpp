// Option > Preview the converted picture: the playing preview shows what a conversion
// writes for the same frames and settings (the red/cyan merge and a side-by-side layout,
// with the dynamic effect's previous frame, also for a picture polled twice), scaled as the
// preview scales; off, the filtered picture as before; and the preview never touches the
// conversion's arrays.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "app/commands.h"
#include "app/preview.h"
#include "app/window_observer.h"
#include "core/control_ids.h"
#include "core/settings.h"
#include "frames/crop.h"
#include "frames/filter_chain.h"
#include "frames/layouts.h"
#include "frames/scale_to_rgb.h"
#include "platform/headless/headless_ui.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/play.h"
#include "video/preview_step.h"
#include "video/video_state.h"

namespace zqr {
namespace {

constexpr int32_t kWidth = 272;  // wide enough for the sliding previous frame
constexpr int32_t kHeight = 40;

void NoSleep(int32_t) {}

// Two distinct frames of busy content, so sharpen, the stereo shift and 3D Depth all show.
std::vector<uint32_t> Picture(uint32_t seed) {
  std::vector<uint32_t> frame(size_t{kWidth} * kHeight);
  uint32_t x = seed;
  for (uint32_t& p : frame) {
    x = x * 1664525u + 1013904223u;
    p = (x >> 8) & 0x00FFFFFF;
  }
  return frame;
}

class PreviewConvertedTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<platform::HeadlessUi>();
    ui_ = ui.get();
    platform::InstallUi(std::move(ui));
    ResetSettingsToStartValues();
    Settings.SharpenOn = 1;
    Settings.SharpenAmount = 4;
    Settings.NoiseOn = 1;
    Settings.BrightnessOn = 1;
    Settings.Brightness = 150;
    Settings.StereoOn = 1;
    Settings.StereoMode = 0;  // dynamic: the second view is the previous frame
    Settings.DepthOn = 1;
    SetThrottleSleep(NoSleep);
    Video.Converting = 0;
    ASSERT_TRUE(AllocateGrabFrames(kWidth, kHeight));
    ClearPreviewFrames(nullptr);
    step_.Clear();
  }
  void TearDown() override {
    ConnectPreview(false);
    ClearPreviewFrames(nullptr);
    step_.Clear();
    SetThrottleSleep(nullptr);
    AllocateInitialFrameStorage();
    ResetSettingsToStartValues();
  }

  // The frames through a recording's callback: what it hands on for the last one, cropped
  // to its file frame, as `*width` x kHeight pixels, rows bottom first.
  static std::vector<uint32_t> Converted(const std::vector<std::vector<uint32_t>>& pictures,
                                         frames::OutputLayout layout, int32_t* width) {
    const frames::LayoutSize size =
        frames::LayoutOutputSize(layout, kWidth - frames::kCropColumns, kHeight);
    const bool layout_frames = layout != frames::OutputLayout::kAnaglyph;
    *width = layout_frames ? size.width : kWidth - frames::kCropColumns;
    std::vector<uint32_t> out(size_t(*width) * kHeight);
    // The frames' sink: the last one handed on, cut to its file frame.
    struct LastPicture final : RecordedFrameSink {
      std::vector<uint32_t>* out;
      int32_t width;
      void Picture(int32_t, const uint32_t* pixels, int32_t stride) override {
        for (int32_t y = 0; y < kHeight; ++y) {
          std::memcpy(&(*out)[size_t(y) * size_t(width)], pixels + int64_t{y} * stride,
                      size_t(width) * 4);
        }
      }
    } sink;
    sink.out = &out;
    sink.width = *width;
    RecordingPlan plan;
    plan.sink = &sink;
    plan.write_files = false;
    plan.layout = layout;
    FrameRecording recording(std::move(plan));
    EXPECT_TRUE(recording.AllocateArrays());
    for (const auto& picture : pictures) {
      BufferCB(recording, picture.data(), int64_t(picture.size()) * 4);
    }
    recording.End();
    recording.WaitForFiles();
    return out;
  }

  // The frames through the preview poll; the area's last picture.
  std::shared_ptr<const platform::PreviewPicture> Previewed(
      const std::vector<std::vector<uint32_t>>& pictures) {
    ConnectPreview();
    for (const auto& picture : pictures) {
      std::memcpy(FrameStore.GrabBuffer.data(), picture.data(), picture.size() * 4);
      ShowPolledFrame(step_, WindowObserver());
    }
    return ui_->LastPreview();
  }

  // `frame` (`width` x `height`, rows bottom first) as the preview area shows it, between
  // its bands; compared row by row with `shown` over the picture's rows (but its first,
  // which the upper band's dotted edge covers).
  static void ExpectShows(const platform::PreviewPicture& shown, const std::vector<uint32_t>& frame,
                          int32_t width, int32_t height) {
    const Letterbox box = PreviewLetterbox(width, height);
    std::vector<uint8_t> expected(size_t{kPreviewSize} * kPreviewSize * 3, 0);
    frames::ScaleFrameToRgb(frame.data(), width, width, height, expected.data(), kPreviewSize * 3,
                            kPreviewSize, box.height, box.top, kPreviewSize);
    ASSERT_EQ(shown.rgb.size(), expected.size());
    const size_t row = size_t{kPreviewSize} * 3;
    for (int y = box.top + 1; y < box.top + box.height; ++y) {
      ASSERT_EQ(0, std::memcmp(&shown.rgb[size_t(y) * row], &expected[size_t(y) * row], row))
          << "row " << y;
    }
  }

  platform::HeadlessUi* ui_ = nullptr;
  PreviewStepState step_;  // the preview's, as a loaded video holds it
  const std::vector<std::vector<uint32_t>> pictures_ = {Picture(1), Picture(2)};
};

TEST_F(PreviewConvertedTest, OnShowsTheConversionsFramesInTheMergeAndInALayout) {
  for (frames::OutputLayout layout :
       {frames::OutputLayout::kAnaglyph, frames::OutputLayout::kSbs}) {
    SCOPED_TRACE(static_cast<int>(layout));
    Settings.Layout = static_cast<int32_t>(layout);
    int32_t width = 0;
    const std::vector<uint32_t> converted = Converted(pictures_, layout, &width);
    ClearPreviewFrames(nullptr);
    step_.Clear();
    auto shown = Previewed(pictures_);
    ASSERT_TRUE(shown);
    ExpectShows(*shown, converted, width, kHeight);
    // Polled again (a paused video, a clip at its end), the picture is not processed nor
    // drawn again; with a setting changed it is, still paired with the frame before it.
    ShowPolledFrame(step_, WindowObserver());
    EXPECT_EQ(ui_->LastPreview(), shown);
    {
      SettingsChange change;
      Settings.CpuUsage = Settings.CpuUsage + 1;  // a change the picture does not show
    }
    ShowPolledFrame(step_, WindowObserver());
    EXPECT_NE(ui_->LastPreview(), shown);
    ExpectShows(*ui_->LastPreview(), converted, width, kHeight);
    Settings.CpuUsage = Settings.CpuUsage - 1;
  }
}

TEST_F(PreviewConvertedTest, APictureWithoutTheOneBeforeItIsPairedWithItself) {
  // Played with the effect off to the clip's end, then 3D Vision ticked: no frame before the
  // still picture was kept, so it is its own previous frame, as a recording's first frame is
  // (not a black one: an all-cyan picture).
  Settings.StereoOn = 0;
  ASSERT_TRUE(Previewed(pictures_));
  {
    SettingsChange change;
    Settings.StereoOn = 1;
  }
  ShowPolledFrame(step_, WindowObserver());
  int32_t width = 0;
  const std::vector<uint32_t> first =
      Converted({pictures_.back()}, frames::OutputLayout::kAnaglyph, &width);
  ExpectShows(*ui_->LastPreview(), first, width, kHeight);

  // A conversion stopped midway rewinds the clip: its first picture is not paired with the
  // one the preview showed before the conversion.
  step_.Forget();
  ASSERT_TRUE(Previewed({pictures_.front()}));
  const std::vector<uint32_t> start =
      Converted({pictures_.front()}, frames::OutputLayout::kAnaglyph, &width);
  ExpectShows(*ui_->LastPreview(), start, width, kHeight);
}

TEST_F(PreviewConvertedTest, OffShowsTheFilteredPictureAsBefore) {
  Settings.PreviewConverted = 0;
  auto shown = Previewed(pictures_);
  ASSERT_TRUE(shown);
  // The plain preview: the last picture through the filter chain alone, the whole width.
  std::vector<uint32_t> filtered = pictures_.back();
  filtered.resize(size_t{kWidth} * (kHeight + 1), 0);
  frames::FilterSettings chain;
  chain.noise_on = 1;
  chain.noise_passes = Settings.NoisePasses;
  chain.brightness_on = 1;
  chain.brightness = 150;
  chain.contrast_on = Settings.ContrastOn;
  chain.contrast = Settings.Contrast;
  frames::RunFilterChain(filtered.data(), kWidth, int64_t{kWidth} * kHeight, chain, NoSleep);
  ExpectShows(*shown, filtered, kWidth, kHeight);

  // Turned on from the menu, the next frame shows sharpen and stereo: another picture.
  HandleCommand(kIdPreviewConverted, platform::kNotifyClick);
  EXPECT_EQ(Settings.PreviewConverted, 1);
  auto converted = Previewed({pictures_.back()});
  EXPECT_NE(converted->rgb, shown->rgb);
  HandleCommand(kIdPreviewConverted, platform::kNotifyClick);
  EXPECT_EQ(Settings.PreviewConverted, 0);
}

}  // namespace
}  // namespace zqr
