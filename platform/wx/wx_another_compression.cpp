// The another-compression window: a new output name, a compression value and a resize
// mode for one more export of the same recording. The core decides what each click does.
#include "platform/wx/wx_common.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

bool RunAnotherCompressionWindow(AnotherCompressionModel& model,
                                 const AnotherCompressionEvents& events) {
  wxDialog d(MainFrame(), wxID_ANY, "Save a VIDEO with another compression", wxDefaultPosition,
             wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  d.SetIcon(ResourceIcon("VIDEO"));
  d.SetClientSize(480, 112);
  d.SetBackgroundColour(wxColour(88, 88, 88));
  d.SetForegroundColour(*wxRED);
  const wxColour grey(0x80, 0x80, 0x80);
  auto caption = [&](int id, const char* text, int x, int y, int w, int h) {
    auto* label = new wxStaticText(&d, id, text, wxPoint(x, y), wxSize(w, h), wxST_NO_AUTORESIZE);
    label->SetBackgroundColour(grey);
    label->SetForegroundColour(*wxWHITE);
  };
  auto* select = new wxButton(&d, 100, "  Select file path", wxPoint(5, 5), wxSize(110, 16),
                              wxBORDER_NONE | wxBU_EXACTFIT);
  select->SetBackgroundColour(grey);
  select->SetForegroundColour(*wxWHITE);
  auto* edit = new wxTextCtrl(&d, 101, Utf8(model.path_text), wxPoint(5, 23), wxSize(470, 17),
                              wxBORDER_SIMPLE);
  edit->SetForegroundColour(*wxBLUE);
  caption(102, "  Select Compression", 5, 45, 110, 16);
  wxArrayString quality;
  quality.Add("Default Quality");
  quality.Add("1:Best Quality");
  for (int v = 2; v <= 20; ++v) quality.Add(wxString::Format("%d:", v));
  quality.Add("21:Lower Quality");
  auto* list = new wxChoice(&d, 213, wxPoint(5, 64), wxSize(110, -1), quality);
  list->SetSelection(model.compression_index);
  caption(103, "  Resize output VIDEO", 118, 45, 110, 16);
  wxArrayString sizes;
  for (const char* s :
       {"Natural size", "Resize 90%", "Resize 80%", "Resize 70%", "Resize 60%", "Resize 50%"}) {
    sizes.Add(s);
  }
  auto* resize = new wxChoice(&d, 870, wxPoint(118, 64), wxSize(110, -1), sizes);
  resize->SetSelection(model.resize_index);
  new wxButton(&d, 2002, "Save VIDEO", wxPoint(260, 80), wxSize(100, 25), wxBORDER_NONE);
  new wxButton(&d, 2004, "Exit/Cancel", wxPoint(368, 80), wxSize(100, 25), wxBORDER_NONE);

  select->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    if (!events.select_path) return;
    std::string shown = events.select_path(std::string(edit->GetValue().utf8_str()));
    edit->SetValue(Utf8(shown));
  });
  list->Bind(wxEVT_CHOICE, [&](wxCommandEvent& e) {
    if (events.compression_selected) events.compression_selected(e.GetSelection());
  });
  resize->Bind(wxEVT_CHOICE, [&](wxCommandEvent& e) {
    if (events.resize_selected) events.resize_selected(e.GetSelection());
  });
  d.Bind(
      wxEVT_BUTTON, [&](wxCommandEvent&) { d.EndModal(wxID_OK); }, 2002);
  d.Bind(
      wxEVT_BUTTON, [&](wxCommandEvent&) { d.EndModal(wxID_CANCEL); }, 2004);
  d.CentreOnParent();
  const bool saved = d.ShowModal() == wxID_OK;
  if (saved) model.path_text = std::string(edit->GetValue().utf8_str());
  return saved;
}

}  // namespace zqr::platform::wx
