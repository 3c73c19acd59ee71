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
#include "convert/convert_state.h"
#include "convert/export.h"
#include "core/options.h"
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

// A part of the screen, for a menu or a tooltip: windows of their own over the program's.
void ShotArea(int x, int y, int width, int height, const std::string& name) {
  const char* folder = std::getenv("ZQR_SCREENSHOT_DIR");
  if (folder == nullptr) return;
  const std::string crop = std::to_string(width) + "x" + std::to_string(height) + "+" +
                           std::to_string(x) + "+" + std::to_string(y);
  test::Run({"import", "-window", "root", "-crop", crop, std::string(folder) + "/" + name});
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
    // A slider's value label shows the value of the settings, which the table cannot know.
    const OptionDef* valued = nullptr;
    for (const OptionDef& option : Options()) {
      if (option.value_label_id == row.spec.id) valued = &option;
    }
    if (valued != nullptr) {
      EXPECT_EQ(found->spec.text, ValueLabelText(*valued, Settings.*valued->field)) << row.spec.id;
    } else if (has_text) {
      EXPECT_EQ(found->spec.text, row.spec.text) << row.spec.id;
    }
  }
}

const platform::LiveControl* FindLive(const std::vector<platform::LiveControl>& live, int id) {
  for (const platform::LiveControl& c : live) {
    if (c.spec.id == id) return &c;
  }
  return nullptr;
}

// Moves the pointer onto a screen point as a hand does, in more than one step.
void Approach(test::X11Driver& x, int to_x, int to_y) {
  x.MoveTo(to_x - 4, to_y);
  platform::SleepMs(50);
  x.MoveTo(to_x, to_y);
}

// Every control of the tooltip table, hovered in turn from a place without one (the
// preview): a tooltip shows by the pointer, and the control holds the table's text.
void CheckTooltips(test::X11Driver& x) {
  const std::vector<platform::LiveControl> live = platform::LiveControls();
  const platform::LiveControl* preview = FindLive(live, kIdPreview);
  ASSERT_NE(preview, nullptr);
  for (const platform::TooltipSpec& t : MainTooltips()) {
    const platform::LiveControl* c = FindLive(live, t.control_id);
    ASSERT_NE(c, nullptr) << t.control_id;
    EXPECT_EQ(c->tooltip, t.text) << t.control_id;
    x.MoveTo(preview->screen_x + 300, preview->screen_y + 300);
    EXPECT_TRUE(WaitFor([&] { return x.Tooltip() == 0; }, 3000)) << t.control_id;
    const int at_x = c->screen_x + c->spec.width / 2;
    const int at_y = c->screen_y + std::min(c->spec.height, 18) / 2;
    Approach(x, at_x, at_y);
    unsigned long tip = x.WaitForTooltip(3000);
    EXPECT_NE(tip, 0u) << "no tooltip over " << t.control_id;
    if (t.control_id == kIdSetTempPath) {
      // Its white text stays on the dark grey it stands on while hovered, not on a light
      // face of the button.
      const std::vector<uint8_t> face =
          x.Capture(c->screen_x, c->screen_y, c->spec.width, c->spec.height);
      size_t light = 0;
      for (size_t i = 0; i + 2 < face.size(); i += 3) {
        light += face[i] > 160 && face[i + 1] > 160 && face[i + 2] > 160 ? 1 : 0;
      }
      // The text alone lights about 14 % of it; a light face twice that.
      EXPECT_LT(light * 100, face.size() / 3 * 22) << "hovered, the button face is light";
    }
    int tip_x = 0, tip_y = 0, tip_w = 0, tip_h = 0;
    if (tip != 0 && x.Geometry(tip, &tip_x, &tip_y, &tip_w, &tip_h)) {
      EXPECT_LT(std::abs(tip_y - at_y), 80) << t.control_id;
      if (t.control_id == kIdDepthSwitch) {
        const int left = std::min(c->screen_x, tip_x) - 10;
        const int top = c->screen_y - 30;
        ShotArea(left, top, std::max(c->screen_x + 200, tip_x + tip_w) + 10 - left,
                 tip_y + tip_h + 10 - top, "tooltip.png");
      }
    }
  }
  x.MoveTo(preview->screen_x + 300, preview->screen_y + 300);
}

