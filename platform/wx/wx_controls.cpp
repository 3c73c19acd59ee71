// The backend's own slider and drop-down list. Both take the keyboard as well as the
// mouse, so every control stays usable without a pointer.
#include "platform/wx/wx_controls.h"

#include <algorithm>

namespace zqr::platform::wx {

SmallSlider::SmallSlider(wxWindow* parent, const ControlSpec& c, std::function<void(int)> moved)
    : wxControl(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, c.height), wxBORDER_NONE),
      minimum_(c.minimum),
      maximum_(std::max(c.minimum, c.maximum)),
      page_(std::max(1, c.page)),
      value_(std::clamp(c.value, c.minimum, std::max(c.minimum, c.maximum))),
      trough_background_(ToWx(c.background)),
      moved_(std::move(moved)) {
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &SmallSlider::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &SmallSlider::OnMouse, this);
  Bind(wxEVT_MOTION, &SmallSlider::OnMouse, this);
  Bind(wxEVT_LEFT_UP, &SmallSlider::OnMouse, this);
  Bind(wxEVT_MOUSEWHEEL,
       [this](wxMouseEvent& e) { MoveTo(value_ + (e.GetWheelRotation() > 0 ? 1 : -1)); });
  Bind(wxEVT_KEY_DOWN, &SmallSlider::OnKey, this);
  Bind(wxEVT_MOUSE_CAPTURE_LOST, [this](wxMouseCaptureLostEvent&) { HideValue(); });
  hide_timer_.SetOwner(this);
  Bind(wxEVT_TIMER, [this](wxTimerEvent&) { HideValue(); });
  Bind(wxEVT_KILL_FOCUS, [this](wxFocusEvent& e) {
    HideValue();
    e.Skip();
  });
}

void SmallSlider::ShowValue() {
  if (value_box_ == nullptr) {
    value_box_ = new wxPopupWindow(this, wxBORDER_SIMPLE);
    value_box_->SetBackgroundColour(wxColour(255, 255, 225));
    value_text_ = new wxStaticText(value_box_, wxID_ANY, wxString(), wxPoint(3, 1));
    value_text_->SetForegroundColour(*wxBLACK);
    value_text_->SetFont(GetParent()->GetFont());
  }
  value_text_->SetLabel(wxString::Format("%d", value_));
  const wxSize text = value_text_->GetBestSize();
  value_box_->SetClientSize(text.x + 6, text.y + 2);
  // Centred over the thumb, just above the slider.
  const int span = std::max(1, GetClientSize().x - 10);
  const int range = std::max(1, maximum_ - minimum_);
  const int thumb = 5 + (value_ - minimum_) * span / range;
  const wxSize box = value_box_->GetSize();
  value_box_->Position(ClientToScreen(wxPoint(thumb - box.x / 2, -box.y - 2)), wxSize(0, 0));
  if (!value_box_->IsShown()) value_box_->Show();
  value_box_->Refresh();
}

void SmallSlider::HideValue() {
  hide_timer_.Stop();
  if (value_box_ != nullptr && value_box_->IsShown()) value_box_->Hide();
}

void SmallSlider::SetValue(int value) {
  value_ = std::clamp(value, minimum_, maximum_);
  Refresh();
}

int SmallSlider::ValueAt(int x) const {
  const int span = std::max(1, GetClientSize().x - 10);
  const double share = std::clamp((x - 5) / static_cast<double>(span), 0.0, 1.0);
  return minimum_ + static_cast<int>(share * (maximum_ - minimum_) + 0.5);
}

void SmallSlider::MoveTo(int value) {
  value = std::clamp(value, minimum_, maximum_);
  if (value == value_) return;
  value_ = value;
  Refresh();
  Update();
  ShowValue();
  if (!HasCapture()) hide_timer_.StartOnce(1200);
  if (moved_) moved_(value_);
}

void SmallSlider::OnMouse(wxMouseEvent& e) {
  if (e.LeftDown()) {
    SetFocus();
    CaptureMouse();
    ShowValue();
  }
  if (e.LeftDown() || (e.Dragging() && HasCapture())) MoveTo(ValueAt(e.GetX()));
  if (e.LeftUp() && HasCapture()) {
    ReleaseMouse();
    HideValue();
  }
  e.Skip();
}

void SmallSlider::OnKey(wxKeyEvent& e) {
  switch (e.GetKeyCode()) {
    case WXK_LEFT:
    case WXK_DOWN:
      MoveTo(value_ - 1);
      break;
    case WXK_RIGHT:
    case WXK_UP:
      MoveTo(value_ + 1);
      break;
    case WXK_PAGEDOWN:
      MoveTo(value_ - page_);
      break;
    case WXK_PAGEUP:
      MoveTo(value_ + page_);
      break;
    case WXK_HOME:
      MoveTo(minimum_);
      break;
    case WXK_END:
      MoveTo(maximum_);
      break;
    default:
      e.Skip();
      break;
  }
}

