// The whole window as a user lives in it: the program is started as a user starts it,
// under the window manager of the test display, and driven only through the X server —
// keys, clicks and what the screen shows (message texts are read off the screen with
// OCR). Each path checks what the user is left with: the movie (ffprobe), the program
// still running, TEMP without frame or sound files, and the run log.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <string>
#include <thread>
#include <vector>

#include "app/window_layout.h"
#include "convert/convert_movie.h"
#include "core/control_ids.h"
#include "tests/support/running_program.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_driver.h"
#include "video/model_depth.h"

namespace zqr {
namespace {

using namespace std::chrono_literals;
using test::RunningProgram;

const char* kTitleCaption = "Kavelund ZQR Stereo Video Coverter";
const char* kMainCaption = "Kavelund ZQR Stereo Video Coverter Build 005.01";
const char* kSaveCaption = "Save Rectangular VIDEO";
const char* kOpenCaption = "Load VIDEO";
const char* kAnotherCaption = "Save a VIDEO with another compression";
const char* kProgressCaption = "Output Movie Compression";

void Pause(std::chrono::milliseconds time) {
  std::this_thread::sleep_for(time);
}

// Waits up to `timeout` for `done`; true when it came.
template <typename Condition>
bool WaitUntil(Condition done, std::chrono::milliseconds timeout) {
  const auto deadline = std::chrono::steady_clock::now() + timeout;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    Pause(50ms);
  }
  return true;
}

// Frame and sound files left in the program's TEMP folder.
std::vector<std::string> WorkFilesIn(const std::string& folder) {
  std::vector<std::string> left;
  std::error_code ec;
  for (const auto& entry : std::filesystem::directory_iterator(folder, ec)) {
    const std::string ext = entry.path().extension().string();
    if (ext == ".bmp" || ext == ".wav") left.push_back(entry.path().filename().string());
  }
  return left;
}

class WindowEndToEnd : public ::testing::Test {
 protected:
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
    ASSERT_TRUE(x_.ok());
    if (x_.ActiveCaption().empty() && !WindowManagerRuns()) {
      GTEST_SKIP() << "no window manager on the display";
    }
  }

  // Openbox (or any EWMH window manager) announces itself on the root window.
  static bool WindowManagerRuns() {
    return test::Run({"xprop", "-root", "_NET_SUPPORTING_WM_CHECK"}).output.find("window id") !=
           std::string::npos;
  }

  // The title window, passed with its close box as a user may; then the main window,
  // active, and its client area's place on the screen. The main window `except` is another
  // instance's.
  void ReachMainWindow(unsigned long except = 0) {
    const unsigned long title = x_.WaitForWindow(kTitleCaption, 30000);
    ASSERT_NE(title, 0u) << "no title window";
    Pause(300ms);
    x_.Close(title);
    main_ = x_.WaitForWindow(kMainCaption, 30000, except);
    ASSERT_NE(main_, 0u) << "no main window";
    ASSERT_TRUE(x_.WaitForActive(kMainCaption, 10000)) << "active: " << x_.ActiveCaption();
    int width = 0, height = 0;
    ASSERT_TRUE(x_.Geometry(main_, &left_, &top_, &width, &height));
    top_ += height - 650;  // the menu bar stands above the client area
  }

  // The middle of a control of the main window, on the screen.
  void ClickControl(int id) {
    const ControlRow* row = FindControlRow(id);
    ASSERT_NE(row, nullptr) << id;
    x_.Click(left_ + row->spec.x + row->spec.width / 2, top_ + row->spec.y + row->spec.height / 2);
  }

  // In an open menu, to its entry `entry` (separators not counted). The menu may open
  // with an entry under the pointer: Home starts from the first.
  void WalkMenu(int entry) {
    x_.Key("Home");
    for (int i = 0; i < entry; ++i) {
      Pause(100ms);
      x_.Key("Down");
    }
    Pause(200ms);
  }

