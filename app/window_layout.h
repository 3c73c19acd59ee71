// The main window as data: its controls, menus, option popups, accelerators and
// tooltips, row by row, with the command identifiers the window procedure handles and
// the settings field each control shows. Every backend builds the window from these
// rows, so identifiers, texts and pixel rectangles are written down once.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/control_ids.h"
#include "core/options.h"
#include "core/settings.h"
#include "platform/window_model.h"

namespace zqr {

inline constexpr int kMainClientWidth = 1010;
inline constexpr int kMainClientHeight = 650;

// A control row: the widget's description and, for switches and sliders, the settings
// field it shows.
struct ControlRow {
  platform::ControlSpec spec;
  Shared32 SettingsRecord::*field = nullptr;
};

// The option popups: each item sets its field to the item's index.
struct OptionPopup {
  const char* title;        // the Option menu's item that opens it
  const OptionDef* option;  // its items' ids (PopupItemId)
  std::span<const char* const> items;
  Shared32 SettingsRecord::*field;
};

// A picture button and its bitmaps: base + "1" normal, "2" pressed, "3" under the mouse.
struct PictureButton {
  int id;
  const char* base;
};
// In the order of their hover flags.
inline constexpr std::array<PictureButton, 7> kPictureButtons = {{
    {kIdPlayPause, "b_pause"},
    {kIdSave, "b_save"},
    {kIdLoad, "b_load"},
    {kIdConvert, "b_convert"},
    {kIdAbout, "b_about"},
    {kIdHelp, "help"},
    {kIdStop, "b_stopt"},
}};

// Rows in creation order.
std::span<const ControlRow> MainControlRows();
// The popups in the order they are built: bit rate, codec mode, output size, audio
// channels, sampling rate, stereo type, output layout, colour resolution.
std::span<const OptionPopup> OptionPopups();
std::span<const platform::AcceleratorSpec> MainAccelerators();
std::span<const platform::TooltipSpec> MainTooltips();

// The whole window as the current settings show it: check boxes, check marks, slider
// positions and list selections taken from `Settings`, `TempFolder` in label 112.
platform::WindowLayout MainWindowLayout();

// The row of a control, or nullptr.
const ControlRow* FindControlRow(int id);

// SetMenuChoice: the check mark of the popup that holds `item_id` moves to the item of
// its field's current value.
void SetMenuChoice(const OptionPopup& popup);
// The popup whose items include `id`, or nullptr.
const OptionPopup* FindOptionPopup(int id);

// The colours of an image switch: white on dark grey when on, black on grey when off.
struct SwitchColours {
  platform::Rgb foreground;
  platform::Rgb background;
};
SwitchColours ImageSwitchColours(bool on);
// Sharpen, Brightness, Contrast, Noise Median and CPU usage.
bool IsImageSwitch(int id);

}  // namespace zqr
