// The main window on wx: one widget per row of the layout, with the row's identifier,
// rectangle and colours, the menus, accelerators and tooltips, and the WxUi through which
// the core talks to it. User actions go to the core's handlers; the core's calls from
// other threads are queued to the GUI thread and never wait, except its questions.
#include <wx/dirdlg.h>
#include <wx/filedlg.h>
#include <wx/filename.h>
#include <wx/sound.h>

#include <map>
#include <thread>
#include <utility>

#include "platform/headless/headless_ui.h"
#include "platform/ui.h"
#include "platform/window.h"
#include "platform/wx/wx_common.h"
#include "platform/wx/wx_controls.h"
#include "platform/wx/wx_windows.h"
#include "resources/resources.h"

namespace zqr::platform {

namespace wx {
namespace {

constexpr int kPreviewGrey = 51;

// The preview area: the newest picture handed over, or the idle grey with "Main Window".
class PreviewArea : public wxPanel {
 public:
  PreviewArea(wxWindow* parent, const ControlSpec& c)
      : wxPanel(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, c.height), wxBORDER_SIMPLE) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, &PreviewArea::OnPaint, this);
  }
  void Show(std::shared_ptr<const PreviewPicture> picture) {
    picture_ = std::move(picture);
    bitmap_ = wxBitmap();
    if (picture_ && picture_->width > 0 && picture_->height > 0 &&
        picture_->rgb.size() >= size_t(picture_->width) * size_t(picture_->height) * 3) {
      wxImage image(picture_->width, picture_->height,
                    const_cast<unsigned char*>(picture_->rgb.data()), true);
      bitmap_ = wxBitmap(image);
    }
    Refresh(false);
    Update();
  }

 private:
  void OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    if (bitmap_.IsOk()) {
      dc.DrawBitmap(bitmap_, 0, 0);
      dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
      dc.SetTextBackground(wxColour(96, 96, 96));
      dc.SetTextForeground(*wxWHITE);
      for (const PreviewPicture::Caption& c : picture_->captions) {
        dc.DrawText(Utf8(c.text), c.x, c.y);
      }
      return;
    }
    dc.SetBackground(wxBrush(wxColour(kPreviewGrey, kPreviewGrey, kPreviewGrey)));
    dc.Clear();
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText("Main Window", 10, 10);
  }
  std::shared_ptr<const PreviewPicture> picture_;
  wxBitmap bitmap_;
};

// A picture stretched to the control's size (the position bar).
class StretchedPicture : public wxPanel {
 public:
  StretchedPicture(wxWindow* parent, const ControlSpec& c)
      : wxPanel(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, c.height), wxBORDER_NONE),
        image_(ResourceBitmap(c.text, wxSize(50, 18)).ConvertToImage()) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
      wxPaintDC dc(this);
      wxSize size = GetClientSize();
      if (size.x > 0 && size.y > 0) {
        dc.DrawBitmap(wxBitmap(image_.Scale(size.x, size.y, wxIMAGE_QUALITY_BILINEAR)), 0, 0);
      }
    });
  }

 private:
  wxImage image_;
};

class MainWindow;

// The extension of a filter's first pattern ("*.flv;*.f4v" gives ".flv"); empty for a
// pattern that takes any extension.
wxString FilterExtension(const std::string& patterns) {
  const wxString first = Utf8(patterns).BeforeFirst(';');
  if (!first.StartsWith("*.") || first.Contains("*.*")) return wxString();
  return first.Mid(1);
}

