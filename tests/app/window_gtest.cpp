// The program starts with a window: run a copy of the executable in a scratch folder on
// the test display, wait for its main window, check its caption and client size and the
// start-up lines of its log, then end it; end it as a user does, with its close box; and
// start it with a clip named on its command line, which plays in the preview.
#include <gtest/gtest.h>

#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <regex>
#include <thread>
#include <vector>

#include "app/window_layout.h"
#include "core/control_ids.h"
#include "tests/support/test_support.h"
#include "tests/support/x11_driver.h"

extern char** environ;

namespace zqr {
namespace {

const char* kMainCaption = "Kavelund ZQR Stereo Video Coverter Build 005.01";

// A copy of the program in a scratch folder, started on the test display; killed at the
// end of the test when it is still running.
class RunningProgram {
 public:
  RunningProgram() { Start({}); }
  // With the build's tools beside the copy and `arguments` on its command line; the
  // scratch folder is there before the program starts, for the files the arguments name.
  explicit RunningProgram(
      const std::function<std::vector<std::string>(const test::ScratchDir&)>& arguments) {
    std::filesystem::create_directory_symlink(test::BinDir() + "/PLUG-IN", dir_.File("PLUG-IN"));
    Start(arguments(dir_));
  }
  ~RunningProgram() {
    if (pid_ != 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
  }
  bool started() const { return pid_ != 0; }
  const test::ScratchDir& dir() const { return dir_; }
  // Its exit status once it has ended by itself within `timeout_ms`; -1 while it runs.
  int WaitForExit(int timeout_ms) {
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (pid_ != 0) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        pid_ = 0;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      if (std::chrono::steady_clock::now() > deadline) break;
      std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return -1;
  }

 private:
  void Start(std::vector<std::string> arguments) {
    std::filesystem::copy_file(test::BinDir() + "/zqrstereo", dir_.File("zqrstereo"));
    arguments.insert(arguments.begin(), dir_.File("zqrstereo"));
    std::vector<char*> argv;
    for (std::string& argument : arguments) argv.push_back(argument.data());
    argv.push_back(nullptr);
    if (posix_spawn(&pid_, argv[0], nullptr, nullptr, argv.data(), environ) != 0) pid_ = 0;
  }

  test::ScratchDir dir_;
  pid_t pid_ = 0;
};

// The title window comes first, with the hand over its link and nowhere else; its close
// box goes on as "Start" does. With ZQR_SCREENSHOT_DIR set, the title window is saved
// there for the documentation.
void PassTheTitle(test::X11Driver& x) {
  unsigned long title = x.WaitForWindow("Kavelund ZQR Stereo Video Coverter", 30000);
  EXPECT_NE(title, 0u) << "no title window";
  if (title == 0) return;
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  if (const char* folder = std::getenv("ZQR_SCREENSHOT_DIR")) {
    test::Run({"import", "-window", std::to_string(title), std::string(folder) + "/title.png"});
  }
  // The window is 437 x 120 dialog units; the link starts at 138, 102.
  int left = 0, top = 0, width = 0, height = 0;
  if (x.Geometry(title, &left, &top, &width, &height)) {
    x.MoveTo(left + width * 40 / 437, top + height * 40 / 120);  // the picture
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    const unsigned long arrow = x.CursorSerial();
    x.MoveTo(left + width * 180 / 437, top + height * 108 / 120);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_NE(x.CursorSerial(), arrow) << "no hand over the link";
    x.MoveTo(left + width * 40 / 437, top + height * 40 / 120);
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
    EXPECT_EQ(x.CursorSerial(), arrow) << "the hand beyond the link";
  }
  x.Close(title);
}

TEST(MainWindow, OpensWithCaptionSizeAndStartupLog) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
  RunningProgram program;
  ASSERT_TRUE(program.started());
  test::X11Driver x;
  ASSERT_TRUE(x.ok());
  PassTheTitle(x);

  std::string info;
  auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline) {
    test::RunResult r = test::Run({"xwininfo", "-name", kMainCaption});
    if (r.exit_code == 0) {
      info = r.output;
      if (info.find("IsViewable") != std::string::npos) break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(200));
  }

