// The loader without a media backend: the open dialog's request, a blank or cancelled
// choice, and what OpenVideo remembers of a path even when the graph cannot be built.
#include <gtest/gtest.h>

#include <string>

#include "convert/convert_state.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/media.h"
#include "platform/ui.h"
#include "video/load.h"
#include "video/video_state.h"

namespace zqr {
namespace {

using platform::HeadlessUi;

class Loading : public ::testing::Test {
 protected:
  void SetUp() override {
    platform::InstallMediaGraphFactory(nullptr);
    ui().Clear();
    Loader.OpenDialogBusy = 0;
  }
  void TearDown() override { ui().Clear(); }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(platform::CurrentUi()); }
};

TEST_F(Loading, BlankOrCancelledChoiceLoadsNothing) {
  Shell.VideoFolder = "/videos";
  ui().QueueFileDialogAnswer("   ");
  EXPECT_EQ(GetMultipleFiles("/videos", 0), "");
  EXPECT_EQ(GetMultipleFiles("/videos", 0), "");  // no answer: Cancel
  const auto requests = ui().FileDialogRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].title, "Load VIDEO");
  EXPECT_EQ(requests[0].folder, "/videos");
  EXPECT_TRUE(requests[0].file_must_exist);
  EXPECT_EQ(requests[0].filters, OpenDialogFilters());
  EXPECT_EQ(OpenDialogFilters().front().second,
            "*.avi;*.asf;*.mpg;*.mpeg;*.mov;*.qt;*.m2ts;*.mts;*.m2t;*.tod;*.mp4");
  EXPECT_EQ(OpenDialogFilters().back().first, "MP4 VIDEO files (*.MP4)");
  EXPECT_EQ(Shell.VideoFolder, "/videos");  // unchanged without a choice
  EXPECT_EQ(Video.PlayState, 0);
  EXPECT_EQ(Loader.OpenDialogBusy, 0);
  EXPECT_TRUE(ui().Messages().empty());
}

TEST_F(Loading, OpenVideoKeepsTheWholeNameAndMarksTheVideoLoaded) {
  Settings.ShowInputVideo = 0;
  const std::string path = "/" + std::string(300, 'v') + ".mp4";
  OpenVideo(path);
  EXPECT_EQ(CurrentVideo(), path);
  EXPECT_EQ(Loader.VideoLoaded, 1);
  EXPECT_EQ(Settings.ShowInputVideo, 1);
  // Without a media backend the graph build says so, and the loader ends normally.
  ASSERT_EQ(ui().Messages().size(), 1u);
  EXPECT_EQ(ui().Messages()[0].text, "FilterGraph Error.");
  EXPECT_EQ(Video.PlayState, 0);
  EXPECT_EQ(FolderOfFile("/a/b/c.mov "), "/a/b");
  EXPECT_EQ(FolderOfFile("c.mov"), ".");
}

}  // namespace
}  // namespace zqr