// The file dialog of a request. GTK's file chooser would write the first filter's
// extension into the proposed name and leaves a typed name without one; here the
// proposal stands as given, and a saved name without an extension takes the chosen
// filter's (asking first, as the dialog does, before an existing file is replaced).
std::string AskForFile(const FileDialogRequest& r) {
  wxString wildcard;
  for (const auto& [description, patterns] : r.filters) {
    if (!wildcard.empty()) wildcard += "|";
    wildcard += Utf8(description) + "|" + Utf8(patterns);
  }
  long style = r.save ? wxFD_SAVE : wxFD_OPEN;
  if (r.overwrite_prompt) style |= wxFD_OVERWRITE_PROMPT;
  if (r.file_must_exist) style |= wxFD_FILE_MUST_EXIST;
  wxWindow* owner = QuestionOwner();
  wxString folder = Utf8(r.folder);
  wxString name = Utf8(r.proposed_name);
  for (;;) {
    wxFileDialog dialog(owner, Utf8(r.title), folder, name, wildcard, style);
    // GTK's chooser takes an empty name as the folder itself to select, and so opens in its
    // parent.
    if (!name.empty()) dialog.SetFilename(name);
    if (r.filter_index < r.filters.size()) dialog.SetFilterIndex(static_cast<int>(r.filter_index));
    if (dialog.ShowModal() != wxID_OK) return std::string();
    wxFileName chosen(dialog.GetPath());
    const int filter = dialog.GetFilterIndex();
    if (!r.save || chosen.HasExt() || filter < 0 || filter >= static_cast<int>(r.filters.size())) {
      return std::string(chosen.GetFullPath().utf8_str());
    }
    const wxString extension = FilterExtension(r.filters[static_cast<size_t>(filter)].second);
    chosen.SetFullName(chosen.GetFullName() + extension);
    if (r.overwrite_prompt && chosen.FileExists() &&
        ShowMessageBox(owner,
                       std::string(chosen.GetFullName().utf8_str()) +
                           " already exists.\nDo you want to replace it?",
                       r.title, kMbYesNo | kMbIconWarning) != kIdYes) {
      folder = chosen.GetPath();
      name = chosen.GetFullName();
      continue;
    }
    return std::string(chosen.GetFullPath().utf8_str());
  }
}

class WxUi final : public Ui {
 public:
  const char* Name() const override { return "wx"; }

  int ShowMessage(const std::string& text, const std::string& caption, int style) override {
    return Ask<int>([=] { return ShowMessageBox(QuestionOwner(), text, caption, style); },
                    kIdCancel);
  }

  void SetLabel(int id, const std::string& text) override {
    Remember([&](Model& m) { m.labels[id] = text; });
    Post([id, text] {
      if (wxWindow* w = Find(id)) {
        w->SetLabel(Utf8(text));
        FitLabelFont(w, text);
        w->Refresh();
      }
    });
  }
  std::string GetLabel(int id) const override { return Recalled(model_.labels, id, std::string()); }
  void SetProgressRange(int, int32_t, int32_t) override {}
  void SetProgressPos(int id, int32_t pos) override {
    Remember([&](Model& m) { m.progress[id] = pos; });
    // The position bar is a picture whose width shows the position.
    Post([id, pos] {
      if (wxWindow* w = Find(id)) {
        w->SetSize(std::max(1, pos), w->GetSize().y);
        w->Refresh();
      }
    });
  }