// A picture button shows its hover picture and the hand while the pointer is on it, and
// gives both up when the pointer is on any other part of the window.
void CheckPictureButtonHover(test::X11Driver& x) {
  const std::vector<platform::LiveControl> live = platform::LiveControls();
  const platform::LiveControl* load = FindLive(live, kIdLoad);
  const platform::LiveControl* caption = FindLive(live, 203);
  ASSERT_TRUE(load != nullptr && caption != nullptr);
  auto shown = [&] { return x.Capture(load->screen_x, load->screen_y, 195, 24); };
  Approach(x, caption->screen_x + 40, caption->screen_y + 8);
  platform::SleepMs(200);
  const std::vector<uint8_t> normal = shown();
  const unsigned long arrow = x.CursorSerial();
  ASSERT_FALSE(normal.empty());
  Approach(x, load->screen_x + 100, load->screen_y + 12);
  EXPECT_TRUE(WaitFor([&] { return shown() != normal; }, 3000)) << "no hover picture";
  EXPECT_NE(x.CursorSerial(), arrow) << "no hand over the button";
  Approach(x, caption->screen_x + 40, caption->screen_y + 8);
  EXPECT_TRUE(WaitFor([&] { return shown() == normal; }, 3000)) << "the hover picture stayed";
  EXPECT_EQ(x.CursorSerial(), arrow);
}

