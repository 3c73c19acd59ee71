// The main window on the display, in this process: every control of the layout table as
// the wx backend built it, accelerators and a menu pressed on the keyboard, and a
// generated clip loaded through the open dialog, shown in the preview area and converted
// through the save dialog.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <filesystem>
#include <thread>

#include "app/commands.h"
#include "app/startup_window.h"
#include "app/window_layout.h"
#include "convert/convert_movie.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_driver.h"
#include "video/graph.h"
#include "video/video_state.h"

namespace zqr {
namespace {

const char* kCaption = "Kavelund ZQR Stereo Video Coverter Build 005.01";

bool WaitFor(const std::function<bool()>& condition, int timeout_ms) {
  for (int waited = 0; waited < timeout_ms; waited += 20) {
    if (condition()) return true;
    platform::SleepMs(20);
  }
  return condition();
}

// Share of the preview's pixels that are not the idle grey.
double PictureShare(const std::vector<uint8_t>& rgb) {
  if (rgb.empty()) return 0;
  size_t other = 0;
  for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
    if (!(rgb[i] == 51 && rgb[i + 1] == 51 && rgb[i + 2] == 51)) ++other;
  }
  return static_cast<double>(other) / static_cast<double>(rgb.size() / 3);
}

// With ZQR_SCREENSHOT_DIR set, the window is also saved there as a picture for the
// documentation.
void Shot(unsigned long window, const std::string& name) {
  const char* folder = std::getenv("ZQR_SCREENSHOT_DIR");
  if (folder == nullptr) return;
  test::Run({"import", "-window", std::to_string(window), std::string(folder) + "/" + name});
}

void ShotScreen(const std::string& name) {
  const char* folder = std::getenv("ZQR_SCREENSHOT_DIR");
  if (folder == nullptr) return;
  test::Run({"import", "-window", "root", std::string(folder) + "/" + name});
}

void CheckControlsAgainstTable() {
  std::vector<platform::LiveControl> live = platform::LiveControls();
  for (const ControlRow& row : MainControlRows()) {
    if (row.spec.id < 0) continue;
    const platform::LiveControl* found = nullptr;
    for (const platform::LiveControl& c : live) {
      if (c.spec.id == row.spec.id) found = &c;
    }
    ASSERT_NE(found, nullptr) << "control " << row.spec.id;
    EXPECT_EQ(found->spec.x, row.spec.x) << row.spec.id;
    EXPECT_EQ(found->spec.y, row.spec.y) << row.spec.id;
    EXPECT_EQ(found->spec.width, row.spec.width) << row.spec.id;
    // A closed drop-down list is as high as its font needs; the others keep the table's.
    if (row.spec.kind != platform::ControlKind::kDropDown) {
      EXPECT_EQ(found->spec.height, row.spec.height) << row.spec.id;
    }
    const bool has_text =
        row.spec.kind == platform::ControlKind::kCheckBox ||
        row.spec.kind == platform::ControlKind::kPushButton ||
        row.spec.kind == platform::ControlKind::kGroupFrame ||
        (row.spec.kind == platform::ControlKind::kLabel && row.spec.id != kIdTempPathLabel);
    if (has_text) {
      EXPECT_EQ(found->spec.text, row.spec.text) << row.spec.id;
    }
  }
}

TEST(MainWindowGui, ControlsKeysMenusAndAPlayingClip) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
  if (!platform::WindowBackendAvailable()) GTEST_SKIP() << "built without a window backend";
  test::ScratchDir dir;
  test::ProgramLocationGuard location;
  SetProgramLocation(dir.File("zqrstereo"));
  // The encoder tools of the build, beside the program as the program expects them.
  std::filesystem::create_directory_symlink(test::BinDir() + "/PLUG-IN", dir.File("PLUG-IN"));
  ResetSettingsToStartValues();
  const std::string clip = dir.File("clip.mp4");
  const std::string output = dir.File("converted.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=320x240:rate=25", 4.0));
  platform::InstallFfmpegMedia();
  SetGraphSettleMs(100);

  ConnectWindowCommands();
  // The real loader and output dialog; only the help document is counted, not opened.
  std::atomic<int> documents{0};
  CommandHooks hooks = CurrentCommandHooks();
  hooks.open_document = [&documents](const std::string&) { documents.fetch_add(1); };
  SetCommandHooks(hooks);

  platform::SetAboutTexts(MakerTexts());
  platform::MainWindowSpec spec;
  spec.layout = MainWindowLayout();
  spec.events = MainWindowEvents();
  std::thread driver;
  spec.on_created = [&] {
    driver = std::thread([&] {
      test::X11Driver x;
      ASSERT_TRUE(x.ok());
      unsigned long window = x.WaitForWindow(kCaption, 20000);
      ASSERT_NE(window, 0u);
      CheckControlsAgainstTable();
      x.Focus(window);
      platform::SleepMs(300);

      x.Key("o", true);  // Ctrl+O: the output stream window
      EXPECT_NE(x.WaitForWindow("Output 360 stream", 5000), 0u);
      x.Focus(window);
      platform::SleepMs(200);
      x.Key("F1");
      EXPECT_TRUE(WaitFor([&] { return documents.load() == 1; }, 3000));
      platform::SleepMs(1000);
      EXPECT_EQ(documents.load(), 1);  // one press, one command
      x.Key("o", false, true);         // Alt+O opens the Option menu, Return takes its first item
      platform::SleepMs(400);
      ShotScreen("menu-option.png");
      x.Key("Return");
      EXPECT_TRUE(WaitFor([] { return Settings.AutoSave == 0; }, 3000));
      EXPECT_FALSE(platform::CurrentUi().IsMenuChecked(kIdAutoSave));

      Shot(window, "main-idle.png");
      // The About button, clicked: its window, closed with its close box.
      for (const platform::LiveControl& c : platform::LiveControls()) {
        if (c.spec.id == kIdAbout) x.Click(c.screen_x + 60, c.screen_y + 12);
      }
      unsigned long about = x.WaitForWindow("About", 5000);
      EXPECT_NE(about, 0u);
      if (about != 0) {
        platform::SleepMs(300);
        Shot(about, "about.png");
        x.Close(about);
      }
      EXPECT_TRUE(WaitFor([&] { return !x.WindowExists("About"); }, 3000));
      x.Focus(window);
      platform::SleepMs(200);

      // Ctrl+L: the open dialog, answered by typing the clip's path; 0 when none opened.
      auto load_clip = [&] {
        x.Key("l", true);
        unsigned long dialog = x.WaitForWindow("Load VIDEO", 10000);
        if (dialog == 0) return dialog;
        platform::SleepMs(500);
        x.Type(clip);
        platform::SleepMs(300);
        x.Key("Return");
        return dialog;
      };
      unsigned long open = load_clip();
      ASSERT_NE(open, 0u);
      EXPECT_TRUE(WaitFor([] { return CurrentGraph() != nullptr && Video.PlayState == 1; }, 15000));
      platform::SleepMs(1500);
      for (const platform::LiveControl& c : platform::LiveControls()) {
        if (c.spec.id != kIdPreview) continue;
        std::vector<uint8_t> shown = x.Capture(c.screen_x + 2, c.screen_y + 2, 590, 590);
        EXPECT_GT(PictureShare(shown), 0.5);
      }
      EXPECT_EQ(platform::CurrentUi().GetLabel(304), "320x240");
      Shot(window, "main-playing.png");

      // Ctrl+C: the save dialog, the conversion, its success message and the offer of
      // another compression, declined.
      x.Key("c", true);
      unsigned long save = x.WaitForWindow("Save Rectangular VIDEO", 10000);
      ASSERT_NE(save, 0u);
      platform::SleepMs(500);
      x.Key("a", true);
      x.Type(output);
      platform::SleepMs(300);
      x.Key("Return");
      unsigned long done = x.WaitForWindow(kSuccessCaption, 120000);
      EXPECT_NE(done, 0u);
      if (done != 0) {
        platform::SleepMs(300);
        x.Focus(done);
        x.Key("Return");
      }
      unsigned long again = x.WaitForWindow("Save a VIDEO with another compression", 10000);
      EXPECT_NE(again, 0u);
      if (again != 0) x.Close(again);
      EXPECT_TRUE(WaitFor([&] { return test::FileSize(output) > 0; }, 10000));

      // Closing while a clip plays: the question, then ShutDown saves the settings (Auto
      // saving is switched back on first) and the program ends with its loader.
      x.Focus(window);
      platform::SleepMs(200);
      x.Key("o", false, true);
      platform::SleepMs(400);
      x.Key("Return");
      EXPECT_TRUE(WaitFor([] { return Settings.AutoSave == 1; }, 3000));
      open = load_clip();
      ASSERT_NE(open, 0u);
      EXPECT_TRUE(WaitFor([] { return CurrentGraph() != nullptr && Video.PlayState == 1; }, 15000));
      platform::SleepMs(500);
      x.Close(window);
      unsigned long question = x.WaitForWindow("Exit IDE", 5000);
      EXPECT_NE(question, 0u);
      if (question != 0) {
        platform::SleepMs(300);
        x.Focus(question);
        x.Key("Return");
      }
      // Should the question not have closed it, the window is closed anyway so the test ends.
      if (!WaitFor([&] { return !x.WindowExists(kCaption); }, 15000)) {
        ADD_FAILURE() << "the main window stayed open";
        platform::CurrentUi().CloseMainWindow();
      }
    });
  };
  ASSERT_TRUE(platform::RunMainWindow(spec));
  if (driver.joinable()) driver.join();
  EXPECT_TRUE(WaitFor([] { return LoadThreadsRunning() == 0; }, 10000));
  EXPECT_TRUE(test::FileExists(dir.File("zqrstereo.ini")));
  SetCommandHooks({});
}

}  // namespace
}  // namespace zqr
