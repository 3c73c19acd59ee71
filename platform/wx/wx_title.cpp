// The title window shown once before anything else, and the About texts it shares with
// the About window.
#include "platform/wx/wx_common.h"
// After wx.h, which it needs.
#include <wx/generic/stattextg.h>

#include <algorithm>

#include "platform/wx/wx_windows.h"

namespace zqr::platform {

namespace wx {
namespace {
AboutTexts about_texts;
}  // namespace

const AboutTexts& CurrentAboutTexts() {
  return about_texts;
}

// A label that opens an address when clicked, with the hand cursor over it. It is drawn
// by wx in a window of its own: GTK's label has none, and a cursor given to it would go
// to the whole dialog.
wxGenericStaticText* MakeLink(wxWindow* parent, int id, const std::string& text,
                              const std::string& target, wxPoint at, wxSize size, long style) {
  auto* link =
      new wxGenericStaticText(parent, id, Utf8(text), at, size, style | wxST_NO_AUTORESIZE);
  link->SetForegroundColour(*wxBLUE);
  link->SetBackgroundColour(parent->GetBackgroundColour());
  link->SetCursor(HandCursor());
  link->Bind(wxEVT_LEFT_UP, [target](wxMouseEvent&) { wxLaunchDefaultBrowser(Utf8(target)); });
  return link;
}

}  // namespace wx

void SetAboutTexts(const AboutTexts& texts) {
  wx::about_texts = texts;
}

void ShowTitleWindow(const AboutTexts& texts) {
  if (!wx::EnsureWx()) return;
  wx::about_texts = texts;
  wxDialog dialog(nullptr, wxID_ANY, wx::Utf8(texts.program_name), wxDefaultPosition, wxDefaultSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  dialog.SetIcon(wx::ResourceIcon("VIDEO"));
  dialog.SetBackgroundColour(*wxWHITE);
  dialog.SetClientSize(dialog.ConvertDialogToPixels(wxSize(437, 120)));
  // The title font, 12 points unless the caption would then run under the link beside it.
  wxFont title_font(wxFontInfo(12).FaceName("DejaVu Serif").Bold().Italic());
  {
    wxClientDC dc(&dialog);
    const int room = dialog.ConvertDialogToPixels(wxSize(138 - 15 - 2, 0)).x;
    for (int points = 12; points > 7; --points) {
      title_font = wxFont(wxFontInfo(points).FaceName("DejaVu Serif").Bold().Italic());
      dc.SetFont(title_font);
      if (dc.GetTextExtent("See a more of free Apps at:").x <= room) break;
    }
  }
  auto at = [&](int x, int y) { return dialog.ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [&](int w, int h) { return dialog.ConvertDialogToPixels(wxSize(w, h)); };
  const wxBitmap picture = wx::ResourceBitmap("TITLE", wxSize(640, 154));
  auto* shown = new wxStaticBitmap(&dialog, wxID_ANY, picture, at(5, 5));
  // The picture has a size in pixels, the rest in dialog units: with a small dialog font
  // (Windows' own) the row below would run into the picture, so it starts below it.
  const int row = std::max(at(0, 102).y, at(0, 5).y + picture.GetHeight() + size(0, 3).y);
  const int client_height = std::max(size(0, 120).y, row + size(0, 18).y);
  dialog.SetClientSize(std::max(size(437, 0).x, at(5, 0).x * 2 + picture.GetWidth()),
                       client_height);
  // Drawn by wx itself: GTK's label would wrap the caption at its creation width.
  auto* more = new wxGenericStaticText(&dialog, 2001,
                                       "See a more of free Apps at:", wxPoint(at(15, 0).x, row));
  more->SetFont(title_font);
  more->SetBackgroundColour(*wxWHITE);
  {
    wxClientDC dc(&dialog);
    dc.SetFont(title_font);
    more->SetSize(dc.GetTextExtent(more->GetLabel()) + wxSize(4, 4));
  }
  wx::MakeLink(&dialog, 2000, texts.web_address, texts.web_address, wxPoint(at(138, 0).x, row),
               size(200, 12), 0)
      ->SetFont(title_font);
  auto* start = new wxButton(&dialog, 2005, "Start", wxPoint(at(360, 0).x, row), size(70, 14));
  start->SetFont(title_font);
  start->SetCursor(wx::HandCursor());
  start->Bind(wxEVT_BUTTON, [&dialog](wxCommandEvent&) { dialog.EndModal(wxID_OK); });
  // A dialog with a single child stretches it over the whole client area when resized, as
  // it was by the first SetClientSize (MSW): the picture would then cover the row below.
  shown->SetSize(wxRect(at(5, 5), picture.GetSize()));
  // Whatever the fonts made of the row, it stays inside the window.
  int bottom = client_height;
  for (const wxWindow* child : dialog.GetChildren()) {
    bottom = std::max(bottom, child->GetRect().GetBottom() + 1 + size(0, 4).y);
  }
  dialog.SetClientSize(dialog.GetClientSize().x, bottom);
  dialog.CentreOnScreen();
  dialog.ShowModal();
}

}  // namespace zqr::platform
