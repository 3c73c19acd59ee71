// Starting the window backend. The shell calls these from its entry; what a window
// shows is described by the shell, the backend only builds and runs it.
#pragma once

#include <functional>
#include <string>

namespace zqr::platform {

struct MainWindowSpec {
  std::string caption;
  int client_width = 0;
  int client_height = 0;
  std::string build_text;  // the label in the top-right corner
  // Called on the GUI thread once the window and its controls exist.
  std::function<void()> on_created;
};

// True when a window backend is built in and a display can be opened.
bool WindowBackendAvailable();

// Desktop size in pixels, read through the window backend; false when unavailable.
bool DesktopSize(int* width, int* height);

// Shows a message box without owner (before the main window exists).
void ShowStartupMessage(const std::string& text, const std::string& caption, int style);

// Creates the main window, installs the window backend as CurrentUi() and runs it until
// the window closes. Returns false when no window could be made.
bool RunMainWindow(const MainWindowSpec& spec);

}  // namespace zqr::platform
