// Start-up with the window: the title window, the screen check, the window-less start,
// then the main window built from the layout tables with its handlers, run until it
// closes.
#pragma once

#include <string>

#include "platform/window.h"

namespace zqr {

// The maker's texts of the title and About windows.
platform::AboutTexts MakerTexts();

// Connects the commands and the preview to the rest of the program (the loader, the
// conversion, the clean-up, the desktop's document opener).
void ConnectWindowCommands();

// The whole windowed run; returns the process's exit code.
int RunWindowedProgram(const std::string& executable_path);

}  // namespace zqr
