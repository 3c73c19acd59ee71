// The program's start-up sequence up to the creation of the main window: the fresh run
// log, the process-wide state and its start values, the settings file, the initial frame
// storage, the first temporary-file clean-up and the free-space report. The window
// backends and the batch mode all start through here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zqr {

// The program's name and build, as shown in captions and texts.
inline constexpr const char* kProgramName = "Kavelund ZQR Stereo Video Coverter";
inline constexpr const char* kBuildText = "Build 005.01";
inline constexpr int kMinScreenHeight = 768;

// The warning shown when the desktop is too low for the window; empty when it fits.
std::string ScreenCheckMessage(int32_t width, int32_t height);

// Reads the settings file when there is one: the values, the temporary-folder rule, and
// the 400 x 300 frame size back when loading stopped early; without one, the first run's
// values (UseFirstRunValues). Every client's start runs it. False at a first run.
bool LoadSettingsAtStart();

// Runs the window-less start-up steps for the executable at `executable_path`.
void StartShell(const std::string& executable_path);

// What the command line (without the program's name) asks for. Any option, an argument
// beginning with '-', selects the batch mode, which answers --convert, --help, --version
// and the rest; plain names open the window with the first of them loaded, as a file
// manager or the desktop's menu passes the files it opens.
struct StartRequest {
  bool batch = false;
  std::string file;  // absolute; empty when the window starts without a file
};
StartRequest ReadStartRequest(const std::vector<std::string>& arguments);

}  // namespace zqr
