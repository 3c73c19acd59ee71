// The "Output 360 stream" window: a grey area that only ever shows "Transform Window".
#include "platform/wx/wx_common.h"
#include "platform/wx/wx_windows.h"

namespace zqr::platform::wx {

namespace {
wxFrame* output_stream = nullptr;
}  // namespace

void OpenOutputStream() {
  if (output_stream != nullptr) output_stream->Destroy();
  output_stream = nullptr;
  if (MainFrame() == nullptr) return;
  wxPoint at = MainFrame()->ClientToScreen(wxPoint(5, 300));
  auto* frame = new wxFrame(
      MainFrame(), wxID_ANY, "Output 360 stream", at, wxDefaultSize,
      wxCAPTION | wxSYSTEM_MENU | wxMINIMIZE_BOX | wxCLOSE_BOX | wxFRAME_FLOAT_ON_PARENT);
  frame->SetIcon(ResourceIcon("VIDEO"));
  frame->SetClientSize(600, 200);
  auto* area = new wxPanel(frame, 100, wxPoint(0, 0), wxSize(600, 200));
  area->SetBackgroundStyle(wxBG_STYLE_PAINT);
  area->Bind(wxEVT_PAINT, [area](wxPaintEvent&) {
    wxPaintDC dc(area);
    dc.SetBackground(wxBrush(wxColour(51, 51, 51)));
    dc.Clear();
    dc.SetTextForeground(*wxWHITE);
    dc.DrawText("Transform Window", 10, 10);
  });
  frame->Bind(wxEVT_CLOSE_WINDOW, [frame](wxCloseEvent&) {
    if (output_stream == frame) output_stream = nullptr;
    frame->Destroy();
  });
  output_stream = frame;
  frame->Show();
}

void CloseProgressWindow();

void CloseSecondaryWindows() {
  if (output_stream != nullptr) output_stream->Destroy();
  output_stream = nullptr;
  CloseProgressWindow();
}

}  // namespace zqr::platform::wx
