// The export's progress window: the turning "load" picture, "Please wait...", five
// squares whose green rises in turn and the processing time. The core computes what it
// shows; this file only draws it.
//
// The window has a caption and nothing to close, shrink or enlarge it with. Window managers
// keep their buttons whatever a window asks for (openbox does), so the window goes without
// their frame and draws its own caption bar, by which it can still be moved.
#include <wx/statline.h>

#include "platform/wx/wx_common.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

namespace {
wxDialog* progress = nullptr;
wxStaticBitmap* picture = nullptr;
wxStaticText* squares[5] = {};
wxStaticText* elapsed = nullptr;
int shown_index = 0;

const wxColour kFace(0x77, 0x77, 0x77);
const wxColour kCaptionBar(51, 51, 51);

// The caption bar: the window's title, and a handle to drag the window by.
class CaptionBar : public wxPanel {
 public:
  CaptionBar(wxWindow* parent, const wxString& title, int width, int height)
      : wxPanel(parent, wxID_ANY, wxPoint(0, 0), wxSize(width, height), wxBORDER_NONE),
        title_(title) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
      wxPaintDC dc(this);
      dc.SetBackground(wxBrush(kCaptionBar));
      dc.Clear();
      dc.SetFont(GetFont().Bold());
      dc.SetTextForeground(*wxWHITE);
      dc.DrawLabel(title_, GetClientRect(), wxALIGN_CENTRE);
    });
    Bind(wxEVT_LEFT_DOWN, [this](wxMouseEvent& e) {
      grabbed_at_ = ClientToScreen(e.GetPosition()) - GetParent()->GetPosition();
      CaptureMouse();
    });
    Bind(wxEVT_MOTION, [this](wxMouseEvent& e) {
      if (HasCapture() && e.Dragging())
        GetParent()->Move(ClientToScreen(e.GetPosition()) - grabbed_at_);
    });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) {
      if (HasCapture()) ReleaseMouse();
    });
    Bind(wxEVT_MOUSE_CAPTURE_LOST, [](wxMouseCaptureLostEvent&) {});
  }

 private:
  wxString title_;
  wxPoint grabbed_at_;
};
}  // namespace

void CloseProgressWindow() {
  if (progress == nullptr) return;
  // wx deletes the window later; hidden now, it can no longer be the window in front.
  progress->Hide();
  progress->Destroy();
  progress = nullptr;
  picture = nullptr;
  elapsed = nullptr;
  for (wxStaticText*& square : squares) square = nullptr;
}

void ShowProgressWindow(bool visible) {
  if (!visible) {
    CloseProgressWindow();
    return;
  }
  if (progress != nullptr) return;
  progress = new wxDialog(MainFrame(), wxID_ANY, "Output Movie Compression", wxDefaultPosition,
                          wxDefaultSize, wxBORDER_NONE);
  wxDialog& d = *progress;
  d.SetBackgroundColour(kFace);
  // Without the window manager's frame, a line of its own keeps the window apart from what
  // lies behind it.
  d.Bind(wxEVT_PAINT, [&d](wxPaintEvent&) {
    wxPaintDC dc(&d);
    dc.SetPen(wxPen(kCaptionBar));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(d.GetClientRect());
  });
  // Alt+F4 and the like ask for a close the window does not offer.
  d.Bind(wxEVT_CLOSE_WINDOW, [](wxCloseEvent& e) {
    if (e.CanVeto()) e.Veto();
  });
  const wxSize body = d.ConvertDialogToPixels(wxSize(250, 52));
  const int caption = d.GetCharHeight() + 8;
  d.SetClientSize(body.x, caption + body.y);
  new CaptionBar(&d, d.GetTitle(), body.x, caption);
  auto at = [&](int x, int y) {
    return d.ConvertDialogToPixels(wxPoint(x, y)) + wxPoint(0, caption);
  };
  auto size = [&](int w, int h) { return d.ConvertDialogToPixels(wxSize(w, h)); };
  wxImage load = ResourceBitmap("load1", wxSize(100, 100)).ConvertToImage();
  wxSize box = size(26, 25);
  picture = new wxStaticBitmap(&d, 101, wxBitmap(load.Scale(box.y, box.y, wxIMAGE_QUALITY_HIGH)),
                               at(5, 5));
  shown_index = 1;
  auto* wait = new wxStaticText(&d, 207, "Please wait...", at(65, 5), size(150, 30),
                                wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  wait->SetFont(wxFont(wxFontInfo(20).FaceName("DejaVu Serif")));
  wait->SetForegroundColour(*wxWHITE);
  new wxStaticLine(&d, wxID_ANY, at(1, 34), size(248, 1));
  for (int i = 0; i < 5; ++i) {
    squares[i] = new wxStaticText(&d, 201 + i, "", at(5 + 12 * i, 40), size(8, 7), wxBORDER_SUNKEN);
    squares[i]->SetBackgroundColour(wxColour(20, 50, 195));
  }
  elapsed = new wxStaticText(&d, 320, "Processing time: 00:00:00", at(160, 40), size(90, 10),
                             wxST_NO_AUTORESIZE);
  d.CentreOnParent();
  d.Show();
}

void UpdateProgressWindow(const CompressionProgressView& view) {
  if (progress == nullptr) return;
  if (view.picture_index != shown_index) {
    shown_index = view.picture_index;
    wxImage load =
        ResourceBitmap("load" + std::to_string(shown_index), wxSize(100, 100)).ConvertToImage();
    const int side = picture->GetSize().y;
    picture->SetBitmap(wxBitmap(load.Scale(side, side, wxIMAGE_QUALITY_HIGH)));
  }
  for (int i = 0; i < 5; ++i) {
    squares[i]->SetBackgroundColour(wxColour(20, static_cast<unsigned char>(view.green[i]), 195));
    squares[i]->Refresh();
  }
  if (!view.elapsed_text.empty()) elapsed->SetLabel(Utf8(view.elapsed_text));
}

}  // namespace zqr::platform::wx