  // A list opens its entries as a menu when clicked; the keys walk it from its first entry.
  void PickFromList(int screen_x, int screen_y, int entry) {
    x_.Click(screen_x, screen_y);
    ASSERT_TRUE(WaitUntil([&] { return x_.PopupMenu() != 0; }, 10s)) << "no list opened";
    Pause(500ms);
    WalkMenu(entry);
    x_.Key("Return");
    ASSERT_TRUE(WaitUntil([&] { return x_.PopupMenu() == 0; }, 10s)) << "the list stays open";
  }

  // The program started, past its title window, with its main window active.
  void Start(RunningProgram& program) {
    ASSERT_TRUE(program.started());
    program_dir_ = program.dir().path();
    ReachMainWindow();
  }

  // Convert (Ctrl+C), `movie` typed in the save dialog, and the success question answered
  // with `key` (Return: another compression; Escape: no).
  void ConvertTo(const std::string& movie, const char* key) {
    ASSERT_NO_FATAL_FAILURE(PressForDialog("c", kSaveCaption));
    ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(kSaveCaption, movie));
    Answer(kSuccessCaption, key);
  }

  // A command key (Ctrl+C, Ctrl+L) pressed in the main window until its dialog shows: on
  // a busy machine a press may come before the window has the keyboard again, or before
  // the clip it acts on is loaded; a user presses once more too.
  void PressForDialog(const char* key, const char* caption) {
    for (int attempt = 0; attempt < 4; ++attempt) {
      x_.Focus(main_);
      ASSERT_TRUE(x_.WaitForActive(kMainCaption, 10000)) << "active: " << x_.ActiveCaption();
      Pause(200ms);
      x_.Key(key, true);
      if (x_.WaitForWindow(caption, 5000) != 0) return;
    }
    FAIL() << "Ctrl+" << key << " opens no " << caption;
  }

  // A file dialog: the whole path typed over the proposed name, then Return.
  void AnswerFileDialog(const char* caption, const std::string& path) {
    ASSERT_NE(x_.WaitForWindow(caption, 15000), 0u) << "no dialog " << caption;
    ASSERT_TRUE(x_.WaitForActive(caption, 10000)) << "active: " << x_.ActiveCaption();
    Pause(400ms);
    x_.Key("a", true);
    x_.Type(test::ProgramPath(path));
    Pause(200ms);
    x_.Key("Return");
  }

  // In "Save a VIDEO with another compression": the size and compression entries picked
  // (-1 keeps them), `movie` typed over the proposed name, and "Save VIDEO".
  void SaveAnother(const std::string& movie, int size_entry = -1, int compression_entry = -1) {
    const unsigned long another = x_.WaitForWindow(kAnotherCaption, 15000);
    ASSERT_NE(another, 0u);
    x_.Focus(another);
    ASSERT_TRUE(x_.WaitForActive(kAnotherCaption, 10000));
    int x = 0, y = 0, width = 0, height = 0;
    ASSERT_TRUE(x_.Geometry(another, &x, &y, &width, &height));
    if (size_entry >= 0) PickFromList(x + 118 + 40, y + 64 + 8, size_entry);
    if (compression_entry >= 0) PickFromList(x + 5 + 40, y + 64 + 8, compression_entry);
    x_.Click(x + 200, y + 23 + 8);  // the edit box
    Pause(200ms);
    x_.Key("a", true);
    x_.Type(movie);
    x_.Click(x + 260 + 50, y + 80 + 12);  // "Save VIDEO"
    ASSERT_TRUE(WaitUntil([&] { return !x_.WindowExists(kAnotherCaption); }, 10s));
  }

  // The text of the window captioned `caption`, read off the screen.
  std::string ReadWindow(const std::string& caption) {
    const unsigned long w = x_.WaitForWindow(caption, 15000);
    if (w == 0) return std::string();
    Pause(300ms);
    const std::string shot = program_dir_ + "/read.png";
    const std::string large = program_dir_ + "/read-large.png";
    test::Run({"import", "-window", std::to_string(w), shot});
    test::Run({"convert", shot, "-resize", "300%", large});
    // Lines are wrapped as the box likes: one line of words, as a reader takes it.
    std::string text;
    for (char c : test::Run({"tesseract", large, "stdout"}).output) {
      const bool blank = c == '\n' || c == ' ';
      if (!blank) {
        text += c;
      } else if (!text.empty() && text.back() != ' ') {
        text += ' ';
      }
    }
    return text;
  }

  // Answers the message box captioned `caption`: Return for OK or Yes, Escape for Cancel.
  void Answer(const char* caption, const char* key) {
    ASSERT_NE(x_.WaitForWindow(caption, 60000), 0u) << "no question " << caption;
    ASSERT_TRUE(x_.WaitForActive(caption, 10000)) << "active: " << x_.ActiveCaption();
    Pause(300ms);
    x_.Key(key);
    ASSERT_TRUE(WaitUntil([&] { return !x_.WindowExists(caption); }, 10s)) << caption;
  }

  // Whether the preview's middle changes from one moment to the next: a clip plays.
  bool PreviewPlays() {
    const ControlRow* preview = FindControlRow(kIdPreview);
    if (preview == nullptr) return false;
    auto middle = [&] {
      return x_.Capture(left_ + preview->spec.x + 150, top_ + preview->spec.y + 200, 300, 200);
    };
    // A picture (not the idle grey) that moves.
    auto idle = [](const std::vector<uint8_t>& rgb) {
      size_t grey = 0;
      for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
        grey += rgb[i] == 51 && rgb[i + 1] == 51 && rgb[i + 2] == 51 ? 1 : 0;
      }
      return rgb.empty() || grey > rgb.size() / 3 / 10;
    };
    return WaitUntil(
        [&] {
          const std::vector<uint8_t> earlier = middle();
          Pause(300ms);
          const std::vector<uint8_t> later = middle();
          return !idle(later) && later != earlier;
        },
        10s);
  }

  // The user's end: Alt+F4 on the main window and OK to "Are you sure?"; the program
  // ends by itself with status 0.
  void CloseWindow(RunningProgram& program) {
    // On a busy machine the keys may reach the window manager before the window has the
    // keyboard back; the close box is the user's other way.
    for (int attempt = 0; attempt < 3 && !x_.WindowExists("Exit IDE"); ++attempt) {
      x_.Focus(main_);
      ASSERT_TRUE(x_.WaitForActive(kMainCaption, 10000)) << "active: " << x_.ActiveCaption();
      Pause(200ms);
      if (attempt < 2) {
        x_.Key("F4", false, true);
      } else {
        std::cerr << "Alt+F4 asked nothing twice; the close box instead\n";
        x_.Close(main_);
      }
      x_.WaitForWindow("Exit IDE", 5000);
    }
    Answer("Exit IDE", "Return");
    EXPECT_EQ(program.WaitForExit(30000), 0) << program.Output();
  }

  void ExpectTempClean(const RunningProgram& program) {
    const std::string temp = program.dir().File("TEMP");
    EXPECT_TRUE(WaitUntil([&] { return WorkFilesIn(temp).empty(); }, 10s))
        << "left in TEMP: " << ::testing::PrintToString(WorkFilesIn(temp));
  }

  std::string Log(const RunningProgram& program) const {
    return test::ReadFile(program.dir().File("zqrstereo.log"));
  }

  test::X11Driver x_;
  unsigned long main_ = 0;
  int left_ = 0, top_ = 0;
  std::string program_dir_;
};

