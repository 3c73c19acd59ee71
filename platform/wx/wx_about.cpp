// The About window: the program's name and build, the picture, the rights line and the
// two links. Its content is drawn in one piece, so every text shows at the place the
// layout gives it whatever the theme's label sizes; the links are areas that take the
// hand cursor and open their address when clicked.
#include <algorithm>

#include "platform/process.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "platform/wx/wx_common.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

namespace {

struct Link {
  int id;
  wxRect area;
  std::string text;
  std::string target;
};

// The desktop's opener may wait for the browser or mail program it starts, so it runs on
// a thread of its own; when it fails (no such program), the user is told rather than left
// clicking a link that does nothing.
void OpenLink(const std::string& target) {
  const bool started = StartDetachedThread([target] {
    if (OpenWithDesktop(target)) return;
    Post([target] {
      wxWindow* owner = wxGetActiveWindow() ? wxGetActiveWindow() : MainFrame();
      ShowMessageBox(owner,
                     "This link could not be opened:\n" + target +
                         "\nNo program to open it was found (" + kDesktopOpenerName + " failed).",
                     "About", kMbIconWarning);
    });
  });
  if (!started) wxLaunchDefaultBrowser(Utf8(target));
}

class AboutPanel : public wxPanel {
 public:
  AboutPanel(wxDialog* dialog, const AboutTexts& texts)
      : wxPanel(dialog, wxID_ANY, wxPoint(0, 0), dialog->GetClientSize()), texts_(texts) {
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    auto rect = [dialog](int x, int y, int w, int h) {
      return wxRect(dialog->ConvertDialogToPixels(wxPoint(x, y)),
                    dialog->ConvertDialogToPixels(wxSize(w, h)));
    };
    title_ = rect(35, 5, 160, 30);
    line_ = rect(10, 35, 190, 2);
    build_ = rect(130, 38, 70, 10);
    rights_ = rect(106, 48, 98, 28);
    icon_at_ = rect(10, 5, 0, 0).GetPosition();
    picture_at_ = rect(5, 40, 0, 0).GetPosition();
    links_ = {{2004, rect(70, 169, 141, 11), texts.web_address, texts.web_address},
              {2002, rect(0, 169, 70, 11), "E-mail", "mailto:" + texts.mail_address}};
    Bind(wxEVT_PAINT, &AboutPanel::OnPaint, this);
    Bind(wxEVT_MOTION, [this](wxMouseEvent& e) {
      SetCursor(LinkAt(e.GetPosition()) ? HandCursor() : wxNullCursor);
    });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent& e) {
      if (const Link* link = LinkAt(e.GetPosition())) OpenLink(link->target);
    });
  }

 private:
  const Link* LinkAt(wxPoint at) const {
    for (const Link& link : links_) {
      if (link.area.Contains(at)) return &link;
    }
    return nullptr;
  }

  void OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.SetBackground(wxBrush(GetBackgroundColour()));
    dc.Clear();
    dc.SetFont(GetFont());
    dc.SetTextForeground(GetForegroundColour());
    dc.DrawBitmap(ResourceBitmap("VIDEO", wxSize(32, 32)), icon_at_, true);
    dc.DrawLabel(Utf8(texts_.program_name + "\n" + texts_.maker_line), title_,
                 wxALIGN_CENTRE_HORIZONTAL | wxALIGN_TOP);
    dc.SetPen(wxPen(wxColour(160, 160, 160)));
    dc.DrawLine(line_.GetLeft(), line_.GetTop(), line_.GetRight(), line_.GetTop());
    dc.DrawBitmap(ResourceBitmap("patent", wxSize(244, 212)), picture_at_);
    dc.DrawLabel(Utf8(texts_.build_text), build_, wxALIGN_LEFT | wxALIGN_TOP);
    // The rights line stands beside the picture, wrapped to the room right of it.
    wxRect rights = rights_;
    const int picture_right = picture_at_.x + 244 + 6;
    if (rights.x < picture_right) {
      rights.x = picture_right;
      rights.width = std::max(60, GetClientSize().x - picture_right - 6);
      rights.height = GetClientSize().y - rights.y;
    }
    dc.DrawLabel(Wrapped(dc, texts_.rights_line, rights.width), rights, wxALIGN_LEFT | wxALIGN_TOP);
    for (const Link& link : links_) {
      dc.SetPen(wxPen(wxColour(128, 128, 128)));
      dc.SetBrush(*wxTRANSPARENT_BRUSH);
      dc.DrawRectangle(link.area);
      dc.SetTextForeground(*wxBLUE);
      dc.DrawLabel(Utf8(link.text), link.area, wxALIGN_CENTRE);
    }
  }

  static wxString Wrapped(wxDC& dc, const std::string& text, int width) {
    wxString out, line;
    for (const wxString& word : wxSplit(Utf8(text), ' ')) {
      const wxString candidate = line.empty() ? word : line + " " + word;
      if (!line.empty() && dc.GetTextExtent(candidate).x > width) {
        out += line + "\n";
        line = word;
      } else {
        line = candidate;
      }
    }
    return out + line;
  }

  AboutTexts texts_;
  wxRect title_, line_, build_, rights_;
  wxPoint icon_at_, picture_at_;
  std::vector<Link> links_;
};

}  // namespace

void ShowAboutWindow() {
  wxDialog dialog(MainFrame(), wxID_ANY, "About", wxDefaultPosition, wxDefaultSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  dialog.SetIcon(ResourceIcon("VIDEO"));
  dialog.SetClientSize(dialog.ConvertDialogToPixels(wxSize(210, 220)));
  auto* panel = new AboutPanel(&dialog, CurrentAboutTexts());
  // A Close button at the bottom right, below the links; it takes Escape and Enter too.
  const wxSize client = dialog.GetClientSize();
  const wxSize button = dialog.ConvertDialogToPixels(wxSize(50, 14));
  auto* close =
      new wxButton(panel, wxID_CANCEL, "Close",
                   wxPoint(client.x - button.x - dialog.ConvertDialogToPixels(wxSize(6, 0)).x,
                           client.y - button.y - dialog.ConvertDialogToPixels(wxSize(0, 6)).y),
                   button);
  close->SetDefault();
  close->SetFocus();
  dialog.SetEscapeId(wxID_CANCEL);
  dialog.Bind(wxEVT_CHAR_HOOK, [&dialog](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_ESCAPE) {
      dialog.EndModal(wxID_CANCEL);
    } else {
      e.Skip();
    }
  });
  dialog.CentreOnParent();
  dialog.ShowModal();
}

}  // namespace zqr::platform::wx
