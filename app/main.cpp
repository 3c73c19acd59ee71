// zqrstereo: the program's entry. Without options it opens the window, with the file it
// was given loaded; the window-less start-up runs first either way, so every client
// shares one start.
#include <cstdio>
#include <string>
#include <vector>

#include "app/batch.h"
#include "app/commands.h"
#include "app/startup.h"
#include "app/startup_window.h"
#include "app/window_layout.h"
#include "core/run_log.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window.h"

namespace {

int RunWindow(const std::string& file) {
  if (!zqr::platform::WindowBackendAvailable()) {
    std::fprintf(stderr, "zqrstereo: no display to open the window on (DISPLAY is not set)\n");
    return 1;
  }
  zqr::platform::LetGoOfOwnConsole();
  zqr::platform::AboutTexts texts = zqr::MakerTexts();
  zqr::platform::ShowTitleWindow(texts);
  int width = 0, height = 0;
  if (zqr::platform::DesktopSize(&width, &height)) {
    std::string refusal = zqr::ScreenCheckMessage(width, height);
    if (!refusal.empty()) {
      zqr::platform::ShowStartupMessage(refusal, "Warning !", zqr::platform::kMbIconWarning);
      return 0;
    }
  }
  zqr::platform::InstallFfmpegMedia();
  zqr::StartShell(zqr::platform::ExecutablePath());
  // Another instance holds the usual log: say where this one's is.
  const bool another_instance = zqr::RunLogOfAnotherInstance();
  if (another_instance) {
    std::fprintf(stderr, "zqrstereo: another instance holds the run log; this window's log is %s\n",
                 zqr::LogFilePath().c_str());
  }
  zqr::ConnectWindowCommands();
  zqr::platform::SetAboutTexts(texts);
  zqr::platform::MainWindowSpec spec;
  spec.layout = zqr::MainWindowLayout();
  spec.events = zqr::MainWindowEvents();
  // Each further window one step further down and right, in a cascade that starts again
  // before it leaves a small screen.
  if (const int before = zqr::RunLogInstancesBefore(); before > 0) {
    spec.centre_offset = 40 * ((before - 1) % 6 + 1);
  }
  spec.on_created = [file] {
    zqr::LogLine("Main Form Created Ok");
    if (!file.empty()) zqr::LoadGivenFile(file);
  };
  bool shown = zqr::platform::RunMainWindow(spec);
  // A load thread may still be inside its dialog or its play loop: the closed window
  // answers its questions with Cancel and PlayState 0 ends its loop; give it that time.
  for (int i = 0; i < 300 && zqr::LoadThreadsRunning() > 0; ++i) zqr::platform::SleepMs(10);
  return shown ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // UTF-8 whatever the system's code page (Windows hands argv over in that).
  std::vector<std::string> args = zqr::platform::ProgramArguments(argc, argv);
  const zqr::StartRequest request = zqr::ReadStartRequest(
      std::vector<std::string>(args.begin() + (args.empty() ? 0 : 1), args.end()));
  if (request.batch) {
    zqr::platform::InstallFfmpegMedia();
    std::vector<char*> pointers;
    for (std::string& arg : args) pointers.push_back(arg.data());
    pointers.push_back(nullptr);
    return zqr::BatchMain(static_cast<int>(args.size()), pointers.data());
  }
  return RunWindow(request.file);
}
