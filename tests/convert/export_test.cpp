// The export window's animation and clock, the another-compression window's handlers on
// the scripted headless window, and the free space a recording asks for.
#include <gtest/gtest.h>

#include "app/window_layout.h"
#include "app/window_observer.h"
#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "convert/export.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/headless/headless_ui.h"
#include "platform/ui.h"

namespace zqr {
namespace {

using platform::HeadlessUi;

TEST(CompressionAnimation, SquaresLightUpInTurnAndStartAgain) {
  CompressionAnimation animation(100.0);
  for (int pass = 0; pass < 47; ++pass) animation.Step(100.0);
  EXPECT_EQ(animation.view().green[0], 255);
  EXPECT_EQ(animation.view().green[1], 20);
  animation.Step(100.0);
  EXPECT_EQ(animation.view().green[0], 255);
  EXPECT_EQ(animation.view().green[1], 25);
  // 47 passes per square: after the fifth has passed 255, all five start at 20 again.
  for (int pass = 48; pass < 5 * 47; ++pass) animation.Step(100.0);
  EXPECT_EQ(animation.view().green[4], 255);
  animation.Step(100.0);
  for (int square = 0; square < 5; ++square) EXPECT_EQ(animation.view().green[square], 20);
}

TEST(CompressionAnimation, PictureAndClockAdvanceEverySecondPass) {
  CompressionAnimation animation(1000.0);
  animation.Step(1000.5);
  EXPECT_EQ(animation.view().picture_index, 1);
  animation.Step(1060.0);
  EXPECT_EQ(animation.view().picture_index, 2);
  EXPECT_EQ(animation.view().elapsed_text, "Processing time: 00:01:00");
  for (int pass = 0; pass < 6; ++pass) animation.Step(4600.0);
  EXPECT_EQ(animation.view().picture_index, 1);  // 2, 3, 4, 1
  EXPECT_EQ(animation.view().elapsed_text, "Processing time: 01:00:00");
  EXPECT_EQ(ProcessingTimeText(3599.9), "Processing time: 00:59:59");
}

class AnotherCompression : public ::testing::Test {
 protected:
  void SetUp() override {
    ui().Clear();
    Settings.ResizeMode = 0;
    Settings.CompressionValue = 0;
  }
  void TearDown() override { ui().Clear(); }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(platform::CurrentUi()); }
};

TEST_F(AnotherCompression, PicksAreKeptBySaveAndTakenBackByCancel) {
  // Picks 3 and 7, then Save; then picks 1 and 2, then Exit/Cancel: the saved ones stand,
  // in the settings and in the main window's compression list and output size menu mark.
  for (const bool save : {true, false}) {
    SCOPED_TRACE(save ? "save" : "cancel");
    HeadlessUi::CompressionAnswer answer;
    answer.resize_index = save ? 3 : 1;
    answer.compression_index = save ? 7 : 2;
    answer.save = save;
    ui().QueueAnotherCompressionAnswer(answer);
    EXPECT_EQ(AnotherCompressionDialog("/out/a.mp4", WindowObserver()), save ? "/out/a.mp4" : "");
    EXPECT_EQ(Settings.ResizeMode, 3);
    EXPECT_EQ(Settings.CompressionValue, 7);
    EXPECT_EQ(ui().ListSelection(kIdCompressionList), 7);
    for (int id = 870; id <= 875; ++id) EXPECT_EQ(ui().IsMenuChecked(id), id == 873) << id;
  }
  ASSERT_EQ(ui().AnotherCompressionModels().size(), 2u);
  EXPECT_EQ(ui().AnotherCompressionModels()[0].path_text, "/out/a.mp4");
  EXPECT_EQ(ui().AnotherCompressionModels()[0].compression_index, 0);
  EXPECT_EQ(CompressionListEntries()[7], "7:");
  EXPECT_EQ(CompressionListEntries().size(), 22u);
}

TEST_F(AnotherCompression, SelectFilePathOpensTheSaveDialogInTheEditBoxFolder) {
  HeadlessUi::CompressionAnswer answer;
  answer.click_select_path = true;
  answer.save = true;
  ui().QueueAnotherCompressionAnswer(answer);
  ui().QueueFileDialogAnswer("/movies/b.flv");
  EXPECT_EQ(AnotherCompressionDialog("/out/a.mp4", WindowObserver()), "/movies/b.flv");
  const auto requests = ui().FileDialogRequests();
  ASSERT_EQ(requests.size(), 1u);
  EXPECT_EQ(requests[0].title, "Save Rectangular VIDEO");
  EXPECT_EQ(requests[0].folder, "/out/");
  EXPECT_EQ(requests[0].default_extension, "FLV");
  EXPECT_TRUE(requests[0].save && requests[0].overwrite_prompt);
  EXPECT_EQ(requests[0].filters, RectangularVideoFilters());
  EXPECT_EQ(Shell.VideoFolder, "/movies");
  // A cancelled dialog keeps the edit box's text.
  ui().QueueAnotherCompressionAnswer(answer);
  EXPECT_EQ(AnotherCompressionDialog("/out/a.mp4", WindowObserver()), "/out/a.mp4");
}

TEST(RecordingBytesNeeded, FramesAndSound) {
  // 1920 x 1080 gives 1904-column files of 8 225 334 bytes.
  EXPECT_EQ(RecordingBytesNeeded(100, 1904, 1080, 0.0), 100 * int64_t{8225334} + 44);
  EXPECT_EQ(RecordingBytesNeeded(0, 1904, 1080, 2.5), 44 + 3 * 44100 * 4);
  EXPECT_EQ(RecordingBytesNeeded(-5, -1, 10, -1.0), 44);
}

// A client that keeps what it is told; its questions get Cancel.
class KeepingObserver final : public Observer {
 public:
  std::vector<std::string> asked;
  void Wait(int /*milliseconds*/) override {}
  int Ask(const std::string& text, const std::string& /*caption*/, int /*style*/) override {
    asked.push_back(text);
    return platform::kIdCancel;
  }
};

TEST_F(AnotherCompression, TheCoreTellsTheObserverItWasGivenNotTheWindow) {
  KeepingObserver client;
  ConversionJob job;
  job.output = "/out/a.mp4";
  const ConversionReport report = ConvertMovie(job, client);
  EXPECT_EQ(report.failure, "no video is loaded");
  EXPECT_EQ(client.asked, std::vector<std::string>{kNoVideoText});
  EXPECT_TRUE(ui().Messages().empty());
  EXPECT_TRUE(ui().LabelHistory().empty());
  EXPECT_EQ(PollConversion().state, ConversionProgress::State::kIdle);
}

}  // namespace
}  // namespace zqr
