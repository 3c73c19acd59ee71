// The main window's tables. Rows follow the window's creation order: the position bar
// and the preview first, then the panel's controls, the picture buttons and the
// input-output group.
#include "app/window_layout.h"

#include <string>
#include <vector>

#include "app/window_observer.h"
#include "core/shell_state.h"
#include "platform/ui.h"

namespace zqr {

using platform::AcceleratorSpec;
using platform::ControlKind;
using platform::ControlSpec;
using platform::Grey;
using platform::MenuItemSpec;
using platform::MenuSpec;
using platform::Rgb;
using platform::TooltipSpec;
using S = SettingsRecord;

namespace {

constexpr Rgb kBlack{0, 0, 0};
constexpr Rgb kWhite{255, 255, 255};
// Every text stands out from its background by at least 4.5:1 (relative luminance, as
// screen readability guides measure it): white captions sit on grey 96 rather than the
// window's grey, values are a light grey on black.
constexpr Rgb kCaptionGrey = Grey(96);
constexpr Rgb kSwitchOffGrey = Grey(136);
constexpr uint32_t kSunken = platform::kStyleSunken;
constexpr uint32_t kEdge = platform::kStyleStaticEdge;
constexpr uint32_t kCentred = platform::kStyleCentred;
constexpr uint32_t kEllipsis = platform::kStylePathEllipsis;
constexpr uint32_t kClear = platform::kStyleTransparent;

// A row; a control that shows a setting takes its field from the options table.
ControlRow Row(int id, ControlKind kind, const char* text, int x, int y, int w, int h, Rgb fg,
               Rgb bg, uint32_t style) {
  ControlRow row;
  row.spec.id = id;
  row.spec.kind = kind;
  row.spec.text = text;
  row.spec.x = x;
  row.spec.y = y;
  row.spec.width = w;
  row.spec.height = h;
  row.spec.foreground = fg;
  row.spec.background = bg;
  row.spec.style = style;
  const OptionDef* option = OptionOfControl(id);
  if (option != nullptr && (kind == ControlKind::kCheckBox || kind == ControlKind::kSlider)) {
    row.field = option->field;
  }
  return row;
}

// A slider with its range and page step from the options table.
ControlRow Slider(int id, int x, int y, int w, int h, Rgb bg, uint32_t style) {
  ControlRow row = Row(id, ControlKind::kSlider, "", x, y, w, h, kBlack, bg, style);
  const OptionDef* option = OptionOfControl(id);
  row.spec.minimum = option->low;
  row.spec.maximum = option->high;
  row.spec.page = option->page;
  return row;
}

ControlRow List(int id, int x, int y, int w, int h, uint32_t style, std::vector<std::string> items,
                int selected) {
  ControlRow row = Row(id, ControlKind::kDropDown, "", x, y, w, h, kWhite, kCaptionGrey, style);
  row.spec.items = std::move(items);
  row.spec.value = selected;
  return row;
}

std::vector<std::string> DepthItems() {
  std::vector<std::string> items;
  for (int v = 20; v <= 100; v += 5) items.push_back(std::to_string(v));
  return items;
}

std::vector<std::string> CompressionItems() {
  std::vector<std::string> items = {"Default Quality", "1:Best Quality"};
  for (int v = 2; v <= 20; ++v) items.push_back(std::to_string(v) + ":");
  items.push_back("21:Lower Quality");
  return items;
}

std::vector<ControlRow> MakeRows() {
  using K = ControlKind;
  const Rgb caption_bg = kCaptionGrey;
  const Rgb check_fg = Grey(192);
  const Rgb value_fg = Grey(160);
  std::vector<ControlRow> r;
  r.push_back(Row(kIdPositionFrame, K::kLabel, "", 5, 607, 600, 14, Grey(128), Grey(128), kSunken));
  r.push_back(
      Row(kIdPositionBar, K::kStretchedPicture, "tomline", 6, 608, 1, 12, kBlack, kBlack, 0));
  r.push_back(Row(kIdPreview, K::kGraphic, "", 5, 5, 600, 600, kWhite, Grey(51),
                  platform::kStyleBorder | kEdge));
  r.push_back(
      Row(kIdBuildLabel, K::kLabel, "Build 005.01", 935, 40, 150, 20, kBlack, Grey(135), kClear));
  r.push_back(Row(kIdStereo, K::kCheckBox, "3D Vision", 620, 222, 80, 18, check_fg, kBlack, kEdge));
  r.push_back(Row(-1, K::kPicture, "glasses", 750, 240, 36, 20, kBlack, kBlack, 0));
  r.push_back(Slider(kIdStereoTuning, 701, 222, 90, 17, Grey(75), 0));
  r.push_back(
      Row(kIdDepthSwitch, K::kCheckBox, "3D Depth", 620, 243, 80, 18, check_fg, kBlack, kEdge));
  r.push_back(List(kIdDepthList, 701, 240, 40, 90, 0, DepthItems(), 2));
  r.push_back(Row(kIdAutoSave, K::kCheckBox, "Auto saving a parameters", 620, 159, 171, 18,
                  check_fg, kBlack, kEdge));
  const char* captions[] = {
      " VIDEO file: ", " Frame Size:", " FPS rate:", " Num of frames:", " Operation:"};
  for (int i = 0; i < 5; ++i) {
    r.push_back(Row(203 + i, K::kLabel, captions[i], 620, 70 + 18 * i, 80, 17, kWhite, caption_bg,
                    kSunken));
  }
  r.push_back(Row(kIdShowInputVideo, K::kCheckBox, "Show input VIDEO", 620, 178, 171, 18, check_fg,
                  kBlack, kEdge));
  r.push_back(Row(210, K::kLabel, " Duration:", 620, 196, 80, 17, kWhite, caption_bg, kSunken));
  r.push_back(
      Row(330, K::kGroupFrame, " Common controls ", 610, 50, 395, 232, kWhite, Grey(51), 0));
  r.push_back(
      Row(329, K::kGroupFrame, " Image controls ", 610, 274, 395, 139, kWhite, Grey(51), 0));
  r.push_back(Row(332, K::kGroupFrame, " Input-Output controls: ", 610, 405, 395, 120, kWhite,
                  Grey(51), 0));
  struct Switch {
    int id;
    const char* text;
    int width;
  };
  const Switch switches[] = {{kIdSharpenSwitch, " Sharpen", 111},
                             {kIdBrightnessSwitch, " Brightness", 161},
                             {kIdContrastSwitch, " Contrast", 161},
                             {kIdNoiseSwitch, " Noise Median", 161},
                             {kIdCpuSwitch, " CPU usage", 161}};
  for (int i = 0; i < 5; ++i) {
    const SwitchColours off = ImageSwitchColours(false);
    r.push_back(Row(switches[i].id, K::kCheckBox, switches[i].text, 620, 296 + 20 * i,
                    switches[i].width, 18, off.foreground, off.background, kEdge));
  }
  for (int i = 0; i < 5; ++i) {
    r.push_back(
        Row(551 + i, K::kLabel, "Min.", 790, 297 + 20 * i, 24, 15, kBlack, kSwitchOffGrey, 0));
  }
  const int max_ids[] = {525, 526, 527, 529, 530};
  for (int i = 0; i < 5; ++i) {
    r.push_back(
        Row(max_ids[i], K::kLabel, "Max.", 910, 297 + 20 * i, 24, 15, kBlack, kSwitchOffGrey, 0));
  }
  for (int i = 0; i < 5; ++i) {
    r.push_back(Row(kIdResetSharpen + i, K::kPushButton, "Reset", 938, 295 + 20 * i, 42, 18, kBlack,
                    Grey(192), platform::kStyleFlat));
  }
  r.push_back(Slider(kIdSharpenAmount, 815, 296, 90, 18, Grey(128), kEdge));
  r.push_back(Slider(kIdSharpenRadius, 731, 296, 50, 18, Grey(102), kEdge));
  r.push_back(Slider(kIdBrightness, 815, 316, 90, 18, Grey(128), kEdge));
  r.push_back(Slider(kIdContrast, 815, 336, 90, 18, Grey(128), kEdge));
  r.push_back(Slider(kIdNoisePasses, 815, 356, 90, 18, Grey(128), kEdge));
  r.push_back(Slider(kIdCpuUsage, 815, 376, 90, 18, Grey(128), kEdge));
  r.push_back(Row(kIdFileNameLabel, K::kLabel, "", 701, 70, 295, 17, value_fg, kBlack,
                  kSunken | kEllipsis));
  for (int i = 0; i < 4; ++i) {
    r.push_back(Row(kIdFrameSizeLabel + i, K::kLabel, "", 701, 88 + 18 * i, 90, 17, value_fg,
                    kBlack, kSunken | kCentred));
  }
  r.push_back(
      Row(kIdDurationLabel, K::kLabel, "", 701, 196, 90, 17, value_fg, kBlack, kSunken | kCentred));
  const int button_ids[] = {kIdLoad, kIdPlayPause, kIdSave, kIdConvert, kIdAbout};
  const char* button_pictures[] = {"b_load1", "b_pause1", "b_save1", "b_convert1", "b_about1"};
  for (int i = 0; i < 5; ++i) {
    r.push_back(Row(button_ids[i], K::kPictureButton, button_pictures[i], 800, 93 + 24 * i, 195, 24,
                    kBlack, kBlack, 0));
  }
  r.push_back(Row(kIdHelp, K::kPictureButton, "help1", 900, 8, 97, 24, kBlack, kBlack, 0));
  // Stop has nothing to stop until a conversion starts.
  r.push_back(Row(kIdStop, K::kPictureButton, "b_stopt1", 800, 218, 195, 24, kBlack, kBlack, 0));
  r.back().spec.enabled = false;
  r.push_back(
      Row(214, K::kLabel, "Output compression", 620, 473, 98, 15, kWhite, kBlack, kCentred));
  // The depth map's strength and screen plane, with their values, beside the compression.
  r.push_back(Row(kIdDivergenceCaption, K::kLabel, " Strength", 735, 473, 60, 17, kWhite,
                  kCaptionGrey, kSunken));
  r.push_back(Slider(kIdDivergence, 800, 473, 140, 17, Grey(75), 0));
  r.push_back(Row(kIdDivergenceValue, K::kLabel, "", 945, 473, 45, 17, value_fg, kBlack, 0));
  r.push_back(Row(kIdConvergenceCaption, K::kLabel, " Screen", 735, 494, 60, 17, kWhite,
                  kCaptionGrey, kSunken));
  r.push_back(Slider(kIdConvergence, 800, 494, 140, 17, Grey(75), 0));
  r.push_back(Row(kIdConvergenceValue, K::kLabel, "", 945, 494, 45, 17, value_fg, kBlack, 0));
  r.push_back(List(kIdCompressionList, 620, 489, 99, 90, platform::kStyleClientEdge,
                   CompressionItems(), 0));
  // Transparent over the Input-Output group's dark grey, so its text is white.
  r.push_back(Row(kIdSetTempPath, K::kPushButton, "Set path for temporary Stream", 620, 427, 150,
                  17, kWhite, Grey(51), platform::kStyleFlat | kClear));
  r.push_back(Row(kIdTempPathLabel, K::kLabel, "", 620, 447, 375, 17, kBlack, Grey(192),
                  kSunken | kEllipsis));
  return r;
}

// The popups in the order they are built, each from its row of the options table.
std::vector<OptionPopup> MakePopups() {
  std::vector<OptionPopup> popups;
  for (SettingsField field :
       {&S::BitrateChoice, &S::CodecModeChoice, &S::ResizeMode, &S::AudioChannels,
        &S::SampleRateChoice, &S::StereoMode, &S::Layout, &S::Chroma444}) {
    const OptionDef* option = OptionOfField(field);
    popups.push_back({option->popup_title, option, option->popup_items, field});
  }
  return popups;
}
const std::vector<OptionPopup>& Popups() {
  static const std::vector<OptionPopup> popups = MakePopups();
  return popups;
}

constexpr AcceleratorSpec kAccelerators[] = {
    {true, 'L', kIdLoad},
    {true, 'C', kIdConvert},
    {true, 'S', kIdSave},
    {true, 'O', kIdOutputStream},
    {false, platform::kKeyF1, kIdHelp},
};

// The buttons and the temporary folder, which show no setting of the options table.
constexpr struct {
  int id;
  const char* text;
} kButtonTooltips[] = {
    {kIdLoad, "Load a video to convert (Ctrl+L)"},
    {kIdPlayPause, "Pause or resume the loaded video"},
    {kIdSave, "Save the parameters now (Ctrl+S)"},
    {kIdConvert, "Convert the loaded video to a 3D movie (Ctrl+C)"},
    {kIdAbout, "About the program"},
    {kIdHelp, "Open the manual (F1)"},
    {kIdStop, "Stop the running conversion"},
    {kIdResetSharpen, "Sharpen amount back to 1 and radius to 0"},
    {kIdResetBrightness, "Brightness back to 127 (unchanged picture)"},
    {kIdResetContrast, "Contrast back to 127"},
    {kIdResetNoise, "Noise Median back to 1 pass"},
    {kIdResetCpu, "CPU usage back to 100 (full speed)"},
    {kIdSetTempPath, "Choose the folder for a conversion's frame and sound files"},
    {kIdTempPathLabel,
     "The folder for a conversion's frame and sound files; it needs room for every frame "
     "of the movie as a picture"},
};

// Every control of the options table that has a tooltip, then the buttons.
std::vector<TooltipSpec> MakeTooltips() {
  std::vector<TooltipSpec> tooltips;
  for (const OptionDef& option : Options()) {
    if (option.tooltip != nullptr) tooltips.push_back({option.control_id, option.tooltip});
  }
  for (const auto& tip : kButtonTooltips) tooltips.push_back({tip.id, tip.text});
  return tooltips;
}
const std::vector<TooltipSpec>& Tooltips() {
  static const std::vector<TooltipSpec> tooltips = MakeTooltips();
  return tooltips;
}

MenuItemSpec Item(const char* text, int id, bool checkable = false, bool checked = false) {
  MenuItemSpec item;
  item.text = text;
  item.id = id;
  item.checkable = checkable;
  item.checked = checked;
  return item;
}
MenuItemSpec Separator() {
  MenuItemSpec item;
  item.kind = MenuItemSpec::Kind::kSeparator;
  return item;
}
MenuItemSpec Popup(const OptionPopup& popup) {
  MenuItemSpec menu;
  menu.kind = MenuItemSpec::Kind::kPopup;
  menu.text = popup.title;
  const int value = Settings.*popup.field;
  for (size_t i = 0; i < popup.items.size(); ++i) {
    menu.children.push_back(
        Item(popup.items[i], PopupItemId(*popup.option, i), true, static_cast<int>(i) == value));
    if (i == 0) menu.children.push_back(Separator());
  }
  return menu;
}

std::vector<MenuSpec> MakeMenus() {
  MenuSpec file{
      "&File",
      {Item("Load Movie\tCtrl + L", kIdLoad), Item("Play/Pause VIDEO", kIdPlayPause),
       Item("Convert 3D\tCtrl + C", kIdConvert), Separator(),
       Item("File Information", kIdFileInformation), Separator(), Item("Exit\tAlt + F4", kIdExit)}};
  MenuSpec option{"&Option",
                  {Item("Auto saving a parameters", kIdAutoSave, true, Settings.AutoSave == 1),
                   Separator(),
                   Item("Save Parameters\tCtrl + S", kIdSave),
                   Item("Set path for temporary Stream", kIdSetTempPath),
                   Separator(),
                   Item("ZQR Stereo Vision", kIdStereo, true, Settings.StereoOn == 1),
                   Popup(Popups()[5]),
                   Popup(Popups()[6]),
                   Popup(Popups()[7]),
                   Item("Preview the converted picture", kIdPreviewConverted, true,
                        Settings.PreviewConverted == 1),
                   Item("Show depth (depth map)", kIdShowDepth, true, Settings.ShowDepth == 1),
                   Item("Depth from a video or picture...", kIdDepthFromFile, true,
                        !Shell.DepthSource.Get().empty()),
                   Item("Depth model...", kIdDepthFromModel, true,
                        Shell.DepthSource.Get().empty() && !Shell.DepthModel.Get().empty()),
                   Item("Depth found in the video", kIdDepthFromMotion, true,
                        Shell.DepthSource.Get().empty() && Shell.DepthModel.Get().empty() &&
                            Settings.DepthFromPrior != 1),
                   Item("Depth from the height in the picture", kIdDepthFromPrior, true,
                        Shell.DepthSource.Get().empty() && Shell.DepthModel.Get().empty() &&
                            Settings.DepthFromPrior == 1),
                   Separator(),
                   Popup(Popups()[0]),
                   Popup(Popups()[1]),
                   Separator(),
                   Popup(Popups()[2]),
                   Separator(),
                   Popup(Popups()[3]),
                   Popup(Popups()[4])}};
  MenuSpec help{"&Help", {Item("Help\tF1", kIdHelp), Separator(), Item("About", kIdAbout)}};
  return {file, option, help};
}

}  // namespace

std::span<const ControlRow> MainControlRows() {
  static const std::vector<ControlRow> rows = MakeRows();
  return rows;
}

std::span<const OptionPopup> OptionPopups() {
  return Popups();
}
std::span<const AcceleratorSpec> MainAccelerators() {
  return kAccelerators;
}
std::span<const TooltipSpec> MainTooltips() {
  return Tooltips();
}

SwitchColours ImageSwitchColours(bool on) {
  return on ? SwitchColours{kWhite, kCaptionGrey} : SwitchColours{kBlack, kSwitchOffGrey};
}

bool IsImageSwitch(int id) {
  return id == kIdSharpenSwitch || id == kIdBrightnessSwitch || id == kIdContrastSwitch ||
         id == kIdNoiseSwitch || id == kIdCpuSwitch;
}

const ControlRow* FindControlRow(int id) {
  for (const ControlRow& row : MainControlRows()) {
    if (row.spec.id == id) return &row;
  }
  return nullptr;
}

const OptionPopup* FindOptionPopup(int id) {
  for (const OptionPopup& popup : Popups()) {
    if (PopupItemIndex(*popup.option, id) >= 0) return &popup;
  }
  return nullptr;
}

platform::WindowLayout MainWindowLayout() {
  platform::WindowLayout layout;
  layout.caption = "Kavelund ZQR Stereo Video Coverter Build 005.01";
  layout.client_width = kMainClientWidth;
  layout.client_height = kMainClientHeight;
  layout.background = Grey(135);
  layout.icon = "VIDEO";
  layout.menus = MakeMenus();
  for (const ControlRow& row : MainControlRows()) {
    ControlSpec spec = row.spec;
    if (row.field != nullptr) {
      spec.value = Settings.*row.field;
      if (spec.kind == ControlKind::kCheckBox) {
        spec.value = spec.value == 1 ? 1 : 0;
        // The image switches show their state in their colours.
        if (IsImageSwitch(spec.id)) {
          const SwitchColours colours = ImageSwitchColours(spec.value == 1);
          spec.foreground = colours.foreground;
          spec.background = colours.background;
        }
      }
    }
    if (spec.id == kIdDepthList) {
      // The entry of the current divisor; 30 (the third) when it is not in the list.
      for (size_t i = 0; i < spec.items.size(); ++i) {
        if (std::to_string(Settings.DepthDivisor.load()) == spec.items[i]) {
          spec.value = static_cast<int>(i);
        }
      }
    }
    // The compression list's entries stand in value order, "Default Quality" for 0.
    if (spec.id == kIdCompressionList) {
      const int32_t value = Settings.CompressionValue;
      if (value >= 0 && value < static_cast<int32_t>(spec.items.size())) spec.value = value;
    }
    if (spec.id == kIdTempPathLabel) spec.text = Shell.TempFolder;
    for (SettingsField field : {&S::Divergence, &S::Convergence}) {
      const OptionDef* option = OptionOfField(field);
      if (spec.id == option->value_label_id) spec.text = ValueLabelText(*option, Settings.*field);
    }
    layout.controls.push_back(std::move(spec));
  }
  layout.accelerators.assign(kAccelerators, kAccelerators + std::size(kAccelerators));
  layout.tooltips = Tooltips();
  return layout;
}

void SetMenuChoice(const OptionPopup& popup) {
  ShowPopupChoice(*OptionOfField(popup.field), WindowObserver());
}

}  // namespace zqr