// A short clip with sound, as a phone or camera gives one.
std::vector<std::string> ClipOnCommandLine(const test::ScratchDir& dir) {
  test::MakeClip(dir.File("clip.mp4"), "testsrc2=size=320x240:rate=25", 6.0,
                 "sine=frequency=440:sample_rate=44100");
  return {dir.File("clip.mp4")};
}

// A clip long and large enough that a conversion of it can be stopped or closed midway.
std::vector<std::string> LongClip(const test::ScratchDir& dir) {
  test::MakeClip(dir.File("long.mp4"), "testsrc2=size=1280x720:rate=25", 12.0,
                 "sine=frequency=440:sample_rate=44100", {"-c:v", "mpeg4", "-q:v", "5"});
  return {};
}

// Path 1: a clip named on the command line, Convert (Ctrl+C), the name typed in the save
// dialog, the success question (shown with the progress bar full) answered No, then the
// window closed with Alt+F4.
TEST_F(WindowEndToEnd, ConvertsAClipGivenOnTheCommandLineAndCloses) {
  RunningProgram program(ClipOnCommandLine);
  ASSERT_NO_FATAL_FAILURE(Start(program));
  ASSERT_TRUE(PreviewPlays()) << "the clip does not play";
  // MP4 is the type chosen when the dialog opens (Wine's dialog would add the chosen type's
  // extension to a name of another type).
  const std::string movie = program.dir().File("first.mp4");
  ASSERT_NO_FATAL_FAILURE(PressForDialog("c", kSaveCaption));
  ASSERT_NO_FATAL_FAILURE(AnswerFileDialog(kSaveCaption, movie));
  ASSERT_NE(x_.WaitForWindow(kSuccessCaption, 60000), 0u);
  // Success is announced with the progress bar full: it covers its frame's grey to the end
  // (looked at until the window has repainted under the question).
  const ControlRow* bar = FindControlRow(kIdPositionBar);
  ASSERT_NE(bar, nullptr);
  size_t empty = 0;  // columns of the frame's grey, which the bar has not reached
  const bool full = WaitUntil(
      [&] {
        const std::vector<uint8_t> row =
            x_.Capture(left_ + bar->spec.x, top_ + bar->spec.y + bar->spec.height / 2, 596, 1);
        empty = row.empty() ? 596 : 0;
        for (size_t i = 0; i + 2 < row.size(); i += 3) {
          empty += row[i] == 128 && row[i + 1] == 128 && row[i + 2] == 128 ? 1 : 0;
        }
        return empty == 0;
      },
      3s);
  EXPECT_TRUE(full) << empty << " columns of the bar are empty";
  Answer(kSuccessCaption, "Escape");
  EXPECT_TRUE(program.Alive()) << program.Output();

  const test::MovieFigures figures = test::ProbeMovie(movie);
  EXPECT_EQ(figures.width, 304);  // 16 columns fewer, as every conversion writes them
  EXPECT_EQ(figures.height, 240);
  EXPECT_TRUE(figures.sound);
  EXPECT_NEAR(figures.duration, 6.0, 0.2);
  ExpectTempClean(program);
  const std::string log = Log(program);
  // A first start converts to 3D without being asked.
  for (const char* line :
       {"Begin Convert Process", "Depth map from", "ConvertRectExport End", "Convert Movie End"}) {
    EXPECT_NE(log.find(line), std::string::npos) << line << "\n" << log;
  }
  CloseWindow(program);
}