void SmallSlider::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetBackground(wxBrush(trough_background_));
  dc.Clear();
  const int mid = size.y / 2;
  const int span = std::max(1, size.x - 10);
  const bool on = IsEnabled();
  dc.SetPen(wxPen(wxColour(40, 40, 40)));
  dc.SetBrush(wxBrush(wxColour(30, 30, 30)));
  dc.DrawRectangle(5, mid - 2, span, 4);
  const int range = std::max(1, maximum_ - minimum_);
  const int x = 5 + (value_ - minimum_) * span / range;
  dc.SetPen(wxPen(wxColour(20, 40, 70)));
  dc.SetBrush(wxBrush(on ? (HasFocus() ? wxColour(240, 138, 60) : wxColour(79, 127, 184))
                         : wxColour(150, 150, 150)));
  dc.DrawRoundedRectangle(x - 4, 1, 9, size.y - 2, 2);
}

SmallList::SmallList(wxWindow* parent, const ControlSpec& c,
                     std::function<void(int, std::string)> chosen)
    : wxControl(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, 18), wxBORDER_NONE),
      items_(c.items),
      selection_(c.value),
      chosen_(std::move(chosen)) {
  SetLabel(Utf8(GetText()));
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, &SmallList::OnPaint, this);
  Bind(wxEVT_LEFT_DOWN, &SmallList::OnClick, this);
  Bind(wxEVT_KEY_DOWN, [this](wxKeyEvent& e) {
    if (e.GetKeyCode() == WXK_SPACE || e.GetKeyCode() == WXK_RETURN || e.GetKeyCode() == WXK_DOWN) {
      wxMouseEvent click;
      OnClick(click);
    } else {
      e.Skip();
    }
  });
}

void SmallList::SetSelection(int index) {
  if (index < 0 || index >= static_cast<int>(items_.size())) return;
  selection_ = index;
  SetLabel(Utf8(GetText()));
  Refresh();
}

std::string SmallList::GetText() const {
  return selection_ >= 0 && selection_ < static_cast<int>(items_.size())
             ? items_[static_cast<size_t>(selection_)]
             : std::string();
}

void SmallList::OnPaint(wxPaintEvent&) {
  wxPaintDC dc(this);
  const wxSize size = GetClientSize();
  dc.SetBackground(wxBrush(GetBackgroundColour()));
  dc.Clear();
  dc.SetPen(wxPen(wxColour(60, 60, 60)));
  dc.SetBrush(*wxTRANSPARENT_BRUSH);
  dc.DrawRectangle(0, 0, size.x, size.y);
  dc.SetFont(GetFont());
  dc.SetTextForeground(IsEnabled() ? GetForegroundColour() : wxColour(160, 160, 160));
  dc.SetClippingRegion(2, 0, size.x - 13, size.y);
  const int text_height = dc.GetTextExtent("0").y;
  dc.DrawText(Utf8(GetText()), 3, (size.y - text_height) / 2);
  dc.DestroyClippingRegion();
  // The arrow: a small triangle at the right.
  dc.SetPen(*wxTRANSPARENT_PEN);
  dc.SetBrush(wxBrush(GetForegroundColour()));
  const wxPoint arrow[3] = {
      {size.x - 10, size.y / 2 - 2}, {size.x - 3, size.y / 2 - 2}, {size.x - 7, size.y / 2 + 2}};
  dc.DrawPolygon(3, arrow);
}

void SmallList::OnClick(wxMouseEvent&) {
  wxMenu menu;
  for (size_t i = 0; i < items_.size(); ++i) {
    menu.AppendRadioItem(static_cast<int>(i) + 1, Utf8(items_[i]))
        ->Check(static_cast<int>(i) == selection_);
  }
  const int picked = GetPopupMenuSelectionFromUser(menu, wxPoint(0, GetClientSize().y));
  if (picked == wxID_NONE || picked < 1) return;
  SetSelection(picked - 1);
  if (chosen_) chosen_(selection_, GetText());
}

PictureButton::PictureButton(wxWindow* parent, const ControlSpec& c, std::function<void()> clicked)
    : wxControl(parent, c.id, wxPoint(c.x, c.y), wxSize(c.width, c.height), wxBORDER_NONE),
      bitmap_(ResourceBitmap(c.text, wxSize(c.width, c.height))) {
  SetSize(bitmap_.GetSize());
  SetBackgroundStyle(wxBG_STYLE_PAINT);
  Bind(wxEVT_PAINT, [this](wxPaintEvent&) {
    wxPaintDC dc(this);
    dc.DrawBitmap(IsEnabled() ? bitmap_ : bitmap_.ConvertToDisabled(), 0, 0);
  });
  Bind(wxEVT_LEFT_UP, [clicked = std::move(clicked)](wxMouseEvent& e) {
    if (clicked) clicked();
    e.Skip();
  });
}

void PictureButton::SetBitmap(const wxBitmap& bitmap) {
  bitmap_ = bitmap;
  Refresh();
}

bool PictureButton::Enable(bool enable) {
  const bool changed = wxControl::Enable(enable);
  if (changed) Refresh();
  return changed;
}

}  // namespace zqr::platform::wx