  void PumpOrSleep(int milliseconds) override {
    if (wxThread::IsMain() && wxTheApp != nullptr && GuiAlive()) {
      if (wxTheApp->Pending()) {
        wxTheApp->Dispatch();
        return;
      }
      wxTheApp->ProcessPendingEvents();
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

  std::string ShowFileDialog(const FileDialogRequest& r) override {
    return Ask<std::string>([r] { return AskForFile(r); }, std::string());
  }

  std::string PickFolder(const std::string& title, const std::string& start) override {
    return Ask<std::string>(
        [title, start] {
          wxDirDialog dialog(MainFrame(), Utf8(title), Utf8(start),
                             wxDD_DEFAULT_STYLE | wxDD_DIR_MUST_EXIST);
          if (dialog.ShowModal() != wxID_OK) return std::string();
          return std::string(dialog.GetPath().utf8_str());
        },
        std::string());
  }

  bool RunAnotherCompression(AnotherCompressionModel& model,
                             const AnotherCompressionEvents& events) override {
    AnotherCompressionModel copy = model;
    bool saved =
        Ask<bool>([&copy, &events] { return RunAnotherCompressionWindow(copy, events); }, false);
    if (saved) model = copy;
    return saved;
  }
  void ShowCompressionProgress(bool visible) override {
    // On the GUI thread the window comes and goes at once, before the next question:
    // queued, its closing would run inside that question's loop.
    if (wxThread::IsMain()) {
      ShowProgressWindow(visible);
    } else {
      Post([visible] { ShowProgressWindow(visible); });
    }
  }
  void UpdateCompressionProgress(const CompressionProgressView& view) override {
    Post([view] { UpdateProgressWindow(view); });
  }

  void SetChecked(int id, bool checked) override {
    Remember([&](Model& m) { m.checked[id] = checked; });
    Post([id, checked] {
      if (auto* box = dynamic_cast<wxCheckBox*>(Find(id))) box->SetValue(checked);
    });
  }
  bool IsChecked(int id) const override { return Recalled(model_.checked, id, false); }
  void SetMenuChecked(int id, bool checked) override {
    Remember([&](Model& m) { m.menu_checked[id] = checked; });
    Post([id, checked] {
      if (wxMenuBar* bar = MenuBarWith(id)) bar->Check(id, checked);
    });
  }
  bool IsMenuChecked(int id) const override { return Recalled(model_.menu_checked, id, false); }
  void EnableControl(int id, bool enabled) override {
    Post([id, enabled] {
      if (wxWindow* w = Find(id)) w->Enable(enabled);
    });
  }
  void EnableMenuItem(int id, bool enabled) override {
    Post([id, enabled] {
      if (wxMenuBar* bar = MenuBarWith(id)) bar->Enable(id, enabled);
    });
  }
  void SetSliderPos(int id, int position) override {
    Remember([&](Model& m) { m.slider[id] = position; });
    Post([id, position] {
      if (auto* slider = dynamic_cast<SmallSlider*>(Find(id))) slider->SetValue(position);
    });
  }
  int SliderPos(int id) const override { return Recalled(model_.slider, id, 0); }
  void SetListSelection(int id, int index) override {
    Remember([&](Model& m) {
      const std::vector<std::string>& items = m.items[id];
      if (index >= 0 && index < static_cast<int>(items.size())) {
        m.selection[id] = {index, items[static_cast<size_t>(index)]};
      }
    });
    Post([id, index] {
      if (auto* list = dynamic_cast<SmallList*>(Find(id))) list->SetSelection(index);
    });
  }
  int ListSelection(int id) const override {
    return Recalled(model_.selection, id, kNoSelection).first;
  }
  std::string ListText(int id) const override {
    return Recalled(model_.selection, id, kNoSelection).second;
  }
  void SetPicture(int id, const std::string& name) override {
    auto apply = [id, name] {
      wxWindow* w = Find(id);
      if (auto* button = dynamic_cast<PictureButton*>(w)) {
        button->SetBitmap(ResourceBitmap(name, button->GetSize()));
        button->Update();
      } else if (auto* picture = dynamic_cast<wxStaticBitmap*>(w)) {
        picture->SetBitmap(ResourceBitmap(name, picture->GetSize()));
        picture->Refresh();
        picture->Update();
      }
    };
    // The pressed picture shows during the command's wait on the GUI thread itself.
    if (wxThread::IsMain()) {
      apply();
    } else {
      Post(apply);
    }
  }
  void SetTextColours(int id, Rgb foreground, Rgb background) override {
    Post([id, foreground, background] {
      if (wxWindow* w = Find(id)) {
        w->SetForegroundColour(ToWx(foreground));
        w->SetBackgroundColour(ToWx(background));
        w->Refresh();
      }
    });
  }

  void ResetPreview() override {
    {
      std::lock_guard lock(mutex_);
      pending_preview_.reset();
    }
    SchedulePreview();
  }
  void ShowPreview(std::shared_ptr<const PreviewPicture> picture) override {
    {
      std::lock_guard lock(mutex_);
      pending_preview_ = std::move(picture);
    }
    SchedulePreview();
  }

  void PlaySound(const std::string& name) override {
    Post([name] {
      static std::map<std::string, std::unique_ptr<wxSound>> sounds;
      auto& sound = sounds[name];
      if (!sound) {
        std::span<const uint8_t> bytes = resources::Find(name);
        if (bytes.empty()) return;
        sound = std::make_unique<wxSound>();
        if (!sound->Create(bytes.size(), bytes.data())) return;
      }
      if (sound->IsOk()) sound->Play(wxSOUND_ASYNC);
    });
  }
  void OpenOutputStreamWindow() override {
    Post([] { OpenOutputStream(); });
  }
  void ShowAbout() override {
    if (wxThread::IsMain()) {
      ShowAboutWindow();
    } else {
      Post([] { ShowAboutWindow(); });
    }
  }
  void CloseMainWindow() override;

  // Called by the window on the GUI thread when the user changes a control, so that the
  // getters above read what the window shows.
  struct Model {
    std::map<int, std::string> labels;
    std::map<int, int32_t> progress;
    std::map<int, bool> checked;
    std::map<int, bool> menu_checked;
    std::map<int, int> slider;
    std::map<int, std::pair<int, std::string>> selection;
    std::map<int, std::vector<std::string>> items;  // of each list
  };
  void Remember(const std::function<void(Model&)>& change) {
    std::lock_guard lock(mutex_);
    change(model_);
  }
  // What the window was last given for `id`, read under the lock; `fallback` when nothing.
  template <typename Value>
  Value Recalled(const std::map<int, Value>& values, int id, Value fallback) const {
    std::lock_guard lock(mutex_);
    auto it = values.find(id);
    return it == values.end() ? fallback : it->second;
  }
  inline static const std::pair<int, std::string> kNoSelection{-1, std::string()};
  // The menu bar when it has an item `id`, else null.
  static wxMenuBar* MenuBarWith(int id) {
    wxMenuBar* bar = MainFrame() ? MainFrame()->GetMenuBar() : nullptr;
    return bar != nullptr && bar->FindItem(id) != nullptr ? bar : nullptr;
  }

 private:
  static wxWindow* Find(int id) {
    return MainFrame() ? wxWindow::FindWindowById(id, MainFrame()) : nullptr;
  }
  // A label keeps the window's font while its text fits; a longer text written at run
  // time (a message in a caption's place) takes the largest smaller size that fits.
  static void FitLabelFont(wxWindow* w, const std::string& text) {
    auto* label = dynamic_cast<wxStaticText*>(w);
    if (label == nullptr || label->HasFlag(wxST_ELLIPSIZE_MIDDLE)) return;
    const wxFont window_font = label->GetParent()->GetFont();
    ControlSpec room_of;
    room_of.text = text;
    room_of.width = label->GetSize().x;
    room_of.height = label->GetSize().y;
    if (label->HasFlag(wxBORDER_SUNKEN)) room_of.style = kStyleSunken;
    const FittedText room = RoomFor(room_of);
    wxClientDC dc(label);
    dc.SetFont(window_font);
    if (dc.GetTextExtent(Utf8(text)).x <= room.width) {
      label->SetFont(window_font);
    } else {
      label->SetFont(WindowFont({{text, room.width, 0}}, window_font.GetFractionalPointSize()));
    }
  }
  // Newest picture wins: one hand-over is queued at a time and takes whatever is newest
  // when the GUI thread gets to it.
  void SchedulePreview() {
    if (preview_queued_.exchange(true)) return;
    Post([this] {
      preview_queued_ = false;
      std::shared_ptr<const PreviewPicture> picture;
      {
        std::lock_guard lock(mutex_);
        picture = pending_preview_;
      }
      if (auto* area = dynamic_cast<PreviewArea*>(Find(2007))) area->Show(picture);
    });
    if (!GuiAlive()) preview_queued_ = false;
  }

  mutable std::mutex mutex_;
  Model model_;
  std::shared_ptr<const PreviewPicture> pending_preview_;
  std::atomic<bool> preview_queued_{false};
};

class MainWindow : public wxFrame {
 public:
  MainWindow(const MainWindowSpec& spec, WxUi& ui)
      : wxFrame(nullptr, wxID_ANY, Utf8(spec.layout.caption), wxDefaultPosition, wxDefaultSize,
                wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX),
        events_(spec.events),
        ui_(ui) {
    const WindowLayout& layout = spec.layout;
    SetIcon(ResourceIcon(layout.icon));
    BuildMenus(layout);
    SetClientSize(layout.client_width, layout.client_height);
    panel_ = new wxPanel(this, wxID_ANY, wxPoint(0, 0),
                         wxSize(layout.client_width, layout.client_height));
    panel_->SetBackgroundColour(ToWx(layout.background));
    panel_->SetFont(FittedFont(layout));
    // The group frames are painted by the panel beneath the controls. A GTK group box is a
    // sibling of the controls inside it, and GTK looks for a tooltip in the first sibling
    // under the pointer: made first it would hide their tooltips, made last it would
    // paint over them.
    for (const ControlSpec& c : layout.controls) {
      if (c.kind == ControlKind::kGroupFrame) {
        frames_.push_back(c);
      } else {
        Create(c);
      }
    }
    panel_->SetBackgroundStyle(wxBG_STYLE_PAINT);
    panel_->Bind(wxEVT_PAINT, &MainWindow::PaintPanel, this);
    for (const TooltipSpec& t : layout.tooltips) {
      if (wxWindow* w = wxWindow::FindWindowById(t.control_id, this)) w->SetToolTip(Utf8(t.text));
    }
    std::vector<wxAcceleratorEntry> keys;
    // A key that a menu item shows is already the menu's; the table keeps the others.
    for (const AcceleratorSpec& a : layout.accelerators) {
      if (GetMenuBar()->FindItem(a.id) != nullptr) continue;
      int key = a.key == kKeyF1 ? WXK_F1 : a.key;
      keys.emplace_back(a.ctrl ? wxACCEL_CTRL : wxACCEL_NORMAL, key, a.id);
    }
    SetAcceleratorTable(wxAcceleratorTable(static_cast<int>(keys.size()), keys.data()));
    Bind(wxEVT_MENU, &MainWindow::OnMenu, this);
    Bind(wxEVT_CLOSE_WINDOW, &MainWindow::OnClose, this);
    panel_->Bind(wxEVT_MOTION, [this](wxMouseEvent& e) {
      Hover(-1);
      e.Skip();
    });
    Centre();
    // A second instance opens beside the first rather than exactly over it.
    if (spec.centre_offset != 0)
      Move(GetPosition() + wxPoint(spec.centre_offset, spec.centre_offset));
  }

  void ConfirmedClose() {
    closing_ = true;
    Close(true);
  }

  // Runs `work` once the window is on the screen: a clip named on the command line starts
  // playing when the user can see it, not while the window is still being mapped.
  void WhenFirstShown(std::function<void()> work) { when_shown_ = std::move(work); }

  const std::vector<ControlSpec>& GroupFrames() const { return frames_; }

 private:
  // Every caption, label, button and check-box text must fit its rectangle.
  static wxFont FittedFont(const WindowLayout& layout) {
    std::vector<FittedText> texts;
    for (const ControlSpec& c : layout.controls) {
      // A path is shortened in its middle to fit; it sets no size.
      if (c.text.empty() || (c.style & kStylePathEllipsis)) continue;
      switch (c.kind) {
        case ControlKind::kCheckBox:
        case ControlKind::kLabel:
        case ControlKind::kPushButton:
        case ControlKind::kGroupFrame:
          texts.push_back(RoomFor(c));
          break;
        default:
          break;
      }
    }
    return WindowFont(texts);
  }

  // The menus write their keys as "Ctrl + L"; wx shows and binds them written "Ctrl+L".
  static wxString MenuLabel(const std::string& text) {
    wxString label = Utf8(text);
    const int tab = label.Find('\t');
    if (tab != wxNOT_FOUND) {
      wxString keys = label.Mid(static_cast<size_t>(tab) + 1);
      keys.Replace(" + ", "+");
      label = label.Left(static_cast<size_t>(tab)) + "\t" + keys;
    }
    return label;
  }

  static wxMenu* BuildMenu(const std::vector<MenuItemSpec>& items) {
    auto* menu = new wxMenu;
    for (const MenuItemSpec& item : items) {
      switch (item.kind) {
        case MenuItemSpec::Kind::kSeparator:
          menu->AppendSeparator();
          break;
        case MenuItemSpec::Kind::kPopup:
          menu->AppendSubMenu(BuildMenu(item.children), Utf8(item.text));
          break;
        case MenuItemSpec::Kind::kItem:
          if (item.checkable) {
            menu->AppendCheckItem(item.id, MenuLabel(item.text))->Check(item.checked);
          } else {
            menu->Append(item.id, MenuLabel(item.text));
          }
          break;
      }
    }
    return menu;
  }

  void RememberMenuChecks(const std::vector<MenuItemSpec>& items) {
    for (const MenuItemSpec& item : items) {
      if (item.kind == MenuItemSpec::Kind::kPopup) RememberMenuChecks(item.children);
      if (item.kind == MenuItemSpec::Kind::kItem && item.checkable) {
        ui_.Remember([&](WxUi::Model& m) { m.menu_checked[item.id] = item.checked; });
      }
    }
  }

  void BuildMenus(const WindowLayout& layout) {
    auto* bar = new wxMenuBar;
    for (const MenuSpec& m : layout.menus) {
      bar->Append(BuildMenu(m.items), Utf8(m.title));
      RememberMenuChecks(m.items);
    }
    SetMenuBar(bar);
  }

  void Create(const ControlSpec& c) {
    if (wxWindow* w = MakeControl(c)) Dress(w, c);
  }

  // The widget of one row, with what the backend's model keeps of it; none for a group
  // frame, which the panel paints.
  wxWindow* MakeControl(const ControlSpec& c) {
    const wxPoint at(c.x, c.y);
    const wxSize size(c.width, c.height);
    long border = 0;
    if (c.style & kStyleSunken) border = wxBORDER_SUNKEN;
    if (c.style & (kStyleStaticEdge | kStyleClientEdge)) border = wxBORDER_THEME;
    wxWindow* w = nullptr;
    switch (c.kind) {
      case ControlKind::kLabel: {
        long style = border | wxST_NO_AUTORESIZE;
        if (c.style & kStyleCentred) style |= wxALIGN_CENTRE_HORIZONTAL;
        if (c.style & kStylePathEllipsis) style |= wxST_ELLIPSIZE_MIDDLE;
        w = new wxStaticText(panel_, c.id, Utf8(c.text), at, size, style);
        ui_.Remember([&](WxUi::Model& m) { m.labels[c.id] = c.text; });
        break;
      }
      case ControlKind::kLink: {
        w = new wxStaticText(panel_, c.id, Utf8(c.text), at, size, wxST_NO_AUTORESIZE);
        break;
      }
      case ControlKind::kPicture:
        w = new wxStaticBitmap(panel_, c.id, ResourceBitmap(c.text, size), at);
        break;
      case ControlKind::kStretchedPicture:
        w = new StretchedPicture(panel_, c);
        break;
      case ControlKind::kGraphic:
        w = new PreviewArea(panel_, c);
        break;
      case ControlKind::kPictureButton: {
        w = new PictureButton(panel_, c, [this, id = c.id] { Command(id, kNotifyClick); });
        break;
      }
      case ControlKind::kCheckBox: {
        auto* box = new wxCheckBox(panel_, c.id, Utf8(c.text), at, size, border);
        box->SetValue(c.value != 0);
        box->Bind(wxEVT_CHECKBOX, [this, id = c.id](wxCommandEvent& e) {
          ui_.Remember([&](WxUi::Model& m) { m.checked[id] = e.IsChecked(); });
          Command(id, kNotifyClick);
        });
        ui_.Remember([&](WxUi::Model& m) { m.checked[c.id] = c.value != 0; });
        w = box;
        break;
      }
      case ControlKind::kSlider: {
        auto* slider = new SmallSlider(panel_, c, [this, id = c.id](int position) {
          ui_.Remember([&](WxUi::Model& m) { m.slider[id] = position; });
          if (events_.slider) events_.slider(id, position);
        });
        ui_.Remember([&](WxUi::Model& m) { m.slider[c.id] = slider->GetValue(); });
        w = slider;
        break;
      }
      case ControlKind::kDropDown: {
        auto* list =
            new SmallList(panel_, c, [this, id = c.id](int index, const std::string& text) {
              ui_.Remember([&](WxUi::Model& m) { m.selection[id] = {index, text}; });
              Command(id, kNotifyChange);
            });
        ui_.Remember([&](WxUi::Model& m) {
          m.selection[c.id] = {c.value, list->GetText()};
          m.items[c.id] = c.items;
        });
        w = list;
        break;
      }
      case ControlKind::kGroupFrame:
        break;  // painted by the panel
      case ControlKind::kPushButton: {
        long style = wxBU_EXACTFIT | ((c.style & kStyleFlat) ? wxBORDER_NONE : 0);
        auto* button = new wxButton(panel_, c.id, Utf8(c.text), at, size, style);
        button->Bind(wxEVT_BUTTON,
                     [this, id = c.id](wxCommandEvent&) { Command(id, kNotifyClick); });
        w = button;
        break;
      }
    }
    return w;
  }

  // The row's state, colours and pointer events on its widget.
  void Dress(wxWindow* w, const ControlSpec& c) {
    if (!c.enabled) w->Enable(false);
    if (c.kind != ControlKind::kGraphic && c.kind != ControlKind::kPicture &&
        c.kind != ControlKind::kPictureButton && c.kind != ControlKind::kStretchedPicture) {
      w->SetForegroundColour(ToWx(c.foreground));
      if (!(c.style & kStyleTransparent)) w->SetBackgroundColour(ToWx(c.background));
      // A native button paints its own light face under the white text (on Windows always,
      // under GTK when the pointer is over it): "transparent" has to be the colour it stands
      // on.
      if (c.kind == ControlKind::kPushButton && (c.style & kStyleTransparent)) {
        w->SetBackgroundColour(ToWx(c.background));
      }
    }
    if (c.id >= 0) {
      w->Bind(wxEVT_ENTER_WINDOW, [this, id = c.id](wxMouseEvent& e) {
        Hover(id);
        e.Skip();
      });
    }
    // Out of a picture button onto the menu bar or off the window, no other part of the
    // window sees the pointer: the button itself gives up its hover picture.
    if (c.kind == ControlKind::kPictureButton) {
      w->Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent& e) {
        Hover(-1);
        e.Skip();
      });
    }
  }