// Path 2: Yes to another compression; another size and compression picked in its window;
// the second movie has that size, and the main window's list shows the compression. Its
// Exit/Cancel keeps what there was.
TEST_F(WindowEndToEnd, AnotherCompressionWritesASecondMovieAndKeepsTheChoice) {
  RunningProgram program(ClipOnCommandLine);
  ASSERT_NO_FATAL_FAILURE(Start(program));
  const std::string first = program.dir().File("first.mp4");
  const std::string second = program.dir().File("second.mp4");
  ConvertTo(first, "Return");

  ASSERT_NO_FATAL_FAILURE(SaveAnother(second, 3, 7));  // "Resize 70%", "7:"
  Answer(kSuccessCaption, "Escape");
  EXPECT_TRUE(program.Alive()) << program.Output();

  const test::MovieFigures one = test::ProbeMovie(first);
  const test::MovieFigures two = test::ProbeMovie(second);
  EXPECT_EQ(one.width, 304);
  // 70 % of 304 x 240, each side a multiple of 16.
  EXPECT_EQ(two.width, 208);
  EXPECT_EQ(two.height, 164);  // the 304 x 240 picture's shape kept
  EXPECT_TRUE(two.sound);
  EXPECT_NEAR(two.duration, 6.0, 0.2);
  ExpectTempClean(program);

  // The main window's compression list shows what was picked: its picture equals the
  // one it shows when the user picks "7:" there, and differs from "Default Quality".
  const ControlRow* list = FindControlRow(kIdCompressionList);
  ASSERT_NE(list, nullptr);
  auto list_picture = [&] {
    return x_.Capture(left_ + list->spec.x, top_ + list->spec.y, list->spec.width, 18);
  };
  x_.Focus(main_);
  Pause(300ms);
  const std::vector<uint8_t> after_another = list_picture();
  auto pick_in_main = [&](int entry) {
    const ControlRow* row = FindControlRow(kIdCompressionList);
    PickFromList(left_ + row->spec.x + 40, top_ + row->spec.y + 8, entry);
    Pause(300ms);
  };
  pick_in_main(0);
  const std::vector<uint8_t> default_quality = list_picture();
  pick_in_main(7);
  EXPECT_NE(after_another, default_quality);
  EXPECT_EQ(after_another, list_picture()) << "the list does not show 7:";

  // The size picked there stays for the next conversion from the main window (of the clip
  // loaded again: a conversion that wrote its movie ends the clip).
  auto convert_again = [&](const std::string& movie, const char* success_answer) {
    PressForDialog("l", kOpenCaption);
    AnswerFileDialog(kOpenCaption, program.dir().File("clip.mp4"));
    ASSERT_TRUE(PreviewPlays());
    ConvertTo(movie, success_answer);
  };
  const std::string third = program.dir().File("third.mp4");
  ASSERT_NO_FATAL_FAILURE(convert_again(third, "Return"));

  // Exit/Cancel there after picking another size and compression: neither stays.
  ASSERT_TRUE(x_.WaitForActive(kAnotherCaption, 15000));
  int x = 0, y = 0, width = 0, height = 0;
  ASSERT_TRUE(x_.Geometry(x_.WaitForWindow(kAnotherCaption, 1000), &x, &y, &width, &height));
  PickFromList(x + 118 + 40, y + 64 + 8, 1);
  PickFromList(x + 5 + 40, y + 64 + 8, 2);
  x_.Click(x + 368 + 50, y + 80 + 12);  // "Exit/Cancel"
  ASSERT_TRUE(WaitUntil([&] { return !x_.WindowExists(kAnotherCaption); }, 10s));
  const test::MovieFigures three = test::ProbeMovie(third);
  EXPECT_EQ(three.width, 208);
  EXPECT_EQ(three.height, 164);
  x_.Focus(main_);
  Pause(300ms);
  EXPECT_EQ(after_another, list_picture()) << "the list no longer shows 7:";
  const std::string fourth = program.dir().File("fourth.mp4");
  ASSERT_NO_FATAL_FAILURE(convert_again(fourth, "Escape"));
  EXPECT_EQ(test::ProbeMovie(fourth).width, 208);
  CloseWindow(program);
}

