// The headless window backend: behaves like an ideal window that nobody looks at.
// Everything it is told is kept (and optionally echoed) so that batch runs and tests
// can follow what the user would have seen.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <map>
#include <mutex>
#include <thread>

#include "platform/ui.h"

namespace zqr::platform {

struct HeadlessUi::State {
  mutable std::mutex mutex;
  std::vector<Message> messages;
  std::map<int, std::string> labels;
  std::vector<std::pair<int, std::string>> label_history;
  std::map<int, int32_t> progress;
  int default_answer = kIdOk;
  bool echo = false;
};

HeadlessUi::HeadlessUi() : state_(std::make_shared<State>()) {}

int HeadlessUi::ShowMessage(const std::string& text, const std::string& caption, int style) {
  std::lock_guard lock(state_->mutex);
  state_->messages.push_back({text, caption, style});
  if (state_->echo) std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  int answer = state_->default_answer;
  // A box with a single OK button can only answer OK.
  if ((style & 0xF) == kMbOk) answer = kIdOk;
  return answer;
}

void HeadlessUi::SetLabel(int control_id, const std::string& text) {
  std::lock_guard lock(state_->mutex);
  state_->labels[control_id] = text;
  state_->label_history.emplace_back(control_id, text);
  if (state_->echo && !text.empty()) std::fprintf(stderr, "%s\n", text.c_str());
}

std::string HeadlessUi::GetLabel(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->labels.find(control_id);
  return it == state_->labels.end() ? std::string() : it->second;
}

void HeadlessUi::SetProgressRange(int /*control_id*/, int32_t /*low*/, int32_t /*high*/) {}

void HeadlessUi::SetProgressPos(int control_id, int32_t pos) {
  std::lock_guard lock(state_->mutex);
  state_->progress[control_id] = pos;
}

void HeadlessUi::PumpOrSleep(int milliseconds) {
  std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
}

std::vector<HeadlessUi::Message> HeadlessUi::Messages() const {
  std::lock_guard lock(state_->mutex);
  return state_->messages;
}

std::vector<std::pair<int, std::string>> HeadlessUi::LabelHistory() const {
  std::lock_guard lock(state_->mutex);
  return state_->label_history;
}

int32_t HeadlessUi::ProgressPos(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->progress.find(control_id);
  return it == state_->progress.end() ? 0 : it->second;
}

void HeadlessUi::SetDefaultAnswer(int answer) {
  std::lock_guard lock(state_->mutex);
  state_->default_answer = answer;
}

void HeadlessUi::SetEcho(bool echo) {
  std::lock_guard lock(state_->mutex);
  state_->echo = echo;
}

void HeadlessUi::Clear() {
  std::lock_guard lock(state_->mutex);
  state_->messages.clear();
  state_->labels.clear();
  state_->label_history.clear();
  state_->progress.clear();
}

namespace {
struct Installed {
  std::mutex mutex;
  std::vector<std::unique_ptr<Ui>> kept;  // every backend ever installed, newest last
  std::atomic<Ui*> current{nullptr};
  Installed() {
    kept.push_back(std::make_unique<HeadlessUi>());
    current.store(kept.back().get(), std::memory_order_release);
  }
};
Installed& InstalledUi() {
  static Installed installed;
  return installed;
}
}  // namespace

Ui& CurrentUi() {
  return *InstalledUi().current.load(std::memory_order_acquire);
}

void InstallUi(std::unique_ptr<Ui> ui) {
  if (!ui) return;
  Installed& installed = InstalledUi();
  std::lock_guard lock(installed.mutex);
  installed.kept.push_back(std::move(ui));
  installed.current.store(installed.kept.back().get(), std::memory_order_release);
}

}  // namespace zqr::platform
