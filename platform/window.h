// Starting the window backend. The shell calls these from its entry; what a window
// shows is described by the shell, the backend only builds and runs it.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/window_model.h"

namespace zqr::platform {

struct MainWindowSpec {
  WindowLayout layout;
  WindowEvents events;
  // Called on the GUI thread once the window and its controls exist and it is on the
  // screen.
  std::function<void()> on_created;
  // Pixels right of and below the screen's centre at which the window opens.
  int centre_offset = 0;
};

// The texts of the title and About windows; the pictures are the embedded resources
// "TITLE", "patent" and "VIDEO".
struct AboutTexts {
  std::string program_name;
  std::string build_text;
  std::string maker_line;
  std::string rights_line;
  std::string web_address;
  std::string mail_address;
};
// Sets the texts the About window shows (before the main window runs).
void SetAboutTexts(const AboutTexts& texts);

// The title window, modal, without owner: returns when "Start" or its close box is
// pressed.
void ShowTitleWindow(const AboutTexts& texts);

// True when a window backend is built in and a display can be opened.
bool WindowBackendAvailable();

// Desktop size in pixels, read through the window backend; false when unavailable.
bool DesktopSize(int* width, int* height);

// Shows a message box without owner (before the main window exists).
void ShowStartupMessage(const std::string& text, const std::string& caption, int style);

// A control of the running main window as the backend built it: its identifier, kind,
// text (a list's: its shown entry) and rectangle in the client area, its tooltip, and
// where it stands on the screen. Tests and screenshots read it; an empty list when no
// window runs. Safe from any thread.
struct LiveControl {
  ControlSpec spec;
  std::string tooltip;
  int screen_x = 0;
  int screen_y = 0;
};
std::vector<LiveControl> LiveControls();
// Whether the running main window's menu item `item_id` shows its check mark.
bool LiveMenuChecked(int item_id);

// Creates the main window, installs the window backend as CurrentUi() and runs it until
// the window closes. Returns false when no window could be made.
bool RunMainWindow(const MainWindowSpec& spec);

}  // namespace zqr::platform