// Path 3: a clip loaded through the open dialog, a conversion stopped while it records;
// the clip stays loaded and plays again, and nothing of the movie is left.
TEST_F(WindowEndToEnd, StopDuringRecordingKeepsTheClip) {
  RunningProgram program(LongClip);
  ASSERT_NO_FATAL_FAILURE(Start(program));
  PressForDialog("l", kOpenCaption);
  AnswerFileDialog(kOpenCaption, program.dir().File("long.mp4"));
  ASSERT_TRUE(PreviewPlays()) << "the loaded clip does not play";

  const std::string movie = program.dir().File("stopped.mp4");
  PressForDialog("c", kSaveCaption);
  AnswerFileDialog(kSaveCaption, movie);
  const std::string temp = program.dir().File("TEMP");
  ASSERT_TRUE(WaitUntil([&] { return !WorkFilesIn(temp).empty(); }, 30s)) << "no recording";
  ClickControl(kIdStop);
  ASSERT_TRUE(
      WaitUntil([&] { return Log(program).find("Convert Movie End") != std::string::npos; }, 30s))
      << Log(program);
  EXPECT_TRUE(program.Alive()) << program.Output();
  EXPECT_FALSE(test::FileExists(movie));
  ExpectTempClean(program);

  ClickControl(kIdPlayPause);
  EXPECT_TRUE(PreviewPlays()) << "the clip is not loaded any more";
  CloseWindow(program);
}

