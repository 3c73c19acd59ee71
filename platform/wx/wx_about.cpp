// The About window: the program's name and build, the picture, and the two links.
#include <wx/statline.h>

#include "platform/wx/wx_common.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

wxStaticText* MakeLink(wxWindow* parent, int id, const std::string& text, const std::string& target,
                       wxPoint at, wxSize size, long style);

void ShowAboutWindow() {
  const AboutTexts& texts = CurrentAboutTexts();
  wxDialog dialog(MainFrame(), wxID_ANY, "About", wxDefaultPosition, wxDefaultSize,
                  wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  dialog.SetIcon(ResourceIcon("VIDEO"));
  dialog.SetClientSize(dialog.ConvertDialogToPixels(wxSize(210, 220)));
  auto at = [&](int x, int y) { return dialog.ConvertDialogToPixels(wxPoint(x, y)); };
  auto size = [&](int w, int h) { return dialog.ConvertDialogToPixels(wxSize(w, h)); };
  new wxStaticBitmap(&dialog, wxID_ANY, ResourceBitmap("VIDEO", wxSize(32, 32)), at(10, 5));
  new wxStaticText(&dialog, 2001, Utf8(texts.program_name + "\n" + texts.maker_line), at(35, 5),
                   size(160, 30), wxALIGN_CENTRE_HORIZONTAL | wxST_NO_AUTORESIZE);
  new wxStaticBitmap(&dialog, wxID_ANY, ResourceBitmap("patent", wxSize(244, 212)), at(5, 40));
  new wxStaticLine(&dialog, wxID_ANY, at(10, 35), size(190, 2));
  new wxStaticText(&dialog, 101, Utf8(texts.build_text), at(130, 38), size(70, 10),
                   wxST_NO_AUTORESIZE);
  MakeLink(&dialog, 2004, texts.web_address, texts.web_address, at(70, 169), size(141, 11),
           wxBORDER_SUNKEN | wxALIGN_CENTRE_HORIZONTAL);
  MakeLink(&dialog, 2002, "E-mail", "mailto:" + texts.mail_address, at(0, 169), size(70, 11),
           wxBORDER_SUNKEN | wxALIGN_CENTRE_HORIZONTAL);
  new wxStaticText(&dialog, 2005, Utf8(texts.rights_line), at(106, 48), size(98, 28),
                   wxST_NO_AUTORESIZE);
  dialog.CentreOnParent();
  dialog.ShowModal();
}

}  // namespace zqr::platform::wx
