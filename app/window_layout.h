// The main window as data: its controls, menus, option popups, accelerators and
// tooltips, row by row, with the command identifiers the window procedure handles and
// the settings field each control shows. Every backend builds the window from these
// rows, so identifiers, texts and pixel rectangles are written down once.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/settings.h"
#include "platform/window_model.h"

namespace zqr {

// Command and control identifiers shared by a menu item and its button.
enum ControlId : int {
  kIdLoad = 100,
  kIdPlayPause = 101,
  kIdSave = 102,
  kIdAbout = 103,
  kIdConvert = 104,
  kIdExit = 107,
  kIdHelp = 110,
  kIdSetTempPath = 111,
  kIdTempPathLabel = 112,
  kIdOperationLabel = 207,
  kIdSharpenSwitch = 208,
  kIdCompressionList = 213,
  kIdShowInputVideo = 511,
  kIdContrast = 519,
  kIdBrightness = 520,
  kIdSharpenAmount = 518,
  kIdContrastSwitch = 522,
  kIdBrightnessSwitch = 523,
  kIdCpuUsage = 570,
  kIdCpuSwitch = 571,
  kIdNoisePasses = 572,
  kIdNoiseSwitch = 573,
  kIdResetSharpen = 581,
  kIdResetBrightness = 582,
  kIdResetContrast = 583,
  kIdResetNoise = 584,
  kIdResetCpu = 585,
  kIdSharpenRadius = 590,
  kIdFileInformation = 597,
  kIdAutoSave = 599,
  kIdBuildLabel = 701,
  kIdStop = 806,
  kIdStereo = 808,
  kIdStereoTuning = 809,
  kIdOutputStream = 810,
  kIdDepthSwitch = 899,
  kIdDepthList = 900,
  kIdPreview = 2007,
  kIdPositionFrame = 3011,
  kIdPositionBar = 3012,
};

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
  const char* title;  // the Option menu's item that opens it
  int base_id;
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
// channels, sampling rate, stereo type.
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

// The caption colours of an image switch: white when on, black when off, on grey 136.
platform::Rgb SwitchTextColour(bool on);

}  // namespace zqr
