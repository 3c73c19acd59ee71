// The window seam: what the core asks of the user interface. The core never includes a
// toolkit header; it calls the backend installed at start-up (the wx window, or the
// headless backend used by batch conversions and tests, which records what it is told).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/window_model.h"

namespace zqr::platform {

// Message box styles, with the values the program's dialogs were designed around.
enum MessageStyle : int {
  kMbOk = 0x0,
  kMbOkCancel = 0x1,
  kMbYesNo = 0x4,
  kMbIconError = 0x10,
  kMbIconQuestion = 0x20,
  kMbIconWarning = 0x30,
  kMbIconInformation = 0x40,
};
// Message box answers.
enum MessageAnswer : int { kIdOk = 1, kIdCancel = 2, kIdYes = 6, kIdNo = 7 };

// A message's text as a box of ordinary width shows it: line ends as "\n", and every line
// longer than `columns` characters broken after its last "/", "\\" or blank in reach, or
// at `columns` where it has none (a long name without a break). No character is lost.
std::string WrapLongLines(const std::string& text, size_t columns);

// A file dialog, open or save. Each filter is a description and its patterns
// (";"-separated, e.g. "*.avi;*.mpg"). The backend shows the dialog owned by the window
// that is in front (the main window, or the another-compression window while it is up).
struct FileDialogRequest {
  std::string title;
  std::string folder;         // the folder it opens in
  std::string proposed_name;  // the file name it proposes
  std::vector<std::pair<std::string, std::string>> filters;
  std::string default_extension;  // without the dot; empty for none
  size_t filter_index = 0;        // the filter chosen when it opens
  bool save = false;
  bool overwrite_prompt = false;  // save: ask before replacing an existing file
  bool path_must_exist = false;   // the chosen file's folder must exist
  bool file_must_exist = false;
};

// What the export's progress window shows: five squares whose green levels rise in turn,
// the picture index of the "load" animation (1..4) and the processing time text. The core
// computes it; the backend only draws it.
struct CompressionProgressView {
  int green[5] = {20, 20, 20, 20, 20};
  int picture_index = 1;
  std::string elapsed_text;
};

// The another-compression window's contents when it opens, and its handlers: the window
// belongs to the core, which decides what each click does; the backend shows the
// controls and reports the user's actions.
struct AnotherCompressionModel {
  std::string path_text;      // the edit box
  int compression_index = 0;  // list 213: 0 "Default Quality", 1 "1:Best Quality", ...
  int resize_index = 0;       // list 870: 0 "Natural size" .. 5 "Resize 50%"
};
struct AnotherCompressionEvents {
  // "Select file path": gets the edit box's text, returns the text it shows next.
  std::function<std::string(const std::string& edit_text)> select_path;
  std::function<void(int index)> compression_selected;
  std::function<void(int index)> resize_selected;
};

class Ui {
 public:
  virtual ~Ui() = default;
  virtual const char* Name() const = 0;

  // Modal message box; returns the answer. Safe to call from any thread (marshalled to
  // the GUI thread and waited for).
  virtual int ShowMessage(const std::string& text, const std::string& caption, int style) = 0;

  // Text of a label control of the main window, by its identifier.
  virtual void SetLabel(int control_id, const std::string& text) = 0;
  virtual std::string GetLabel(int control_id) const = 0;

  // Progress bar control: range and position.
  virtual void SetProgressRange(int control_id, int32_t low, int32_t high) = 0;
  virtual void SetProgressPos(int control_id, int32_t pos) = 0;

  // Pump-or-sleep: on the GUI thread dispatch one pending event if there is one,
  // otherwise (and on any other thread) sleep `milliseconds`.
  virtual void PumpOrSleep(int milliseconds) = 0;

  // Questions. Each may be asked from any thread and waits for its answer; when the window
  // that would ask has gone (closed, event loop ended) it answers Cancel at once. These
  // defaults are that answer, for backends that cannot ask.

  // The chosen path, or an empty text for Cancel.
  virtual std::string ShowFileDialog(const FileDialogRequest& /*request*/) { return {}; }
  // The shell's folder browser titled `title`, opened at `start`; empty for Cancel.
  virtual std::string PickFolder(const std::string& /*title*/, const std::string& /*start*/) {
    return {};
  }
  // The another-compression window, modal: returns true with model.path_text set to the
  // edit box's text for "Save VIDEO"; false for "Exit/Cancel" or the window's close box.
  virtual bool RunAnotherCompression(AnotherCompressionModel& /*model*/,
                                     const AnotherCompressionEvents& /*events*/) {
    return false;
  }

  // The export's progress window, shown while the encoder runs. Updates are queued and
  // never wait.
  virtual void ShowCompressionProgress(bool /*visible*/) {}
  virtual void UpdateCompressionProgress(const CompressionProgressView& /*view*/) {}

  // The main window's controls, by identifier. Setters may be called from any thread:
  // they are queued to the GUI thread and never wait. Getters read the backend's own copy
  // of the state, so they never wait either.
  virtual void SetChecked(int /*control_id*/, bool /*checked*/) {}
  virtual bool IsChecked(int /*control_id*/) const { return false; }
  virtual void SetMenuChecked(int /*item_id*/, bool /*checked*/) {}
  virtual bool IsMenuChecked(int /*item_id*/) const { return false; }
  virtual void EnableControl(int /*control_id*/, bool /*enabled*/) {}
  virtual void EnableMenuItem(int /*item_id*/, bool /*enabled*/) {}
  virtual void SetSliderPos(int /*control_id*/, int /*position*/) {}
  virtual int SliderPos(int /*control_id*/) const { return 0; }
  // A drop-down list shows its entry `index`; its handler is not called.
  virtual void SetListSelection(int /*control_id*/, int /*index*/) {}
  virtual int ListSelection(int /*control_id*/) const { return -1; }
  virtual std::string ListText(int /*control_id*/) const { return {}; }
  // A picture control or picture button shows the resource `name`, repainted at once.
  virtual void SetPicture(int /*control_id*/, const std::string& /*name*/) {}
  virtual void SetTextColours(int /*control_id*/, Rgb /*foreground*/, Rgb /*background*/) {}

  // The preview area: its idle picture, or a picture the core has scaled. The newest
  // picture wins; the caller never waits for it to be drawn.
  virtual void ResetPreview() {}
  virtual void ShowPreview(std::shared_ptr<const PreviewPicture> /*picture*/) {}

  // Plays an embedded sound without waiting; a sound still playing is cut off.
  virtual void PlaySound(const std::string& /*resource_name*/) {}
  // The small window that shows "Transform Window"; opened again when open.
  virtual void OpenOutputStreamWindow() {}
  // The About window, modal over the main window.
  virtual void ShowAbout() {}
  // Closes the main window; its event loop then ends.
  virtual void CloseMainWindow() {}
};

// The installed backend. A headless backend is installed until another one is. A
// replaced backend is kept alive to the end of the process, so a thread still inside one
// of its calls is never left with a destroyed object.
Ui& CurrentUi();
void InstallUi(std::unique_ptr<Ui> ui);

}  // namespace zqr::platform
