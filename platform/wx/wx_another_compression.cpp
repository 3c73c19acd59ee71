// The another-compression window: a new output name, a compression value and a resize
// mode for one more export of the same recording. The core decides what each click does.
// Its controls are described as rows, like the main window's, so that its captions get the
// font that fits them and its lists are the backend's own black lists.
#include "platform/wx/wx_common.h"
#include "platform/wx/wx_controls.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

namespace {

ControlSpec Row(int id, ControlKind kind, const char* text, int x, int y, int w, int h, Rgb fg,
                Rgb bg, uint32_t style = 0) {
  ControlSpec c;
  c.id = id;
  c.kind = kind;
  c.text = text;
  c.x = x;
  c.y = y;
  c.width = w;
  c.height = h;
  c.foreground = fg;
  c.background = bg;
  c.style = style;
  return c;
}

// A flat button whose colours GTK's theme leaves alone: drawn here, lighter while the
// pointer is over it.
class FlatButton : public wxControl {
 public:
  FlatButton(wxWindow* parent, const ControlSpec& c)
      : wxControl(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, c.height), wxBORDER_NONE) {
    SetLabel(Utf8(c.text));
    SetForegroundColour(ToWx(c.foreground));
    SetBackgroundColour(ToWx(c.background));
    SetBackgroundStyle(wxBG_STYLE_PAINT);
    centred_ = (c.style & kStyleCentred) != 0;
    Bind(wxEVT_PAINT, &FlatButton::OnPaint, this);
    Bind(wxEVT_ENTER_WINDOW, [this](wxMouseEvent&) { SetHot(true); });
    Bind(wxEVT_LEAVE_WINDOW, [this](wxMouseEvent&) { SetHot(false); });
    Bind(wxEVT_LEFT_UP, [this](wxMouseEvent&) { Click(); });
    Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
      if (e.GetKeyCode() == WXK_SPACE || e.GetKeyCode() == WXK_RETURN) {
        Click();
      } else {
        e.Skip();
      }
    });
  }
  bool AcceptsFocus() const override { return true; }

 private:
  void SetHot(bool hot) {
    hot_ = hot;
    Refresh();
  }
  void Click() {
    wxCommandEvent clicked(wxEVT_BUTTON, GetId());
    clicked.SetEventObject(this);
    ProcessWindowEvent(clicked);
  }
  void OnPaint(wxPaintEvent&) {
    wxPaintDC dc(this);
    const wxSize size = GetClientSize();
    const wxColour face = GetBackgroundColour().ChangeLightness(hot_ ? 115 : 100);
    dc.SetBackground(wxBrush(face));
    dc.Clear();
    dc.SetPen(wxPen(face.ChangeLightness(HasFocus() ? 150 : 70)));
    dc.SetBrush(*wxTRANSPARENT_BRUSH);
    dc.DrawRectangle(0, 0, size.x, size.y);
    dc.SetFont(GetFont());
    dc.SetTextForeground(GetForegroundColour());
    dc.DrawLabel(GetLabel(), wxRect(2, 0, size.x - 4, size.y),
                 (centred_ ? wxALIGN_CENTRE_HORIZONTAL : wxALIGN_LEFT) | wxALIGN_CENTRE_VERTICAL);
  }
  bool centred_ = false;
  bool hot_ = false;
};

}  // namespace

bool RunAnotherCompressionWindow(AnotherCompressionModel& model,
                                 const AnotherCompressionEvents& events) {
  wxDialog d(MainFrame(), wxID_ANY, "Save a VIDEO with another compression", wxDefaultPosition,
             wxDefaultSize, wxCAPTION | wxSYSTEM_MENU | wxCLOSE_BOX);
  d.SetIcon(ResourceIcon("VIDEO"));
  d.SetClientSize(480, 112);
  d.SetBackgroundColour(wxColour(88, 88, 88));
  d.SetForegroundColour(*wxRED);
  const Rgb white{255, 255, 255};
  const Rgb black{0, 0, 0};
  const Rgb grey = Grey(0x80);
  using K = ControlKind;
  const ControlSpec select =
      Row(100, K::kPushButton, "  Select file path", 5, 5, 110, 16, white, grey, kStyleFlat);
  const ControlSpec compression_caption =
      Row(102, K::kLabel, "  Select Compression", 5, 45, 110, 16, white, grey);
  const ControlSpec resize_caption =
      Row(103, K::kLabel, "  Resize output VIDEO", 118, 45, 110, 16, white, grey);
  // The two actions stand out from the window's grey as buttons that can be pressed.
  const ControlSpec save = Row(2002, K::kPushButton, "Save VIDEO", 260, 80, 100, 25, black,
                               Grey(192), kStyleFlat | kStyleCentred);
  const ControlSpec cancel = Row(2004, K::kPushButton, "Exit/Cancel", 368, 80, 100, 25, black,
                                 Grey(192), kStyleFlat | kStyleCentred);
  d.SetFont(WindowFont({RoomFor(select), RoomFor(compression_caption), RoomFor(resize_caption),
                        RoomFor(save), RoomFor(cancel)}));

  auto* select_button = new FlatButton(&d, select);
  auto* edit = new wxTextCtrl(&d, 101, Utf8(model.path_text), wxPoint(5, 23), wxSize(470, 17),
                              wxBORDER_SIMPLE);
  edit->SetForegroundColour(*wxBLUE);
  edit->SetBackgroundColour(*wxWHITE);
  for (const ControlSpec* c : {&compression_caption, &resize_caption}) {
    auto* label = new wxStaticText(&d, c->id, Utf8(c->text), wxPoint(c->x, c->y),
                                   wxSize(c->width, c->height), wxST_NO_AUTORESIZE);
    label->SetBackgroundColour(ToWx(c->background));
    label->SetForegroundColour(ToWx(c->foreground));
  }

  ControlSpec quality = Row(213, K::kDropDown, "", 5, 64, 110, 90, white, black);
  quality.items = {"Default Quality", "1:Best Quality"};
  for (int v = 2; v <= 20; ++v) quality.items.push_back(std::to_string(v) + ":");
  quality.items.push_back("21:Lower Quality");
  quality.value = model.compression_index;
  ControlSpec sizes = Row(870, K::kDropDown, "", 118, 64, 110, 90, white, black);
  sizes.items = {"Natural size", "Resize 90%", "Resize 80%",
                 "Resize 70%",   "Resize 60%", "Resize 50%"};
  sizes.value = model.resize_index;
  for (const ControlSpec* c : {&quality, &sizes}) {
    auto* list = new SmallList(&d, *c, [&events, id = c->id](int index, const std::string&) {
      if (id == 213 && events.compression_selected) events.compression_selected(index);
      if (id == 870 && events.resize_selected) events.resize_selected(index);
    });
    list->SetForegroundColour(ToWx(c->foreground));
    list->SetBackgroundColour(ToWx(c->background));
  }
  new FlatButton(&d, save);
  new FlatButton(&d, cancel);

  select_button->Bind(wxEVT_BUTTON, [&](wxCommandEvent&) {
    if (!events.select_path) return;
    std::string shown = events.select_path(std::string(edit->GetValue().utf8_str()));
    edit->SetValue(Utf8(shown));
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
