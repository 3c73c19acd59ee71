// The preview display on the headless window: the letterbox figures with their rounding,
// the bands, the picture in between, a recording's last output frame with the conversion's
// caption lines, the switch that turns it off, and the scaler's colours.
#include <gtest/gtest.h>

#include <vector>

#include "app/preview.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/scale_to_rgb.h"
#include "platform/headless/headless_ui.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"

namespace zqr {
namespace {

class PreviewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    auto ui = std::make_unique<platform::HeadlessUi>();
    ui_ = ui.get();
    platform::InstallUi(std::move(ui));
    Settings.ShowInputVideo = 1;
    Settings.ResizeMode = 0;
  }
  void TearDown() override { AllocateInitialFrameStorage(); }
  static PreviewFrame Picture(const std::vector<uint32_t>& pixels, int32_t width, int32_t height) {
    PreviewFrame frame;
    frame.pixels = pixels.data();
    frame.stride = frame.width = width;
    frame.height = height;
    return frame;
  }
  static const uint8_t* Pixel(const platform::PreviewPicture& p, int x, int y) {
    return &p.rgb[(size_t(y) * size_t(p.width) + size_t(x)) * 3];
  }
  platform::HeadlessUi* ui_ = nullptr;
};

TEST(PreviewLetterbox, RoundsToNearestWithTiesToEven) {
  EXPECT_EQ(PreviewLetterbox(640, 480).height, 450);
  EXPECT_EQ(PreviewLetterbox(640, 480).top, 75);
  EXPECT_EQ(PreviewLetterbox(720, 576).height, 480);
  EXPECT_EQ(PreviewLetterbox(720, 576).top, 60);
  EXPECT_EQ(PreviewLetterbox(1000, 600).height, 360);
  EXPECT_EQ(PreviewLetterbox(1000, 600).top, 120);
  // 600 x 101 / 600 = 101: (600 - 101) / 2 = 249.5 goes to the even 250.
  EXPECT_EQ(PreviewLetterbox(600, 101).top, 250);
  // 600 x 103 / 600 = 103: 248.5 goes to 248.
  EXPECT_EQ(PreviewLetterbox(600, 103).top, 248);
  // Taller than wide: the picture overflows the area and the bands have no height.
  EXPECT_EQ(PreviewLetterbox(480, 640).height, 800);
  EXPECT_EQ(PreviewLetterbox(480, 640).top, -100);
}

TEST_F(PreviewTest, PictureBetweenBlackBandsWithoutCaptionsInPreview) {
  const std::vector<uint32_t> red(640 * 480, 0x00FF0000);
  DrawPreviewFrame(Picture(red, 640, 480));
  auto shown = ui_->LastPreview();
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->width, 600);
  ASSERT_EQ(shown->height, 600);
  EXPECT_TRUE(shown->captions.empty());
  // Inside the bands (off their dotted edges): black. Between them: the picture.
  for (int y : {5, 70, 530, 595}) {
    const uint8_t* p = Pixel(*shown, 300, y);
    EXPECT_EQ(p[0] + p[1] + p[2], 0) << "row " << y;
  }
  for (int y : {80, 300, 520}) {
    const uint8_t* p = Pixel(*shown, 300, y);
    EXPECT_EQ(p[0], 255) << "row " << y;
    EXPECT_EQ(p[1], 0);
    EXPECT_EQ(p[2], 0);
  }
}

TEST_F(PreviewTest, TopOfTheFrameIsDrawnAtTheTop) {
  // Rows are stored bottom first: the last stored rows are the top of the picture.
  std::vector<uint32_t> frame(600 * 600, 0x000000FF);  // blue
  for (int64_t i = 0; i < 600 * 300; ++i) frame[300 * 600 + i] = 0x0000FF00;
  DrawPreviewFrame(Picture(frame, 600, 600));
  auto shown = ui_->LastPreview();
  ASSERT_TRUE(shown);
  EXPECT_EQ(Pixel(*shown, 300, 100)[1], 255);  // green on top
  EXPECT_EQ(Pixel(*shown, 300, 500)[2], 255);  // blue below
}