  // The window's grey, and each group frame as Windows draws one: its inside in the
  // frame's colour, a line round it from the middle of its caption down, and the caption
  // on the frame's colour. A frame painted later covers the foot of the one above.
  void PaintPanel(wxPaintEvent&) {
    if (when_shown_) CallAfter([work = std::exchange(when_shown_, nullptr)] { work(); });
    wxPaintDC dc(panel_);
    dc.SetBackground(wxBrush(panel_->GetBackgroundColour()));
    dc.Clear();
    dc.SetFont(panel_->GetFont());
    const int text_height = dc.GetCharHeight();
    for (const ControlSpec& f : frames_) {
      const int line_top = f.y + text_height / 2;
      const wxRect box(f.x, line_top, f.width, f.height - (line_top - f.y));
      dc.SetPen(wxPen(wxColour(200, 200, 200)));
      dc.SetBrush(wxBrush(ToWx(f.background)));
      dc.DrawRectangle(box);
      dc.SetBackgroundMode(wxBRUSHSTYLE_SOLID);
      dc.SetTextBackground(ToWx(f.background));
      dc.SetTextForeground(ToWx(f.foreground));
      dc.DrawText(Utf8(f.text), f.x + 6, f.y);
      dc.SetBackgroundMode(wxBRUSHSTYLE_TRANSPARENT);
    }
  }

