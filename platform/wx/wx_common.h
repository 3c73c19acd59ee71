// What the wx backend's windows share: starting wx, the embedded pictures, the window
// font, and the two ways other threads reach the GUI thread: queued work that never
// waits, and questions that wait for their answer unless the event loop has gone.
#pragma once

#include <wx/wx.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/window_model.h"

namespace zqr::platform::wx {

bool EnsureWx();
void StopWx();

// True while the main event loop runs and can take queued work.
std::atomic<bool>& GuiAlive();

// An embedded picture as a bitmap; a grey placeholder of `fallback` size when missing.
wxBitmap ResourceBitmap(const std::string& name, wxSize fallback = wxSize(16, 16));
wxIcon ResourceIcon(const std::string& name);
// The hand cursor "autor" shown over picture buttons and links (the system's hand when
// the resource is missing).
const wxCursor& HandCursor();

// The font of every control of a window: the largest size, up to `largest_points`, at
// which all `texts` fit the room their rectangles leave them.
struct FittedText {
  std::string text;
  int width = 0;   // pixels available to the text
  int height = 0;  // pixels available to one line; 0 when not limited
};
wxFont WindowFont(const std::vector<FittedText>& texts, double largest_points = 10.0);
// The room a control's text has inside its rectangle, its border and its box taken off.
FittedText RoomFor(const ControlSpec& c);

inline wxColour ToWx(Rgb c) {
  return wxColour(c.r, c.g, c.b);
}
inline wxString Utf8(const std::string& text) {
  return wxString::FromUTF8(text.c_str());
}

// A message box owned by `owner` (none when null) with the style's buttons and icon; the
// answer as a MessageAnswer.
int ShowMessageBox(wxWindow* owner, const std::string& text, const std::string& caption, int style);

// Runs `work` on the GUI thread later; dropped when the event loop has gone.
void Post(std::function<void()> work);

// Runs `question` on the GUI thread and waits for its answer; `cancel` at once when the
// event loop has gone or goes while waiting.
template <typename T>
T Ask(std::function<T()> question, T cancel) {
  if (wxThread::IsMain()) return GuiAlive() || wxTheApp != nullptr ? question() : cancel;
  struct Slot {
    std::mutex mutex;
    std::condition_variable done;
    bool answered = false;
    T answer;
  };
  auto slot = std::make_shared<Slot>();
  slot->answer = cancel;
  if (!GuiAlive()) return cancel;
  wxTheApp->CallAfter([slot, question] {
    T answer = question();
    std::lock_guard lock(slot->mutex);
    slot->answer = answer;
    slot->answered = true;
    slot->done.notify_all();
  });
  std::unique_lock lock(slot->mutex);
  while (!slot->answered) {
    if (!GuiAlive()) return cancel;
    slot->done.wait_for(lock, std::chrono::milliseconds(50));
  }
  return slot->answer;
}

// The main window frame while it exists (GUI thread only).
wxFrame*& MainFrame();

// The window a question (message box, file dialog) is owned by: the shown window in
// front, unless it is on its way out, else the main window. A dialog owned by a window
// that wx deletes later would be deleted with it while it is still open.
wxWindow* QuestionOwner();

}  // namespace zqr::platform::wx