// Path 4: the window closed while the encoder runs: the question says the conversion
// stops; then no part of the movie and no work file is left, and the program ends.
TEST_F(WindowEndToEnd, ClosingDuringEncodingStopsTheConversion) {
  RunningProgram program([](const test::ScratchDir& dir) {
    LongClip(dir);
    return std::vector<std::string>{dir.File("long.mp4")};
  });
  ASSERT_NO_FATAL_FAILURE(Start(program));
  ASSERT_TRUE(PreviewPlays()) << "the clip does not play";
  const std::string movie = program.dir().File("closed.mp4");
  PressForDialog("c", kSaveCaption);
  AnswerFileDialog(kSaveCaption, movie);
  ASSERT_NE(x_.WaitForWindow(kProgressCaption, 60000), 0u) << "no encoding seen";
  x_.Close(main_);
  const std::string question = ReadWindow("Exit IDE");
  EXPECT_NE(question.find("conversion"), std::string::npos) << question;
  EXPECT_NE(question.find("not be written"), std::string::npos) << question;
  Answer("Exit IDE", "Return");
  EXPECT_EQ(program.WaitForExit(30000), 0) << program.Output();
  EXPECT_FALSE(test::FileExists(movie));
  EXPECT_TRUE(WorkFilesIn(program.dir().File("TEMP")).empty());
}

// Path 5: a damaged clip and a file that is no video, through the open dialog: each gets
// a message naming the file and the reason, and then a good clip still loads and plays.
TEST_F(WindowEndToEnd, BadFilesAreExplainedAndTheWindowGoesOn) {
  RunningProgram program([](const test::ScratchDir& dir) {
    ClipOnCommandLine(dir);
    const std::string clip = test::ReadFile(dir.File("clip.mp4"));
    test::WriteFile(dir.File("damaged.mp4"), clip.substr(0, clip.size() / 3));
    test::WriteFile(dir.File("notes.avi"), "a shopping list, not a video\n");
    return std::vector<std::string>{};
  });
  ASSERT_NO_FATAL_FAILURE(Start(program));
  for (const char* name : {"damaged.mp4", "notes.avi"}) {
    SCOPED_TRACE(name);
    PressForDialog("l", kOpenCaption);
    AnswerFileDialog(kOpenCaption, program.dir().File(name));
    const std::string message = ReadWindow("Error Monitoring");
    EXPECT_NE(message.find(name), std::string::npos) << message;
    EXPECT_NE(message.find("cannot be read as a video"), std::string::npos) << message;
    Answer("Error Monitoring", "Return");
    EXPECT_TRUE(program.Alive()) << program.Output();
    x_.Focus(main_);
  }
  PressForDialog("l", kOpenCaption);
  // It opens in the folder of the last file chosen, listing its clips, not in its parent.
  const std::string listed = ReadWindow(kOpenCaption);
  EXPECT_NE(listed.find("damaged.mp4"), std::string::npos) << listed;
  AnswerFileDialog(kOpenCaption, program.dir().File("clip.mp4"));
  EXPECT_TRUE(PreviewPlays()) << "a good clip no longer plays";
  CloseWindow(program);
}

