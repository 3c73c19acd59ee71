// The window seam: what the core asks of the user interface. The core never includes a
// toolkit header; it calls the backend installed at start-up (the wx window, or the
// headless backend used by batch conversions and tests, which records what it is told).
#pragma once

#include <cstdint>
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
};

// The installed backend. A headless backend is installed until another one is.
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