  void Hover(int id) {
    if (!events_.hover) return;
    bool hand = events_.hover(id);
    if (id >= 0) {
      if (wxWindow* w = wxWindow::FindWindowById(id, this)) {
        if (hand) w->SetCursor(HandCursor());
      }
    }
  }

  void Command(int id, int code) {
    if (events_.command) events_.command(id, code);
  }

  void OnMenu(wxCommandEvent& e) {
    const int id = e.GetId();
    // wx has already moved a check item's mark; the handler reads the mark as it was.
    wxMenuItem* item = GetMenuBar()->FindItem(id);
    if (item != nullptr && item->IsCheckable()) {
      item->Check(!item->IsChecked());
      ui_.Remember([&](WxUi::Model& m) { m.menu_checked[id] = item->IsChecked(); });
    }
    Command(id, kNotifyClick);
  }

  void OnClose(wxCloseEvent& e) {
    if (!closing_ && e.CanVeto()) {
      if (!events_.close_request || !events_.close_request()) {
        e.Veto();
        return;
      }
    }
    GuiAlive() = false;
    CloseSecondaryWindows();
    MainFrame() = nullptr;
    // wx deletes a frame, and ends the loop after the last one, when the loop next goes
    // idle; after the question's own loop nothing may wake it until the pointer moves.
    // The window goes from the screen now, and the loop is woken to finish the rest.
    Hide();
    Destroy();
    wxWakeUpIdle();
  }