// The window's observer as a recording calls it: a white frame is recorded after a black
// one, and the preview shows the black one (the last finished output frame) with the three
// lines; white once the next frame has been recorded.
class DrawingObserver final : public Observer {
 public:
  int Ask(const std::string&, const std::string&, int) override { return 0; }
  void ShowPreviewFrame(const PreviewFrame& frame) override { DrawPreviewFrame(frame); }
};

TEST_F(PreviewTest, ConversionShowsItsThreeLinesAndTheSwitchTurnsItOff) {
  ASSERT_TRUE(AllocateGrabFrames(400, 300));
  for (Shared32* on : {&Settings.StereoOn, &Settings.CpuLimitOn, &Settings.NoiseOn,
                       &Settings.BrightnessOn, &Settings.ContrastOn, &Settings.SharpenOn}) {
    *on = 0;
  }
  Settings.ResizeMode = 3;
  Shell.EstimateText.Set("00:09:59");
  Shell.ElapsedText.Set("00:00:06");
  DrawingObserver observer;
  RecordingPlan plan{""};
  plan.write_files = false;
  plan.observer = &observer;
  FrameRecording recording(std::move(plan));
  ASSERT_TRUE(recording.AllocateArrays());
  const std::vector<uint32_t> black(400 * 300, 0), white(400 * 300, 0x00FFFFFF);
  BufferCB(recording, black.data(), int64_t{400} * 300 * 4);
  BufferCB(recording, white.data(), int64_t{400} * 300 * 4);
  auto shown = ui_->LastPreview();
  ASSERT_TRUE(shown);
  ASSERT_EQ(shown->captions.size(), 3u);
  EXPECT_EQ(shown->captions[0].text, " Estimated processing time = 00:09:59 ");
  EXPECT_EQ(shown->captions[1].text, " Time passed = 00:00:06 ");
  EXPECT_EQ(shown->captions[2].text, " Resize Mode = 70% ");
  EXPECT_EQ(shown->captions[1].y, 30);
  EXPECT_EQ(Pixel(*shown, 300, 300)[0], 0);
  BufferCB(recording, white.data(), int64_t{400} * 300 * 4);
  EXPECT_EQ(Pixel(*ui_->LastPreview(), 300, 300)[0], 255);

  ui_->ResetPreview();
  Settings.ShowInputVideo = 0;
  BufferCB(recording, white.data(), int64_t{400} * 300 * 4);
  EXPECT_FALSE(ui_->LastPreview());
  recording.End();
}

TEST(PreviewScaler, KeepsFlatColoursAndEdges) {
  // 1920 x 1080 in grey 77 left and 200 right, scaled to 600 x 338.
  std::vector<uint32_t> frame(1920 * 1080);
  for (int y = 0; y < 1080; ++y) {
    for (int x = 0; x < 1920; ++x)
      frame[size_t(y) * 1920 + size_t(x)] = x < 960 ? 0x4D4D4D : 0xC8C8C8;
  }
  std::vector<uint8_t> out(600 * 338 * 3, 1);
  frames::ScaleFrameToRgb(frame.data(), 1920, 1920, 1080, out.data(), 600 * 3, 600, 338, 0, 338);
  for (int y : {0, 169, 337}) {
    EXPECT_EQ(out[(size_t(y) * 600 + 10) * 3], 77) << y;
    EXPECT_EQ(out[(size_t(y) * 600 + 590) * 3 + 2], 200) << y;
  }
  // Clipped rows are left alone.
  std::vector<uint8_t> clipped(600 * 10 * 3, 1);
  frames::ScaleFrameToRgb(frame.data(), 1920, 1920, 1080, clipped.data(), 600 * 3, 600, 338, -300,
                          10);
  EXPECT_EQ(clipped[0], 77);
  frames::ScaleFrameToRgb(frame.data(), 1920, 1920, 1080, clipped.data(), 600 * 3, 600, 338, 100,
                          10);
  EXPECT_EQ(clipped[0], 77);  // nothing written beyond the 10 rows
}

}  // namespace
}  // namespace zqr
