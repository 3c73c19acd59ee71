// zqrstereo: the program's entry. Without arguments it opens the window; the window-less
// start-up runs first either way, so every client shares one start.
#include <cstdio>
#include <string>

#include "app/batch.h"
#include "app/run_log.h"
#include "app/startup.h"
#include "platform/ffmpeg/ffmpeg_graph.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/window.h"

namespace {

int RunWindow() {
  if (!zqr::platform::WindowBackendAvailable()) {
    std::fprintf(stderr, "zqrstereo: no display to open the window on (DISPLAY is not set)\n");
    return 1;
  }
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
  zqr::platform::MainWindowSpec spec;
  spec.caption = std::string(zqr::kProgramName) + " " + zqr::kBuildText;
  spec.client_width = 1010;
  spec.client_height = 650;
  spec.build_text = zqr::kBuildText;
  spec.on_created = [] { zqr::LogLine("Main Form Created Ok"); };
  return zqr::platform::RunMainWindow(spec) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
  // Any argument selects the batch mode, which also answers --help and --version.
  if (argc > 1) {
    zqr::platform::InstallFfmpegMedia();
    return zqr::BatchMain(argc, argv);
  }
  return RunWindow();
}
