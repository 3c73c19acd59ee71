// The headless window backend: behaves like an ideal window that nobody looks at.
// Everything it is told is kept (and optionally echoed) so that batch runs and tests
// can follow what the user would have seen.
#include <atomic>
#include <chrono>
#include <cstdio>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

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
  std::deque<std::string> file_answers;
  std::deque<int> message_answers;
  std::deque<CompressionAnswer> compression_answers;
  std::vector<FileDialogRequest> file_requests;
  std::vector<AnotherCompressionModel> compression_models;
  int progress_shows = 0;
  int progress_updates = 0;
  CompressionProgressView last_view;
};

HeadlessUi::HeadlessUi() : state_(std::make_shared<State>()) {}

int HeadlessUi::ShowMessage(const std::string& text, const std::string& caption, int style) {
  std::lock_guard lock(state_->mutex);
  state_->messages.push_back({text, caption, style});
  if (state_->echo) std::fprintf(stderr, "[%s] %s\n", caption.c_str(), text.c_str());
  int answer = state_->default_answer;
  if (!state_->message_answers.empty()) {
    answer = state_->message_answers.front();
    state_->message_answers.pop_front();
  }
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

std::string HeadlessUi::ShowFileDialog(const FileDialogRequest& request) {
  std::lock_guard lock(state_->mutex);
  state_->file_requests.push_back(request);
  if (state_->file_answers.empty()) return std::string();
  std::string answer = std::move(state_->file_answers.front());
  state_->file_answers.pop_front();
  return answer;
}

std::string HeadlessUi::PickFolder(const std::string& title, const std::string& start) {
  FileDialogRequest request;
  request.title = title;
  request.folder = start;
  return ShowFileDialog(request);
}

bool HeadlessUi::RunAnotherCompression(AnotherCompressionModel& model,
                                       const AnotherCompressionEvents& events) {
  CompressionAnswer answer;
  {
    std::lock_guard lock(state_->mutex);
    state_->compression_models.push_back(model);
    if (state_->compression_answers.empty()) return false;
    answer = state_->compression_answers.front();
    state_->compression_answers.pop_front();
  }
  // The handlers run without the lock: they may ask questions of their own.
  if (answer.compression_index >= 0) {
    model.compression_index = answer.compression_index;
    if (events.compression_selected) events.compression_selected(answer.compression_index);
  }
  if (answer.resize_index >= 0) {
    model.resize_index = answer.resize_index;
    if (events.resize_selected) events.resize_selected(answer.resize_index);
  }
  if (answer.click_select_path && events.select_path) {
    model.path_text = events.select_path(model.path_text);
  }
  if (!answer.path.empty()) model.path_text = answer.path;
  return answer.save;
}

void HeadlessUi::ShowCompressionProgress(bool visible) {
  std::lock_guard lock(state_->mutex);
  if (visible) ++state_->progress_shows;
  if (state_->echo) {
    std::fprintf(
        stderr, "%s\n",
        visible ? "Output Movie Compression: Please wait..." : "Output Movie Compression: done");
  }
}

void HeadlessUi::UpdateCompressionProgress(const CompressionProgressView& view) {
  std::lock_guard lock(state_->mutex);
  ++state_->progress_updates;
  // The clock text changes once a second at most: echo it when it does.
  if (state_->echo && view.elapsed_text != state_->last_view.elapsed_text) {
    std::fprintf(stderr, "%s\n", view.elapsed_text.c_str());
  }
  state_->last_view = view;
}

void HeadlessUi::QueueFileDialogAnswer(const std::string& path) {
  std::lock_guard lock(state_->mutex);
  state_->file_answers.push_back(path);
}

void HeadlessUi::QueueMessageAnswer(int answer) {
  std::lock_guard lock(state_->mutex);
  state_->message_answers.push_back(answer);
}

void HeadlessUi::QueueAnotherCompressionAnswer(const CompressionAnswer& answer) {
  std::lock_guard lock(state_->mutex);
  state_->compression_answers.push_back(answer);
}

std::vector<FileDialogRequest> HeadlessUi::FileDialogRequests() const {
  std::lock_guard lock(state_->mutex);
  return state_->file_requests;
}

std::vector<AnotherCompressionModel> HeadlessUi::AnotherCompressionModels() const {
  std::lock_guard lock(state_->mutex);
  return state_->compression_models;
}

int HeadlessUi::ProgressShows() const {
  std::lock_guard lock(state_->mutex);
  return state_->progress_shows;
}

int HeadlessUi::ProgressUpdates() const {
  std::lock_guard lock(state_->mutex);
  return state_->progress_updates;
}

CompressionProgressView HeadlessUi::LastProgressView() const {
  std::lock_guard lock(state_->mutex);
  return state_->last_view;
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
  state_->file_answers.clear();
  state_->message_answers.clear();
  state_->compression_answers.clear();
  state_->file_requests.clear();
  state_->compression_models.clear();
  state_->progress_shows = 0;
  state_->progress_updates = 0;
  state_->last_view = CompressionProgressView{};
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