  ASSERT_FALSE(info.empty()) << "no window captioned " << kMainCaption;
  EXPECT_NE(info.find("Width: 1010"), std::string::npos) << info;
  // The client area is 650 high; the menu bar stands above it inside the same window.
  std::smatch height;
  ASSERT_TRUE(std::regex_search(info, height, std::regex("Height: ([0-9]+)"))) << info;
  EXPECT_GE(std::stoi(height[1]), 650) << info;
  EXPECT_LE(std::stoi(height[1]), 700) << info;
  std::string log = test::ReadFile(program.dir().File("zqrstereo.log"));
  EXPECT_TRUE(std::regex_search(log, std::regex("^Generated by Kavelund ZQR Stereo Video Coverter, "
                                                "d'not edit!\r\n")))
      << log;
  EXPECT_NE(log.find("Temp file:\r\n" + program.dir().File("TEMP") + "\r\n"), std::string::npos)
      << log;
  EXPECT_NE(log.find("Main Form Created Ok\r\n"), std::string::npos) << log;
}

// The close box asks "Are you sure?"; Cancel keeps the window, OK closes it and ends the
// program without waiting for any further event (the pointer stays where it is).
TEST(MainWindow, CloseBoxClosesOnceConfirmed) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
  RunningProgram program;
  ASSERT_TRUE(program.started());
  test::X11Driver x;
  ASSERT_TRUE(x.ok());
  PassTheTitle(x);
  unsigned long window = x.WaitForWindow(kMainCaption, 30000);
  ASSERT_NE(window, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(500));

  for (const char* answer : {"Escape", "Return"}) {
    x.Close(window);
    unsigned long question = x.WaitForWindow("Exit IDE", 5000);
    ASSERT_NE(question, 0u) << answer;
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    x.Focus(question);
    x.Key(answer);
    if (std::string(answer) == "Escape") {
      for (int i = 0; i < 100 && x.WindowExists("Exit IDE"); ++i) {
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
      }
      EXPECT_TRUE(x.WindowExists(kMainCaption));
    }
  }
  EXPECT_EQ(program.WaitForExit(20000), 0);
  EXPECT_FALSE(x.WindowExists(kMainCaption));
  std::string log = test::ReadFile(program.dir().File("zqrstereo.log"));
  EXPECT_NE(log.find("Main Form Created Ok\r\n"), std::string::npos) << log;
}

// As a file manager starts it: `zqrstereo clip.mp4` opens the window with the clip loaded
// and playing, without the open dialog.
TEST(MainWindow, PlaysTheClipNamedOnItsCommandLine) {
  if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no display";
  RunningProgram program([](const test::ScratchDir& dir) {
    test::MakeClip(dir.File("clip.mp4"), "testsrc2=size=160x120:rate=25", 20.0);
    return std::vector<std::string>{dir.File("clip.mp4"), dir.File("second.mp4")};
  });
  ASSERT_TRUE(program.started());
  test::X11Driver x;
  ASSERT_TRUE(x.ok());
  unsigned long title = x.WaitForWindow("Kavelund ZQR Stereo Video Coverter", 30000);
  ASSERT_NE(title, 0u);
  x.Close(title);
  unsigned long window = x.WaitForWindow(kMainCaption, 30000);
  ASSERT_NE(window, 0u);
  int left = 0, top = 0, width = 0, height = 0;
  ASSERT_TRUE(x.Geometry(window, &left, &top, &width, &height));
  // The menu bar stands above the 650 pixels of the client area, where the preview is.
  const ControlRow* preview = FindControlRow(kIdPreview);
  ASSERT_NE(preview, nullptr);
  const int preview_x = left + preview->spec.x;
  const int preview_y = top + (height - 650) + preview->spec.y;
  // The middle of the picture (the clip's bands lie above and below it), away from the idle
  // grey and changing from frame to frame.
  auto middle = [&] { return x.Capture(preview_x + 150, preview_y + 200, 300, 200); };
  auto shows_picture = [&] {
    const std::vector<uint8_t> rgb = middle();
    size_t grey = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3) {
      grey += rgb[i] == 51 && rgb[i + 1] == 51 && rgb[i + 2] == 51 ? 1 : 0;
    }
    return !rgb.empty() && grey < rgb.size() / 3 / 10;
  };
  bool playing = false;
  for (int i = 0; i < 150 && !playing; ++i) {
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
    if (!shows_picture()) continue;
    const std::vector<uint8_t> earlier = middle();
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    playing = middle() != earlier;
  }
  EXPECT_TRUE(playing) << "the clip does not play in the preview";
  EXPECT_FALSE(x.WindowExists("Load VIDEO")) << "the open dialog was shown";
  const std::string log = test::ReadFile(program.dir().File("zqrstereo.log"));
  EXPECT_NE(log.find("Render file: " + program.dir().File("clip.mp4")), std::string::npos) << log;
  EXPECT_EQ(log.find("second.mp4"), std::string::npos) << "only the first file is loaded";
}

}  // namespace
}  // namespace zqr
