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

// A file dialog, open or save. Each filter is a description and its patterns
// (";"-separated, e.g. "*.avi;*.mpg"). The backend shows the dialog owned by the window
// that is in front (the main window, or the another-compression window while it is up).
struct FileDialogRequest {
  std::string title;
  std::string folder;         // the folder it opens in
  std::string proposed_name;  // the file name it proposes
  std::vector<std::pair<std::string, std::string>> filters;
  std::string default_extension;  // without the dot; empty for none
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
};

// The installed backend. A headless backend is installed until another one is. A
// replaced backend is kept alive to the end of the process, so a thread still inside one
// of its calls is never left with a destroyed object.
Ui& CurrentUi();
void InstallUi(std::unique_ptr<Ui> ui);

// The headless backend: an ideal, silent window. It keeps every label and progress
// value it is given and every message it is asked to show, so tests and batch runs can
// read them back; message boxes answer `default_answer` (OK unless set otherwise).
class HeadlessUi : public Ui {
 public:
  struct Message {
    std::string text;
    std::string caption;
    int style = 0;
  };

  HeadlessUi();
  const char* Name() const override { return "headless"; }
  int ShowMessage(const std::string& text, const std::string& caption, int style) override;
  void SetLabel(int control_id, const std::string& text) override;
  std::string GetLabel(int control_id) const override;
  void SetProgressRange(int control_id, int32_t low, int32_t high) override;
  void SetProgressPos(int control_id, int32_t pos) override;
  void PumpOrSleep(int milliseconds) override;
  std::string ShowFileDialog(const FileDialogRequest& request) override;
  std::string PickFolder(const std::string& title, const std::string& start) override;
  bool RunAnotherCompression(AnotherCompressionModel& model,
                             const AnotherCompressionEvents& events) override;
  void ShowCompressionProgress(bool visible) override;
  void UpdateCompressionProgress(const CompressionProgressView& view) override;

  // The script. File dialogs and the folder browser answer the queued paths in order, then
  // Cancel; message boxes the queued answers in order, then the default answer.
  void QueueFileDialogAnswer(const std::string& path);
  void QueueMessageAnswer(int answer);
  // One use of the another-compression window: the lists picked (-1: left alone), whether
  // "Select file path" is clicked, then "Save VIDEO" with `path` (true) or "Exit/Cancel".
  // Without a queued answer the window answers Exit/Cancel.
  struct CompressionAnswer {
    int compression_index = -1;
    int resize_index = -1;
    bool click_select_path = false;
    bool save = false;
    std::string path;  // typed into the edit box before "Save VIDEO"; empty keeps its text
  };
  void QueueAnotherCompressionAnswer(const CompressionAnswer& answer);

  std::vector<FileDialogRequest> FileDialogRequests() const;
  std::vector<AnotherCompressionModel> AnotherCompressionModels() const;
  // How often the progress window was shown and updated, and the last view.
  int ProgressShows() const;
  int ProgressUpdates() const;
  CompressionProgressView LastProgressView() const;

  std::vector<Message> Messages() const;
  std::vector<std::pair<int, std::string>> LabelHistory() const;
  int32_t ProgressPos(int control_id) const;
  void SetDefaultAnswer(int answer);
  // Batch runs echo every message and label change to standard error.
  void SetEcho(bool echo);
  void Clear();

 private:
  struct State;
  std::shared_ptr<State> state_;
};

}  // namespace zqr::platform
