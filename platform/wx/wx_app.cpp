// Starting and ending wx, the embedded pictures, the fitted font and the hand-over of
// work between threads.
#include <wx/mstream.h>

#include <cstdlib>

#include "platform/system.h"
#include "platform/ui.h"
#include "platform/wx/wx_common.h"
// After wx.h, which it needs.
#include <wx/generic/msgdlgg.h>
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
  if (!DesktopSessionPresent()) return false;
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

wxWindow* QuestionOwner() {
  wxWindow* front = wxGetActiveWindow();
  if (front != nullptr) front = wxGetTopLevelParent(front);
  if (front == nullptr || front->IsBeingDeleted() || !front->IsShown() ||
      (wxTheApp != nullptr && wxTheApp->IsScheduledForDestruction(front))) {
    return MainFrame();
  }
  return front;
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

wxFont WindowFont(const std::vector<FittedText>& texts, double largest_points) {
  // Quarter points: whole points jump by a pixel and more at these sizes, and the text
  // would come out a size smaller than the rectangles allow.
  constexpr double kSmallest = 6.0;
  wxFont font;
  for (double points = largest_points; points >= kSmallest; points -= 0.25) {
    font = wxFont(wxFontInfo(points).FaceName("DejaVu Sans Condensed"));
    if (!font.IsOk()) font = wxFont(wxFontInfo(points).Family(wxFONTFAMILY_SWISS));
    wxScreenDC dc;
    dc.SetFont(font);
    bool fits = true;
    for (const FittedText& t : texts) {
      const wxSize extent = dc.GetTextExtent(Utf8(t.text));
      if (extent.GetWidth() > t.width || (t.height > 0 && extent.GetHeight() > t.height)) {
        fits = false;
        break;
      }
    }
    if (fits) break;
  }
  return font;
}

FittedText RoomFor(const ControlSpec& c) {
  // A sunken edge takes two pixels a side, the other borders one.
  int edge = 0;
  if (c.style & kStyleSunken) edge = 2;
  if (c.style & (kStyleStaticEdge | kStyleClientEdge | kStyleBorder)) edge = 1;
  FittedText room{c.text, c.width - 2 * edge, c.height - 2 * edge};
  switch (c.kind) {
    case ControlKind::kCheckBox:
      room.width -= 22;  // the box and its gap
      break;
    case ControlKind::kPushButton:
      // A flat button's text may reach its edges; a raised one keeps off its frame.
      if (!(c.style & kStyleFlat)) room.width -= 8;
      room.height = 0;
      break;
    case ControlKind::kGroupFrame:
      room.width -= 20;  // the frame's line before and after the caption
      room.height = 0;
      break;
    default:
      break;
  }
  return room;
}

namespace {

// About the width of a message box whose lines are sentences.
constexpr size_t kMessageColumns = 72;

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
      flags |= wxICON_NONE;
      break;
  }
  return flags;
}

}  // namespace

int ShowMessageBox(wxWindow* owner, const std::string& text, const std::string& caption,
                   int style) {
  // GTK's own message dialog shows no icon any more; wx's generic one shows the theme's.
  // It does not wrap: a long name would stretch it past the screen.
  const wxString message = Utf8(WrapLongLines(text, kMessageColumns));
  wxGenericMessageDialog dialog(owner, message, Utf8(caption), MessageStyleToWx(style));
  switch (dialog.ShowModal()) {
    case wxID_YES:
      return kIdYes;
    case wxID_NO:
      return kIdNo;
    case wxID_CANCEL:
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
