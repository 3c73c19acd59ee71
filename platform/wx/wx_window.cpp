// The window backend on wxWidgets: the main window frame with its preview area, and a Ui
// implementation that marshals calls from worker threads onto the GUI thread and waits
// for them, as a window message sent from another thread would be.
#include <wx/wx.h>

#include <cstdlib>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/ui.h"
#include "platform/window.h"

namespace zqr::platform {

namespace {

constexpr int kPreviewId = 2007;
constexpr int kBuildLabelId = 701;

class App : public wxApp {
 public:
  bool OnInit() override { return true; }
};

bool& WxStarted() {
  static bool started = false;
  return started;
}

bool EnsureWx() {
  if (WxStarted()) return true;
  if (std::getenv("DISPLAY") == nullptr && std::getenv("WAYLAND_DISPLAY") == nullptr) {
    return false;
  }
  static int argc = 1;
  static char name[] = "zqrstereo";
  static char* argv[] = {name, nullptr};
  wxApp::SetInstance(new App);
  if (!wxEntryStart(argc, argv)) return false;
  if (!wxTheApp->CallOnInit()) {
    wxEntryCleanup();
    return false;
  }
  WxStarted() = true;
  return true;
}

long MessageStyleToWx(int style) {
  long flags = 0;
  switch (style & 0xF) {
    case kMbOkCancel:
      flags |= wxOK | wxCANCEL;
      break;
    case kMbYesNo:
      flags |= wxYES_NO;
      break;
    default:
      flags |= wxOK;
      break;
  }
  switch (style & 0xF0) {
    case kMbIconError:
      flags |= wxICON_ERROR;
      break;
    case kMbIconQuestion:
      flags |= wxICON_QUESTION;
      break;
    case kMbIconWarning:
      flags |= wxICON_WARNING;
      break;
    case kMbIconInformation:
      flags |= wxICON_INFORMATION;
      break;
    default:
      break;
  }
  return flags;
}

int WxAnswerToId(int answer) {
  switch (answer) {
    case wxYES:
      return kIdYes;
    case wxNO:
      return kIdNo;
    case wxCANCEL:
      return kIdCancel;
    default:
      return kIdOk;
  }
}

// The preview area: dark grey with "Main Window" until a picture is shown.
class PreviewPanel : public wxPanel {
 public:
  explicit PreviewPanel(wxWindow* parent)
      : wxPanel(parent, kPreviewId, wxPoint(5, 5), wxSize(600, 600), wxBORDER_STATIC) {
    SetBackgroundColour(wxColour(51, 51, 51));
    Bind(wxEVT_PAINT, &PreviewPanel::OnPaint, this);
  }

 private:
  void OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetBackground(wxBrush(wxColour(51, 51, 51)));
    dc.Clear();
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText("Main Window", 10, 10);
  }
};

class MainFrame : public wxFrame {
 public:
  explicit MainFrame(const MainWindowSpec& spec)
      : wxFrame(nullptr, wxID_ANY, spec.caption, wxDefaultPosition, wxDefaultSize,
                wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX) {
    SetClientSize(spec.client_width, spec.client_height);
    SetBackgroundColour(wxColour(135, 135, 135));
    new PreviewPanel(this);
    new wxStaticText(this, kBuildLabelId, spec.build_text, wxPoint(935, 40), wxSize(150, 20));
    Centre();
  }
};

class WxUi : public Ui {
 public:
  const char* Name() const override { return "wx"; }

  int ShowMessage(const std::string& text, const std::string& caption, int style) override {
    return OnGuiThread<int>([&] {
      return WxAnswerToId(wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(caption),
                                       MessageStyleToWx(style), wxTheApp->GetTopWindow()));
    });
  }

  void SetLabel(int control_id, const std::string& text) override {
    {
      std::lock_guard lock(mutex_);
      labels_[control_id] = text;
    }
    OnGuiThread<int>([&] {
      wxWindow* control = wxWindow::FindWindowById(control_id, wxTheApp->GetTopWindow());
      if (control != nullptr) control->SetLabel(wxString::FromUTF8(text));
      return 0;
    });
  }

  std::string GetLabel(int control_id) const override {
    std::lock_guard lock(mutex_);
    auto it = labels_.find(control_id);
    return it == labels_.end() ? std::string() : it->second;
  }

  void SetProgressRange(int, int32_t, int32_t) override {}
  void SetProgressPos(int control_id, int32_t pos) override {
    std::lock_guard lock(mutex_);
    progress_[control_id] = pos;
  }

  void PumpOrSleep(int milliseconds) override {
    if (wxThread::IsMain() && wxTheApp != nullptr && wxTheApp->Pending()) {
      wxTheApp->Dispatch();
      return;
    }
    if (wxThread::IsMain() && wxTheApp != nullptr) wxTheApp->ProcessPendingEvents();
    std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
  }

 private:
  // Runs `work` on the GUI thread and waits for its result.
  template <typename T, typename F>
  T OnGuiThread(F&& work) {
    if (wxThread::IsMain()) return work();
    auto task = std::make_shared<std::packaged_task<T()>>(std::forward<F>(work));
    std::future<T> result = task->get_future();
    wxTheApp->CallAfter([task] { (*task)(); });
    return result.get();
  }

  mutable std::mutex mutex_;
  std::map<int, std::string> labels_;
  std::map<int, int32_t> progress_;
};

}  // namespace

bool WindowBackendAvailable() {
  return EnsureWx();
}

bool DesktopSize(int* width, int* height) {
  if (!EnsureWx()) return false;
  wxDisplaySize(width, height);
  return true;
}

void ShowStartupMessage(const std::string& text, const std::string& caption, int style) {
  if (!EnsureWx()) return;
  wxMessageBox(wxString::FromUTF8(text), wxString::FromUTF8(caption), MessageStyleToWx(style));
}

bool RunMainWindow(const MainWindowSpec& spec) {
  if (!EnsureWx()) return false;
  auto* frame = new MainFrame(spec);
  wxTheApp->SetTopWindow(frame);
  InstallUi(std::make_unique<WxUi>());
  frame->Show();
  if (spec.on_created) spec.on_created();
  wxTheApp->OnRun();
  InstallUi(std::make_unique<HeadlessUi>());
  wxEntryCleanup();
  WxStarted() = false;
  return true;
}

}  // namespace zqr::platform
