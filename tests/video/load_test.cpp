// The loader without a media backend: the open dialog's request, a blank or cancelled
// choice, and what OpenVideo remembers of a path even when the graph cannot be built.
#include <gtest/gtest.h>

#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/window_observer.h"
#include "convert/convert_state.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/headless/headless_ui.h"
#include "platform/media.h"
#include "platform/system.h"
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
    Video.PlayState = 0;  // nothing plays, whatever the test before left
    ui().Clear();
    Loader.OpenDialogBusy = 0;
  }
  void TearDown() override { ui().Clear(); }
  static HeadlessUi& ui() { return dynamic_cast<HeadlessUi&>(platform::CurrentUi()); }
};

TEST_F(Loading, BlankOrCancelledChoiceLoadsNothing) {
  Shell.VideoFolder = "/videos";
  ui().QueueFileDialogAnswer("   ");
  EXPECT_EQ(GetMultipleFiles("/videos", 0, WindowObserver()), "");
  EXPECT_EQ(GetMultipleFiles("/videos", 0, WindowObserver()), "");  // no answer: Cancel
  const auto requests = ui().FileDialogRequests();
  ASSERT_EQ(requests.size(), 2u);
  EXPECT_EQ(requests[0].title, "Load VIDEO");
  EXPECT_EQ(requests[0].folder, "/videos");
  EXPECT_TRUE(requests[0].file_must_exist);
  EXPECT_EQ(requests[0].filters, OpenDialogFilters());
  EXPECT_TRUE(OpenDialogFilters().front().second.starts_with(
      "*.avi;*.asf;*.mpg;*.mpeg;*.mov;*.qt;*.m2ts;*.mts;*.m2t;*.tod;*.mp4;"));
  EXPECT_EQ(Shell.VideoFolder, "/videos");  // unchanged without a choice
  EXPECT_EQ(Video.PlayState, 0);
  EXPECT_EQ(Loader.OpenDialogBusy, 0);
  EXPECT_TRUE(ui().Messages().empty());
}

TEST_F(Loading, TheClipPlaysOnUntilAnotherFileIsChosen) {
  // A clip plays (its loader counted) while the dialog is cancelled: nothing of it changes.
  Video.PlayState = 1;
  Loader.Playbacks = 1;
  ui().SetLabel(303, " /v/playing.mp4 ");
  int chosen = 0;
  EXPECT_EQ(GetMultipleFiles("/videos", 0, WindowObserver(), [&chosen] { ++chosen; }), "");
  EXPECT_EQ(chosen, 0);
  EXPECT_EQ(Video.PlayState, 1);
  EXPECT_EQ(ui().GetLabel(303), " /v/playing.mp4 ");

  // A choice: the playing clip is asked to stop, and the new one is loaded only once its
  // loader has let go.
  SetCurrentLoadedVideo(std::make_shared<LoadedVideo>("/v/playing.mp4"));
  std::string video_at_let_go;
  std::thread playing([&video_at_let_go] {
    while (Video.PlayState != 0) platform::SleepMs(1);
    platform::SleepMs(50);  // the loader's teardown
    video_at_let_go = CurrentVideo();
    Loader.Playbacks = 0;
  });
  ui().QueueFileDialogAnswer("/v/next.mp4");
  GetMultipleFiles("/videos", 0, WindowObserver(), [&chosen] { ++chosen; });
  playing.join();
  EXPECT_EQ(chosen, 1);
  EXPECT_EQ(video_at_let_go, "/v/playing.mp4");
  EXPECT_EQ(CurrentVideo(), "/v/next.mp4");
  EXPECT_EQ(ui().GetLabel(303), "");
  EXPECT_EQ(Video.PlayState, 0);
  EXPECT_EQ(Loader.Playbacks, 0);
}

TEST_F(Loading, OpenVideoKeepsTheWholeNameAndMarksTheVideoLoaded) {
  Settings.ShowInputVideo = 0;
  const std::string path = "/" + std::string(300, 'v') + ".mp4";
  OpenVideo(path, WindowObserver());
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

// Each type has exactly one filter of its own, and the first filter lists each of them
// once: no type shows twice, none is missing from "All VIDEO files".
TEST(OpenDialog, EveryTypeHasOneFilterAndTheFirstListsThemAllOnce) {
  const auto filters = OpenDialogFilters();
  ASSERT_GE(filters.size(), 2u);
  auto split = [](const std::string& patterns) {
    std::vector<std::string> parts;
    size_t start = 0;
    for (size_t end; (end = patterns.find(';', start)) != std::string::npos; start = end + 1) {
      parts.push_back(patterns.substr(start, end - start));
    }
    parts.push_back(patterns.substr(start));
    return parts;
  };
  std::multiset<std::string> all;
  for (const std::string& p : split(filters[0].second)) all.insert(p);
  std::multiset<std::string> own;
  for (size_t i = 1; i < filters.size(); ++i) {
    for (const std::string& p : split(filters[i].second)) own.insert(p);
  }
  for (const std::string& p : all) EXPECT_EQ(all.count(p), 1u) << p << " twice in the first";
  for (const std::string& p : own) EXPECT_EQ(own.count(p), 1u) << p << " in two filters";
  EXPECT_EQ(all, own);
  // The program's own movies load again.
  for (const char* written : {"*.mkv", "*.mp4", "*.webm", "*.flv", "*.m4v", "*.ogv"}) {
    EXPECT_EQ(all.count(written), 1u) << written;
  }
}

}  // namespace
}  // namespace zqr
