// Starting and ending wx, the embedded pictures, the fitted font and the hand-over of
// work between threads.
#include <wx/mstream.h>

#include <cstdlib>

#include "platform/ui.h"
#include "platform/wx/wx_common.h"
#include "resources/resources.h"

namespace zqr::platform::wx {

namespace {
class App : public wxApp {
 public:
  bool OnInit() override { return true; }
};
bool started = false;
}  // namespace

std::atomic<bool>& GuiAlive() {
  static std::atomic<bool> alive{false};
  return alive;
}

wxFrame*& MainFrame() {
  static wxFrame* frame = nullptr;
  return frame;
}

bool EnsureWx() {
  if (started) return true;
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
  wxImage::AddHandler(new wxPNGHandler);
  // The menu texts carry their keys in the program's own words ("Ctrl + L"), which wx
  // cannot parse and would report on every start.
  wxLog::SetLogLevel(wxLOG_Warning);
  started = true;
  return true;
}

void StopWx() {
  if (!started) return;
  wxEntryCleanup();
  started = false;
}

const wxCursor& HandCursor() {
  static const wxCursor cursor = [] {
    std::span<const uint8_t> bytes = resources::Find("autor");
    if (bytes.empty()) return wxCursor(wxCURSOR_HAND);
    wxMemoryInputStream stream(bytes.data(), bytes.size());
    wxImage image(stream, wxBITMAP_TYPE_PNG);
    if (!image.IsOk()) return wxCursor(wxCURSOR_HAND);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_X, 12);
    image.SetOption(wxIMAGE_OPTION_CUR_HOTSPOT_Y, 1);
    return wxCursor(image);
  }();
  return cursor;
}

wxBitmap ResourceBitmap(const std::string& name, wxSize fallback) {
  std::span<const uint8_t> bytes = resources::Find(name);
  if (!bytes.empty()) {
    wxMemoryInputStream stream(bytes.data(), bytes.size());
    wxImage image(stream, wxBITMAP_TYPE_PNG);
    if (image.IsOk()) return wxBitmap(image);
  }
  wxBitmap placeholder(fallback);
  wxMemoryDC dc(placeholder);
  dc.SetBackground(wxBrush(wxColour(100, 100, 100)));
  dc.Clear();
  return placeholder;
}

wxIcon ResourceIcon(const std::string& name) {
  wxIcon icon;
  icon.CopyFromBitmap(ResourceBitmap(name, wxSize(32, 32)));
  return icon;
}

wxFont WindowFont(const std::vector<FittedText>& texts) {
  wxFont font;
  for (int pixels = 13; pixels >= 8; --pixels) {
    font = wxFont(wxFontInfo(wxSize(0, pixels)).FaceName("DejaVu Sans Condensed"));
    if (!font.IsOk()) font = wxFont(wxFontInfo(wxSize(0, pixels)).Family(wxFONTFAMILY_SWISS));
    wxScreenDC dc;
    dc.SetFont(font);
    bool fits = true;
    for (const FittedText& t : texts) {
      if (dc.GetTextExtent(Utf8(t.text)).GetWidth() > t.width) {
        fits = false;
        break;
      }
    }
    if (fits) break;
  }
  return font;
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

void Post(std::function<void()> work) {
  if (!GuiAlive() || wxTheApp == nullptr) return;
  wxTheApp->CallAfter([work = std::move(work)] {
    if (GuiAlive()) work();
  });
}

}  // namespace zqr::platform::wx
