// Controls drawn by the backend itself. GTK's own slider and list need more room than the
// window's pixel layout gives them: a slider that fits a 17-pixel row, and a drop-down
// list whose closed box shows its whole entry in a 40-pixel column. GTK's picture has no
// window of its own, so it never learns that the pointer is over it: the picture button
// has one, for its hover picture and its cursor.
#pragma once

#include <wx/popupwin.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/wx/wx_common.h"

namespace zqr::platform::wx {

class SmallSlider : public wxControl {
 public:
  SmallSlider(wxWindow* parent, const ControlSpec& c, std::function<void(int)> moved);
  int GetValue() const { return value_; }
  void SetValue(int value);

 private:
  void OnPaint(wxPaintEvent&);
  void OnMouse(wxMouseEvent& e);
  void OnKey(wxKeyEvent& e);
  void MoveTo(int value);
  int ValueAt(int x) const;
  // The value in a small box above the thumb, while the mouse drags it or shortly after a
  // key moved it: the slider has no room for a scale of its own.
  void ShowValue();
  void HideValue();
  int minimum_, maximum_, page_, value_;
  wxColour trough_background_;
  std::function<void(int)> moved_;
  wxPopupWindow* value_box_ = nullptr;
  wxStaticText* value_text_ = nullptr;
  wxTimer hide_timer_;
};

class SmallList : public wxControl {
 public:
  SmallList(wxWindow* parent, const ControlSpec& c, std::function<void(int, std::string)> chosen);
  int GetSelection() const { return selection_; }
  // Shows entry `index` without reporting a choice.
  void SetSelection(int index);
  std::string GetText() const;

 private:
  void OnPaint(wxPaintEvent&);
  void OnClick(wxMouseEvent&);
  std::vector<std::string> items_;
  int selection_;
  std::function<void(int, std::string)> chosen_;
};

class PictureButton : public wxControl {
 public:
  PictureButton(wxWindow* parent, const ControlSpec& c, std::function<void()> clicked);
  void SetBitmap(const wxBitmap& bitmap);
  // A disabled button shows its picture greyed.
  bool Enable(bool enable = true) override;

 private:
  wxBitmap bitmap_;
};

}  // namespace zqr::platform::wx
