// The window as data: what a backend needs to build a window (controls, menus,
// accelerators, tooltips) and the handlers it reports the user's actions to. The shell
// fills these from its layout tables; every backend builds from them, so the wx window
// and the headless model have the same controls with the same identifiers.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace zqr::platform {

struct Rgb {
  uint8_t r = 0, g = 0, b = 0;
  bool operator==(const Rgb&) const = default;
};
constexpr Rgb Grey(uint8_t level) {
  return {level, level, level};
}

enum class ControlKind {
  kLabel,
  kPicture,           // a resource picture at its own size
  kStretchedPicture,  // a resource picture stretched to the rectangle
  kGraphic,           // owner-drawn area (the preview)
  kCheckBox,
  kSlider,
  kDropDown,
  kGroupFrame,
  kPushButton,
  kPictureButton,  // a resource picture that reports clicks, at its own size
  kLink,           // a label that opens an address when clicked
};

enum ControlStyle : uint32_t {
  kStyleSunken = 1u << 0,
  kStyleStaticEdge = 1u << 1,
  kStyleCentred = 1u << 2,
  kStylePathEllipsis = 1u << 3,
  kStyleTransparent = 1u << 4,
  kStyleClientEdge = 1u << 5,
  kStyleFlat = 1u << 6,
  kStyleBorder = 1u << 7,
};

struct ControlSpec {
  int id = -1;
  ControlKind kind = ControlKind::kLabel;
  std::string text;  // caption, or the resource name of a picture
  int x = 0, y = 0, width = 0, height = 0;
  Rgb foreground;
  Rgb background;
  uint32_t style = 0;
  int minimum = 0, maximum = 0, page = 0;  // sliders
  int value = 0;                           // slider position, check state, list selection
  std::vector<std::string> items;          // drop-down lists
  bool enabled = true;
};

struct MenuItemSpec {
  enum class Kind { kItem, kSeparator, kPopup };
  Kind kind = Kind::kItem;
  std::string text;  // "Load Movie\tCtrl + L"
  int id = -1;
  bool checkable = false;
  bool checked = false;
  std::vector<MenuItemSpec> children;  // a popup's items
};

struct MenuSpec {
  std::string title;  // "&File"
  std::vector<MenuItemSpec> items;
};

// Virtual-key codes of the accelerators: letters are their upper-case ASCII code.
inline constexpr int kKeyF1 = 0x70;
struct AcceleratorSpec {
  bool ctrl = false;
  int key = 0;
  int id = 0;
};

struct TooltipSpec {
  int control_id = 0;
  std::string text;
};

struct WindowLayout {
  std::string caption;
  int client_width = 0;
  int client_height = 0;
  Rgb background;
  std::string icon;  // resource name
  std::vector<ControlSpec> controls;
  std::vector<MenuSpec> menus;
  std::vector<AcceleratorSpec> accelerators;
  std::vector<TooltipSpec> tooltips;
};

// Notification codes of a command, as the window procedure tells them apart.
inline constexpr int kNotifyClick = 0;   // menu, button or picture click
inline constexpr int kNotifyChange = 1;  // accelerator, list selection change

// What the user does, reported by the backend on the GUI thread to the core's handlers.
struct WindowEvents {
  std::function<void(int id, int code)> command;
  std::function<void(int id, int position)> slider;
  // The mouse is over control `id` (-1: elsewhere in the window). True when the control
  // wants the hand cursor.
  std::function<bool(int id)> hover;
  // The close box, Alt+F4 or the system menu: true when the window may close.
  std::function<bool()> close_request;
};

// One picture for the preview area, already scaled and letterboxed by the core: RGB
// bytes, row by row from the top, and the caption lines written over it.
struct PreviewPicture {
  int width = 0;
  int height = 0;
  std::vector<uint8_t> rgb;
  struct Caption {
    int x = 0, y = 0;
    std::string text;
  };
  std::vector<Caption> captions;  // white on grey 96
};

}  // namespace zqr::platform
