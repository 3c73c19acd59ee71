// The headless window backend: behaves like an ideal window that nobody looks at.
// Everything it is told is kept so that tests can follow what the user would have seen.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <deque>
#include <map>
#include <mutex>
#include <thread>
#include <utility>

#include "platform/headless/headless_ui.h"

namespace zqr::platform {

struct HeadlessUi::State {
  mutable std::mutex mutex;
  std::vector<Message> messages;
  std::map<int, std::string> labels;
  std::vector<std::pair<int, std::string>> label_history;
  std::map<int, int32_t> progress;
  int default_answer = kIdOk;

  // The window model.
  WindowLayout layout;
  WindowEvents events;
  std::map<int, ControlKind> kinds;
  std::map<int, bool> checked;
  std::map<int, bool> menu_checked;
  std::map<int, bool> disabled;
  std::map<int, int> slider;
  std::map<int, std::pair<int, int>> slider_range;
  std::map<int, int> selection;
  std::map<int, std::vector<std::string>> items;
  std::map<int, std::string> pictures;
  std::map<int, Rgb> colours;
  bool closed = false;
  int sounds = 0;
  int preview_resets = 0;
  int output_stream_openings = 0;
  int about_shown = 0;
  std::shared_ptr<const PreviewPicture> preview;
  std::deque<std::string> file_answers;
  std::deque<int> message_answers;
  std::deque<CompressionAnswer> compression_answers;
  std::vector<FileDialogRequest> file_requests;
  std::vector<AnotherCompressionModel> compression_models;
  int progress_shows = 0;
  int progress_updates = 0;
  CompressionProgressView last_view;
};

namespace {
void CollectMenuItems(const std::vector<MenuItemSpec>& items, HeadlessUi::State& s);
}  // namespace

HeadlessUi::HeadlessUi() : state_(std::make_shared<State>()) {}

int HeadlessUi::ShowMessage(const std::string& text, const std::string& caption, int style) {
  std::lock_guard lock(state_->mutex);
  state_->messages.push_back({text, caption, style});
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
}

void HeadlessUi::UpdateCompressionProgress(const CompressionProgressView& view) {
  std::lock_guard lock(state_->mutex);
  ++state_->progress_updates;
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

void HeadlessUi::SetChecked(int control_id, bool checked) {
  std::lock_guard lock(state_->mutex);
  state_->checked[control_id] = checked;
}
bool HeadlessUi::IsChecked(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->checked.find(control_id);
  return it != state_->checked.end() && it->second;
}
void HeadlessUi::SetMenuChecked(int item_id, bool checked) {
  std::lock_guard lock(state_->mutex);
  state_->menu_checked[item_id] = checked;
}
bool HeadlessUi::IsMenuChecked(int item_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->menu_checked.find(item_id);
  return it != state_->menu_checked.end() && it->second;
}
void HeadlessUi::EnableControl(int control_id, bool enabled) {
  std::lock_guard lock(state_->mutex);
  state_->disabled[control_id] = !enabled;
}
void HeadlessUi::EnableMenuItem(int item_id, bool enabled) {
  std::lock_guard lock(state_->mutex);
  state_->disabled[-item_id - 1] = !enabled;  // menu items beside controls of the same id
}
bool HeadlessUi::IsEnabled(int id) const {
  std::lock_guard lock(state_->mutex);
  auto control = state_->disabled.find(id);
  auto item = state_->disabled.find(-id - 1);
  return !(control != state_->disabled.end() && control->second) &&
         !(item != state_->disabled.end() && item->second);
}
void HeadlessUi::SetSliderPos(int control_id, int position) {
  std::lock_guard lock(state_->mutex);
  auto range = state_->slider_range.find(control_id);
  if (range != state_->slider_range.end()) {
    position = std::clamp(position, range->second.first, range->second.second);
  }
  state_->slider[control_id] = position;
}
int HeadlessUi::SliderPos(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->slider.find(control_id);
  return it == state_->slider.end() ? 0 : it->second;
}
void HeadlessUi::SetListSelection(int control_id, int index) {
  std::lock_guard lock(state_->mutex);
  state_->selection[control_id] = index;
}
int HeadlessUi::ListSelection(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->selection.find(control_id);
  return it == state_->selection.end() ? -1 : it->second;
}
std::string HeadlessUi::ListText(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto sel = state_->selection.find(control_id);
  auto items = state_->items.find(control_id);
  if (sel == state_->selection.end() || items == state_->items.end()) return {};
  if (sel->second < 0 || sel->second >= static_cast<int>(items->second.size())) return {};
  return items->second[static_cast<size_t>(sel->second)];
}
void HeadlessUi::SetPicture(int control_id, const std::string& name) {
  std::lock_guard lock(state_->mutex);
  state_->pictures[control_id] = name;
}
std::string HeadlessUi::Picture(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->pictures.find(control_id);
  return it == state_->pictures.end() ? std::string() : it->second;
}
void HeadlessUi::SetTextColours(int control_id, Rgb foreground, Rgb /*background*/) {
  std::lock_guard lock(state_->mutex);
  state_->colours[control_id] = foreground;
}
Rgb HeadlessUi::TextColour(int control_id) const {
  std::lock_guard lock(state_->mutex);
  auto it = state_->colours.find(control_id);
  return it == state_->colours.end() ? Rgb{} : it->second;
}
void HeadlessUi::ResetPreview() {
  std::lock_guard lock(state_->mutex);
  ++state_->preview_resets;
  state_->preview.reset();
}
void HeadlessUi::ShowPreview(std::shared_ptr<const PreviewPicture> picture) {
  std::lock_guard lock(state_->mutex);
  state_->preview = std::move(picture);
}
std::shared_ptr<const PreviewPicture> HeadlessUi::LastPreview() const {
  std::lock_guard lock(state_->mutex);
  return state_->preview;
}
void HeadlessUi::PlaySound(const std::string& /*resource_name*/) {
  std::lock_guard lock(state_->mutex);
  ++state_->sounds;
}
int HeadlessUi::SoundsPlayed() const {
  std::lock_guard lock(state_->mutex);
  return state_->sounds;
}
int HeadlessUi::PreviewResets() const {
  std::lock_guard lock(state_->mutex);
  return state_->preview_resets;
}
void HeadlessUi::OpenOutputStreamWindow() {
  std::lock_guard lock(state_->mutex);
  ++state_->output_stream_openings;
}
int HeadlessUi::OutputStreamOpenings() const {
  std::lock_guard lock(state_->mutex);
  return state_->output_stream_openings;
}
void HeadlessUi::ShowAbout() {
  std::lock_guard lock(state_->mutex);
  ++state_->about_shown;
}
int HeadlessUi::AboutShown() const {
  std::lock_guard lock(state_->mutex);
  return state_->about_shown;
}
void HeadlessUi::CloseMainWindow() {
  std::lock_guard lock(state_->mutex);
  state_->closed = true;
}
bool HeadlessUi::WindowClosed() const {
  std::lock_guard lock(state_->mutex);
  return state_->closed;
}
namespace {
void CollectMenuItems(const std::vector<MenuItemSpec>& items, HeadlessUi::State& s) {
  for (const MenuItemSpec& item : items) {
    if (item.kind == MenuItemSpec::Kind::kPopup) CollectMenuItems(item.children, s);
    if (item.kind == MenuItemSpec::Kind::kItem) s.menu_checked[item.id] = item.checked;
  }
}
}  // namespace

void HeadlessUi::BuildWindow(const WindowLayout& layout, WindowEvents events) {
  std::lock_guard lock(state_->mutex);
  State& s = *state_;
  s.layout = layout;
  s.events = std::move(events);
  s.closed = false;
  for (const ControlSpec& c : layout.controls) {
    if (c.id < 0) continue;
    s.kinds[c.id] = c.kind;
    if (!c.enabled) s.disabled[c.id] = true;
    switch (c.kind) {
      case ControlKind::kCheckBox:
        s.checked[c.id] = c.value != 0;
        s.labels[c.id] = c.text;
        s.colours[c.id] = c.foreground;
        break;
      case ControlKind::kSlider:
        s.slider_range[c.id] = {c.minimum, c.maximum};
        s.slider[c.id] = std::clamp(c.value, c.minimum, c.maximum);
        break;
      case ControlKind::kDropDown:
        s.items[c.id] = c.items;
        s.selection[c.id] = c.value;
        break;
      case ControlKind::kPicture:
      case ControlKind::kStretchedPicture:
      case ControlKind::kPictureButton:
        s.pictures[c.id] = c.text;
        break;
      default:
        s.labels[c.id] = c.text;
        break;
    }
  }
  CollectMenuItems(
      [&] {
        std::vector<MenuItemSpec> all;
        for (const MenuSpec& m : layout.menus)
          all.insert(all.end(), m.items.begin(), m.items.end());
        return all;
      }(),
      s);
}

bool HeadlessUi::HasControl(int control_id) const {
  std::lock_guard lock(state_->mutex);
  return state_->kinds.count(control_id) != 0;
}

// A disabled control or greyed menu item sends nothing, as in a real window.
void HeadlessUi::Click(int id) {
  std::function<void(int, int)> command;
  {
    std::lock_guard lock(state_->mutex);
    State& s = *state_;
    if (s.closed) return;
    auto control_off = s.disabled.find(id);
    auto item_off = s.disabled.find(-id - 1);
    bool control_on = control_off == s.disabled.end() || !control_off->second;
    // A control without a menu item of its id (Stop) is not clicked through one.
    const bool has_item = s.menu_checked.count(id) != 0;
    bool item_on = has_item && (item_off == s.disabled.end() || !item_off->second);
    if (!has_item && s.kinds.count(id) == 0) item_on = true;
    if (!control_on && !item_on) return;
    auto kind = s.kinds.find(id);
    if (kind != s.kinds.end() && kind->second == ControlKind::kCheckBox)
      s.checked[id] = !s.checked[id];
    command = s.events.command;
  }
  if (command) command(id, kNotifyClick);
}

void HeadlessUi::Accelerator(bool ctrl, int key) {
  std::function<void(int, int)> command;
  int id = -1;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return;
    for (const AcceleratorSpec& a : state_->layout.accelerators) {
      if (a.ctrl == ctrl && a.key == key) id = a.id;
    }
    command = state_->events.command;
  }
  if (id >= 0 && command) command(id, kNotifyChange);
}

void HeadlessUi::SelectListItem(int control_id, int index) {
  std::function<void(int, int)> command;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return;
    state_->selection[control_id] = index;
    command = state_->events.command;
  }
  if (command) command(control_id, kNotifyChange);
}

void HeadlessUi::MoveSlider(int control_id, int position) {
  SetSliderPos(control_id, position);
  std::function<void(int, int)> slider;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return;
    slider = state_->events.slider;
  }
  if (slider) slider(control_id, SliderPos(control_id));
}

bool HeadlessUi::Hover(int control_id) {
  std::function<bool(int)> hover;
  {
    std::lock_guard lock(state_->mutex);
    hover = state_->events.hover;
  }
  return hover ? hover(control_id) : false;
}

bool HeadlessUi::RequestClose() {
  std::function<bool()> close_request;
  {
    std::lock_guard lock(state_->mutex);
    if (state_->closed) return true;
    close_request = state_->events.close_request;
  }
  bool may_close = close_request ? close_request() : true;
  if (may_close) CloseMainWindow();
  return may_close;
}

void HeadlessUi::SetDefaultAnswer(int answer) {
  std::lock_guard lock(state_->mutex);
  state_->default_answer = answer;
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