// Path 6: the depth map chosen in the Option menu, its depth taken from a depth video
// picked in a dialog, the strength slider moved; the conversion uses that depth, and the
// program started again keeps every choice. Then a depth model in the depth video's place.
TEST_F(WindowEndToEnd, DepthMapChosenConvertedAndKeptForTheNextStart) {
  RunningProgram program([](const test::ScratchDir& dir) {
    test::MakeClip(dir.File("depth.mkv"), "gradients=size=320x240:rate=25:speed=0.05", 6.0, "",
                   {"-pix_fmt", "gray", "-c:v", "ffv1"});
    return ClipOnCommandLine(dir);
  });
  ASSERT_NO_FATAL_FAILURE(Start(program));
  ASSERT_TRUE(PreviewPlays());
  // "3D Vision" is on at a first start. Option menu: the stereo type's popup (fifth entry), its
  // third item; then the depth file.
  auto option_menu = [&](int entry) {
    x_.Focus(main_);
    ASSERT_TRUE(x_.WaitForActive(kMainCaption, 10000));
    Pause(200ms);
    x_.Key("o", false, true);
    ASSERT_TRUE(WaitUntil([&] { return x_.PopupMenu() != 0; }, 10s)) << "no Option menu";
    Pause(300ms);
    WalkMenu(entry);
  };
  option_menu(4);
  x_.Key("Right");
  Pause(300ms);
  WalkMenu(2);
  x_.Key("Return");
  Pause(300ms);
  option_menu(9);
  x_.Key("Return");
  AnswerFileDialog("Depth video or picture", program.dir().File("depth.mkv"));
  ASSERT_TRUE(WaitUntil([&] { return !x_.WindowExists("Depth video or picture"); }, 10s));
  // Clicks right of the strength slider's knob move it up from 2.5 %.
  const ControlRow* slider = FindControlRow(kIdDivergence);
  ASSERT_NE(slider, nullptr);
  for (int i = 0; i < 2; ++i) {
    x_.Click(left_ + slider->spec.x + slider->spec.width - 6, top_ + slider->spec.y + 8);
    Pause(300ms);
  }

  const std::string movie = program.dir().File("depth.mp4");
  ConvertTo(movie, "Escape");
  EXPECT_EQ(test::ProbeMovie(movie).width, 304);
  const std::string depth_file = test::ProgramPath(program.dir().File("depth.mkv"));
  const std::string depth_line = "Depth map from the depth video " + depth_file;
  EXPECT_NE(Log(program).find(depth_line), std::string::npos) << Log(program);
  CloseWindow(program);
  const std::string settings = test::ReadFile(program.dir().File("zqrstereo.ini"));
  for (const std::string& line :
       {std::string("<STEREO_CH>1</STEREO_CH>"), std::string("<STEREOMODE>2</STEREOMODE>"),
        "<DEPTHFILE>" + depth_file + "</DEPTHFILE>"}) {
    EXPECT_NE(settings.find(line), std::string::npos) << line << "\n" << settings;
  }
  EXPECT_EQ(settings.find("<DIVERGENCE>25</DIVERGENCE>"), std::string::npos) << settings;

  // Started again: the same choices, and a conversion from the same depth.
  ASSERT_TRUE(program.StartAgain({program.dir().File("clip.mp4")}));
  ASSERT_NO_FATAL_FAILURE(ReachMainWindow());
  ASSERT_TRUE(PreviewPlays());
  ConvertTo(program.dir().File("again.mp4"), "Escape");
  // Each start begins its log afresh: the line is the second run's.
  const std::string log = Log(program);
  EXPECT_NE(log.find(depth_line), std::string::npos) << "the second run used another depth\n"
                                                     << log;
  CloseWindow(program);
  EXPECT_EQ(test::ReadFile(program.dir().File("zqrstereo.ini")), settings);

  // A depth model, the source entry after the depth file: the next conversion takes its
  // depth, and the choice is kept.
  if (!ModelDepth::Available()) return;
  ASSERT_TRUE(program.StartAgain({program.dir().File("clip.mp4")}));
  ASSERT_NO_FATAL_FAILURE(ReachMainWindow());
  const std::string model = program.dir().File("depth model.onnx");
  std::filesystem::copy_file(std::string(ZQR_SOURCE_DIR) + "/tests/video/models/follow.onnx",
                             model);
  option_menu(10);
  x_.Key("Return");
  AnswerFileDialog("Depth model", model);
  ASSERT_TRUE(WaitUntil([&] { return !x_.WindowExists("Depth model"); }, 10s));
  ConvertTo(program.dir().File("model.mp4"), "Escape");
  const std::string model_line =
      "Depth map from the depth model " + test::ProgramPath(model) + " at ";
  EXPECT_NE(Log(program).find(model_line), std::string::npos) << Log(program);
  CloseWindow(program);
  EXPECT_NE(test::ReadFile(program.dir().File("zqrstereo.ini"))
                .find("<DEPTHMODEL>" + test::ProgramPath(model) + "</DEPTHMODEL>"),
            std::string::npos);
}