  WindowEvents events_;
  WxUi& ui_;
  wxPanel* panel_ = nullptr;
  std::vector<ControlSpec> frames_;  // the group frames, painted by the panel
  bool closing_ = false;
  std::function<void()> when_shown_;
};

void WxUi::CloseMainWindow() {
  auto close = [] {
    if (auto* frame = dynamic_cast<MainWindow*>(MainFrame())) frame->ConfirmedClose();
  };
  if (wxThread::IsMain()) {
    close();
  } else {
    Post(close);
  }
}

}  // namespace
}  // namespace wx

bool WindowBackendAvailable() {
  return wx::EnsureWx();
}

bool DesktopSize(int* width, int* height) {
  if (!wx::EnsureWx()) return false;
  wxDisplaySize(width, height);
  return true;
}

void ShowStartupMessage(const std::string& text, const std::string& caption, int style) {
  if (!wx::EnsureWx()) return;
  wx::ShowMessageBox(nullptr, text, caption, style);
}

std::vector<LiveControl> LiveControls() {
  return wx::Ask<std::vector<LiveControl>>(
      [] {
        std::vector<LiveControl> controls;
        wxFrame* frame = wx::MainFrame();
        if (frame == nullptr || frame->GetChildren().empty()) return controls;
        wxWindow* panel = nullptr;
        for (wxWindow* child : frame->GetChildren()) {
          if (dynamic_cast<wxPanel*>(child) != nullptr) panel = child;
        }
        if (panel == nullptr) return controls;
        for (wxWindow* w : panel->GetChildren()) {
          LiveControl c;
          c.spec.id = w->GetId();
          c.spec.text = std::string(w->GetLabel().utf8_str());
          const wxRect r = w->GetRect();
          c.spec.x = r.x;
          c.spec.y = r.y;
          c.spec.width = r.width;
          c.spec.height = r.height;
          if (dynamic_cast<wxCheckBox*>(w))
            c.spec.kind = ControlKind::kCheckBox;
          else if (dynamic_cast<wx::SmallSlider*>(w))
            c.spec.kind = ControlKind::kSlider;
          else if (dynamic_cast<wx::SmallList*>(w))
            c.spec.kind = ControlKind::kDropDown;
          else if (dynamic_cast<wxButton*>(w))
            c.spec.kind = ControlKind::kPushButton;
          else if (dynamic_cast<wx::PreviewArea*>(w))
            c.spec.kind = ControlKind::kGraphic;
          else if (dynamic_cast<wx::StretchedPicture*>(w))
            c.spec.kind = ControlKind::kStretchedPicture;
          else if (dynamic_cast<wx::PictureButton*>(w))
            c.spec.kind = ControlKind::kPictureButton;
          else if (dynamic_cast<wxStaticBitmap*>(w))
            c.spec.kind = ControlKind::kPicture;
          else
            c.spec.kind = ControlKind::kLabel;
          c.tooltip = std::string(w->GetToolTipText().utf8_str());
          const wxPoint on_screen = w->GetScreenPosition();
          c.screen_x = on_screen.x;
          c.screen_y = on_screen.y;
          controls.push_back(std::move(c));
        }
        if (auto* window = dynamic_cast<wx::MainWindow*>(frame)) {
          for (const ControlSpec& f : window->GroupFrames()) {
            LiveControl c;
            c.spec = f;
            const wxPoint on_screen = panel->ClientToScreen(wxPoint(f.x, f.y));
            c.screen_x = on_screen.x;
            c.screen_y = on_screen.y;
            controls.push_back(std::move(c));
          }
        }
        return controls;
      },
      {});
}

bool LiveMenuChecked(int item_id) {
  return wx::Ask<bool>(
      [item_id] {
        wxMenuBar* bar = wx::MainFrame() ? wx::MainFrame()->GetMenuBar() : nullptr;
        wxMenuItem* item = bar != nullptr ? bar->FindItem(item_id) : nullptr;
        return item != nullptr && item->IsCheckable() && item->IsChecked();
      },
      false);
}

bool RunMainWindow(const MainWindowSpec& spec) {
  if (!wx::EnsureWx()) return false;
  auto ui = std::make_unique<wx::WxUi>();
  wx::WxUi& ui_ref = *ui;
  auto* frame = new wx::MainWindow(spec, ui_ref);
  wx::MainFrame() = frame;
  wxTheApp->SetTopWindow(frame);
  wx::GuiAlive() = true;
  InstallUi(std::move(ui));
  frame->Show();
  if (spec.on_created) frame->WhenFirstShown(spec.on_created);
  wxTheApp->OnRun();
  wx::GuiAlive() = false;
  wx::MainFrame() = nullptr;
  InstallUi(std::make_unique<HeadlessUi>());
  wx::StopWx();
  return true;
}

}  // namespace zqr::platform
