// Driving windows on the test display as a user would: find a top-level window by its
// caption, press keys and click through the X server's test extension, close a window
// with its close box, and read the pixels on the screen.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

struct _XDisplay;

namespace zqr::test {

class X11Driver {
 public:
  X11Driver();  // opens $DISPLAY
  ~X11Driver();
  X11Driver(const X11Driver&) = delete;
  X11Driver& operator=(const X11Driver&) = delete;
  bool ok() const { return display_ != nullptr; }

  // The top-level window captioned `caption`, waiting up to `timeout_ms` for it to be
  // mapped; 0 when it does not appear. A window `except` (another instance's, of the same
  // caption) is passed over.
  unsigned long WaitForWindow(const std::string& caption, int timeout_ms, unsigned long except = 0);
  bool WindowExists(const std::string& caption);
  // The tooltip on the screen (a mapped window of the tooltip type); 0 when none shows.
  unsigned long Tooltip();
  // The same, waiting up to `timeout_ms` for one to show.
  unsigned long WaitForTooltip(int timeout_ms);
  // The topmost open menu (a list's entries, a menu bar's menu or its submenu); 0 when
  // none shows.
  unsigned long PopupMenu();
  // Its position on the screen and size.
  bool Geometry(unsigned long window, int* x, int* y, int* width, int* height);
  // The caption of the window the window manager made active (it has the keyboard);
  // empty without a window manager or an active window.
  std::string ActiveCaption();
  // Waits up to `timeout_ms` for the window captioned `caption` to become active.
  bool WaitForActive(const std::string& caption, int timeout_ms);
  // The close box (WM_DELETE_WINDOW).
  void Close(unsigned long window);
  void Focus(unsigned long window);
  // A key by its X keysym name ("L", "F1", "Return"), with Ctrl and/or Alt held.
  void Key(const std::string& keysym, bool ctrl = false, bool alt = false);
  // Types `text` character by character, with Shift where the character needs it.
  void Type(const std::string& text);
  void Click(int screen_x, int screen_y);
  void MoveTo(int screen_x, int screen_y);
  // The pointer's cursor as the server shows it: each cursor has its own number.
  unsigned long CursorSerial();
  // RGB pixels of a screen rectangle, row by row.
  std::vector<uint8_t> Capture(int x, int y, int width, int height);

 private:
  void Sync();
  ::_XDisplay* display_ = nullptr;
};

}  // namespace zqr::test