// The another-compression window, as the conversion offers it: a compression and a size
// picked from its two lists, which the main window's compression list and output size
// menu show at once, then "Exit/Cancel", which takes them back there too.
void PickAnotherCompression(test::X11Driver& x, unsigned long again) {
  const int32_t compression_before = Settings.CompressionValue;
  const int32_t resize_before = Settings.ResizeMode;
  ASSERT_NE(compression_before, 15);
  ASSERT_NE(resize_before, 3);
  int left = 0, top = 0, width = 0, height = 0;
  ASSERT_TRUE(x.Geometry(again, &left, &top, &width, &height));
  EXPECT_EQ(width, 480);
  EXPECT_EQ(height, 112);
  platform::SleepMs(300);
  // A list opens on a click; with the pointer off its entries, the arrow keys walk them
  // from the first.
  auto pick = [&](int list_x, int entry) {
    x.Click(left + list_x + 50, top + 70);
    platform::SleepMs(400);
    x.MoveTo(0, 0);
    platform::SleepMs(100);
    for (int k = 0; k <= entry; ++k) x.Key("Down");
    x.Key("Return");
    platform::SleepMs(300);
  };
  pick(5, 15);   // "15:"
  pick(118, 3);  // "Resize 70%"
  EXPECT_TRUE(WaitFor([] { return Settings.CompressionValue == 15; }, 3000));
  EXPECT_TRUE(WaitFor([] { return Settings.ResizeMode == 3; }, 3000));
  const auto shows = [](const std::string& entry, int size_item) {
    const std::vector<platform::LiveControl> live = platform::LiveControls();
    const platform::LiveControl* list = FindLive(live, kIdCompressionList);
    ASSERT_NE(list, nullptr);
    EXPECT_EQ(list->spec.text, entry);
    EXPECT_EQ(platform::CurrentUi().ListText(kIdCompressionList), entry);
    for (int id = 870; id <= 875; ++id) {
      EXPECT_EQ(platform::LiveMenuChecked(id), id == size_item) << id;
    }
  };
  shows("15:", 873);
  Shot(again, "another-compression.png");
  x.Click(left + 368 + 50, top + 80 + 12);  // "Exit/Cancel"
  EXPECT_TRUE(
      WaitFor([&] { return !x.WindowExists("Save a VIDEO with another compression"); }, 5000));
  EXPECT_EQ(Settings.CompressionValue, compression_before);
  EXPECT_EQ(Settings.ResizeMode, resize_before);
  shows(CompressionListEntries()[static_cast<size_t>(compression_before)], 870 + resize_before);
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
  // The real loader, output dialog and opener; the opener's calls are counted too. No
  // manual lies beside the program in its scratch folder, so the opener fails.
  std::atomic<int> documents{0};
  CommandHooks hooks = CurrentCommandHooks();
  hooks.open_document = [&documents, open = hooks.open_document](const std::string& target) {
    documents.fetch_add(1);
    open(target);
  };
  SetCommandHooks(hooks);

  platform::SetAboutTexts(MakerTexts());
  platform::MainWindowSpec spec;
  spec.layout = MainWindowLayout();
  spec.events = MainWindowEvents();
  test::X11Driver x;
  ASSERT_TRUE(x.ok());
  unsigned long window = 0;
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
  auto drive = [&] {
    window = x.WaitForWindow(kCaption, 20000);
    ASSERT_NE(window, 0u);
    CheckControlsAgainstTable();
    x.Focus(window);
    platform::SleepMs(300);
    CheckTooltips(x);
    CheckPictureButtonHover(x);

    x.Key("o", true);  // Ctrl+O: the output stream window, closed again
    unsigned long stream = x.WaitForWindow("Output 360 stream", 5000);
    EXPECT_NE(stream, 0u);
    if (stream != 0) x.Close(stream);
    x.Focus(window);
    platform::SleepMs(200);
    // F1: the manual cannot be opened, and the user is told where it should be.
    x.Key("F1");
    unsigned long note = x.WaitForWindow("Help", 10000);
    EXPECT_NE(note, 0u) << "no message when the manual cannot be opened";
    if (note != 0) {
      platform::SleepMs(300);
      x.Focus(note);
      x.Key("Return");
    }
    EXPECT_TRUE(WaitFor([&] { return !x.WindowExists("Help"); }, 3000));
    EXPECT_EQ(documents.load(), 1);  // one press, one command
    EXPECT_NE(test::ReadFile(dir.File("zqrstereo.log")).find(dir.File("zqrstereo.pdf")),
              std::string::npos);
    x.Focus(window);
    platform::SleepMs(200);
    x.Key("o", false, true);  // Alt+O opens the Option menu, Return takes its first item
    platform::SleepMs(400);
    // The open menu is a window of its own over the main window's top left corner.
    int window_x = 0, window_y = 0, window_w = 0, window_h = 0;
    if (x.Geometry(window, &window_x, &window_y, &window_w, &window_h)) {
      ShotArea(window_x, window_y, 520, 300, "menu-option.png");
    }
    x.Key("Return");
    EXPECT_TRUE(WaitFor([] { return Settings.AutoSave == 0; }, 3000));
    EXPECT_FALSE(platform::CurrentUi().IsMenuChecked(kIdAutoSave));

    Shot(window, "main-idle.png");
    // The About button, clicked: its window with the hand over its link, closed with its
    // close box.
    for (const platform::LiveControl& c : platform::LiveControls()) {
      if (c.spec.id == kIdAbout) x.Click(c.screen_x + 60, c.screen_y + 12);
    }
    unsigned long about = x.WaitForWindow("About", 5000);
    EXPECT_NE(about, 0u);
    int left = 0, top = 0, width = 0, height = 0;
    if (about != 0 && x.Geometry(about, &left, &top, &width, &height)) {
      platform::SleepMs(300);
      Shot(about, "about.png");
      // The window is 210 x 220 dialog units; the web link spans 70..211 x 169..180.
      Approach(x, left + width / 2, top + height * 100 / 220);
      platform::SleepMs(100);
      const unsigned long arrow = x.CursorSerial();
      Approach(x, left + width * 140 / 210, top + height * 174 / 220);
      EXPECT_TRUE(WaitFor([&] { return x.CursorSerial() != arrow; }, 2000)) << "no hand";
      x.Close(about);
    }
    EXPECT_TRUE(WaitFor([&] { return !x.WindowExists("About"); }, 3000));
    x.Focus(window);
    platform::SleepMs(200);

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
    // another compression, where a compression and a size are picked and then left.
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
    if (again != 0) PickAnotherCompression(x, again);
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
    EXPECT_TRUE(WaitFor([&] { return !x.WindowExists(kCaption); }, 15000))
        << "the main window stayed open";
  };
  std::thread driver;
  spec.on_created = [&] {
    driver = std::thread([&] {
      drive();
      // Whatever stopped the drive, the window closes so that the test ends.
      if (window == 0 || x.WindowExists(kCaption)) platform::CurrentUi().CloseMainWindow();
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
