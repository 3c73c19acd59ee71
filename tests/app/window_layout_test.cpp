// The main window's table read as a user reads the window: every text stands out from
// what lies behind it, and the controls a user may wonder about say what they do.
#include <gtest/gtest.h>

#include <cmath>

#include "app/window_layout.h"

namespace zqr {
namespace {

using platform::ControlKind;
using platform::Rgb;

// Relative luminance and contrast ratio as the readability guides define them.
double Luminance(Rgb c) {
  auto channel = [](uint8_t v) {
    const double s = v / 255.0;
    return s <= 0.03928 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
  };
  return 0.2126 * channel(c.r) + 0.7152 * channel(c.g) + 0.0722 * channel(c.b);
}
double Contrast(Rgb a, Rgb b) {
  const double la = Luminance(a), lb = Luminance(b);
  return (std::max(la, lb) + 0.05) / (std::min(la, lb) + 0.05);
}

bool Inside(const platform::ControlSpec& inner, const platform::ControlSpec& outer) {
  return inner.x >= outer.x && inner.y >= outer.y &&
         inner.x + inner.width <= outer.x + outer.width &&
         inner.y + inner.height <= outer.y + outer.height;
}

// What shows behind a control's text: its own colour, or for a transparent one the group
// frame it stands in (the last painted wins) or the window's grey.
Rgb Behind(const platform::ControlSpec& c, const platform::WindowLayout& layout) {
  if (!(c.style & platform::kStyleTransparent)) return c.background;
  Rgb behind = layout.background;
  for (const platform::ControlSpec& frame : layout.controls) {
    if (frame.kind == ControlKind::kGroupFrame && Inside(c, frame)) behind = frame.background;
  }
  return behind;
}

TEST(WindowLayout, EveryTextStandsOutFromItsBackground) {
  const platform::WindowLayout layout = MainWindowLayout();
  int checked = 0;
  for (const platform::ControlSpec& c : layout.controls) {
    switch (c.kind) {
      case ControlKind::kLabel:
      case ControlKind::kCheckBox:
      case ControlKind::kDropDown:
      case ControlKind::kGroupFrame:
      case ControlKind::kPushButton:
      case ControlKind::kLink:
        break;
      default:
        continue;
    }
    if (c.id == kIdPositionFrame) continue;  // the position bar's frame never shows a text
    if (IsImageSwitch(c.id)) {
      for (bool on : {false, true}) {
        const SwitchColours colours = ImageSwitchColours(on);
        EXPECT_GE(Contrast(colours.foreground, colours.background), 4.5) << c.id << " on " << on;
      }
    }
    EXPECT_GE(Contrast(c.foreground, Behind(c, layout)), 4.5) << "control " << c.id;
    ++checked;
  }
  EXPECT_GE(checked, 40);
  // The two image-switch states differ in their text, so each is told apart at a glance.
  EXPECT_NE(ImageSwitchColours(true).foreground, ImageSwitchColours(false).foreground);
}

TEST(WindowLayout, ContrastMeasuresAsTheGuidesDo) {
  EXPECT_NEAR(Contrast({0, 0, 0}, {255, 255, 255}), 21.0, 1e-9);
  EXPECT_NEAR(Contrast(platform::Grey(136), {255, 255, 255}), 3.54, 0.01);  // fails 4.5
  EXPECT_NEAR(Contrast(platform::Grey(51), {0, 0, 0}), 1.66, 0.01);
}

}  // namespace
}  // namespace zqr