// Path 7: the program started a second time while the first window records: the second
// start leaves the first one's work files alone, so the first window's movie and another
// compression of it are written whole; then both windows close.
TEST_F(WindowEndToEnd, ASecondWindowLeavesTheFirstOnesConversionAlone) {
  RunningProgram first([](const test::ScratchDir& dir) {
    LongClip(dir);
    return std::vector<std::string>{dir.File("long.mp4")};
  });
  ASSERT_NO_FATAL_FAILURE(Start(first));
  const unsigned long first_main = main_;
  ASSERT_TRUE(PreviewPlays()) << "the clip does not play";
  const std::string movie = first.dir().File("first.mp4");
  const std::string again = first.dir().File("again.mp4");
  PressForDialog("c", kSaveCaption);
  AnswerFileDialog(kSaveCaption, movie);
  const std::string temp = first.dir().File("TEMP");
  ASSERT_TRUE(WaitUntil([&] { return WorkFilesIn(temp).size() >= 10; }, 60s)) << "no recording";

  RunningProgram second(first, {});
  ASSERT_NO_FATAL_FAILURE(ReachMainWindow(first_main));
  const unsigned long second_main = main_;
  EXPECT_TRUE(second.Alive()) << second.Output();

  // The first window's question comes over the second window.
  const unsigned long question = x_.WaitForWindow(kSuccessCaption, 120000);
  ASSERT_NE(question, 0u) << Log(first);
  x_.Focus(question);
  Answer(kSuccessCaption, "Return");
  ASSERT_NO_FATAL_FAILURE(SaveAnother(again));
  x_.Focus(x_.WaitForWindow(kSuccessCaption, 120000));
  Answer(kSuccessCaption, "Escape");

  for (const std::string& written : {movie, again}) {
    SCOPED_TRACE(written);
    const test::MovieFigures figures = test::ProbeMovie(written);
    EXPECT_EQ(figures.width, 1264);
    EXPECT_TRUE(figures.sound);
    EXPECT_NEAR(figures.duration, 12.0, 0.2);
  }
  EXPECT_EQ(Log(first).find("No movie"), std::string::npos) << Log(first);
  ExpectTempClean(first);
  EXPECT_TRUE(second.Alive()) << second.Output();
  main_ = second_main;
  CloseWindow(second);
  main_ = first_main;
  CloseWindow(first);
}

}  // namespace
}  // namespace zqr
