// The options table and what the batch flags make of it.
#include "core/options.h"

#include <algorithm>
#include <array>
#include <cstdlib>
#include <string>

#include "core/control_ids.h"

namespace zqr {

namespace {

using S = SettingsRecord;
using C = OptionControl;

constexpr const char* kBitrateItems[] = {"  Auto", "  100k", "  200k", "  400k", "  700k",
                                         "  950k", " 1200k", " 1500k", " 2000k", " 2500k"};
constexpr const char* kBitrateWords[] = {"auto", "100k",  "200k",  "400k",  "700k",
                                         "950k", "1200k", "1500k", "2000k", "2500k"};
constexpr const char* kCodecItems[] = {"  Auto",   "  Ultra Fast", "  Fast",
                                       "  Medium", "  Max",        "  Slower"};
constexpr const char* kCodecWords[] = {"auto", "ultrafast", "fast", "medium", "max", "slower"};
constexpr const char* kSizeItems[] = {"  Natural size", "  Resize 90%", "  Resize 80%",
                                      "  Resize 70%",   "  Resize 60%", "  Resize 50%"};
constexpr const char* kSizeWords[] = {"100", "90", "80", "70", "60", "50"};
constexpr const char* kChannelItems[] = {"  Stereo", "  Mono"};
constexpr const char* kChannelWords[] = {"stereo", "mono"};
constexpr const char* kRateItems[] = {"  Auto", "  48000Hz", "  44100Hz", "  22050Hz", "  11025Hz"};
constexpr const char* kRateWords[] = {"auto", "48000", "44100", "22050", "11025"};
constexpr const char* kStereoItems[] = {"  Dynamic stereo effect", "  Static stereo effect",
                                        "  Depth map"};
constexpr int kStereoItemIds[] = {897, 898, kIdDepthMapItem};
constexpr const char* kStereoWords[] = {"dynamic", "static", "depth-map"};
constexpr const char* kSyntheticWords[] = {"both", "left", "right"};
constexpr const char* kDepthSourceWords[] = {"video", "prior"};
// In the order of frames::OutputLayout.
constexpr const char* kLayoutItems[] = {"  Red/cyan anaglyph",        "  Red/cyan, Dubois colours",
                                        "  Red/cyan, half colour",    "  Red/cyan, grey",
                                        "  Side by side (3D TV, VR)", "  Half side by side",
                                        "  Top and bottom (3D TV)",   "  Half top and bottom"};
constexpr const char* kLayoutWords[] = {"anaglyph", "dubois",   "half-colour", "grey",
                                        "sbs",      "half-sbs", "tab",         "half-tab"};
constexpr const char* kChromaItems[] = {"  Colour 4:2:0 (every player)",
                                        "  Colour 4:4:4 (sharper anaglyph colours)"};
constexpr const char* kChromaWords[] = {"420", "444"};
constexpr const char* kDeinterlaceWords[] = {"off", "auto"};

constexpr OptionDef kOptions[] = {
    {.field = &S::StereoMode,
     .key = "STEREOMODE",
     .high = 2,
     .control = C::kPopup,
     .control_id = 897,
     .popup_title = "Set type of ZQR Stereo",
     .popup_items = kStereoItems,
     .popup_ids = kStereoItemIds,
     .flag = "--stereo",
     .flag_help = "the stereo effect",
     .flag_switch = &S::StereoOn,
     .flag_words = kStereoWords},
    {.field = &S::Layout,
     .key = "LAYOUT",
     .high = 7,
     .control = C::kPopup,
     .control_id = 910,
     .popup_title = "Set output layout",
     .popup_items = kLayoutItems,
     .flag = "--layout",
     .flag_help = "red/cyan anaglyphs, or both views side by side or one above the other for "
                  "3D TVs and VR headsets",
     .flag_words = kLayoutWords},
    {.field = &S::Chroma444,
     .key = "CHROMA",
     .control = C::kPopup,
     .control_id = 920,
     .popup_title = "Set colour resolution",
     .popup_items = kChromaItems,
     .flag = "--chroma",
     .flag_help = "444 keeps the full colour resolution that carries the red/cyan separation, "
                  "in H.264 movies (.mp4 .m4v .mov .mkv .avi)",
     .flag_words = kChromaWords},
    {.field = &S::Deinterlace,
     .key = "DEINTERLACE",
     .start = 1,
     .flag = "--deinterlace",
     .flag_help = "auto makes the frames of a video that says it is interlaced whole (bwdif's "
                  "method); off keeps their two fields",
     .flag_words = kDeinterlaceWords},
    {.field = &S::StereoTuning,
     .key = "TUNING",
     .start = 6,
     .low = -10,
     .high = 10,
     .control = C::kSlider,
     .control_id = kIdStereoTuning,
     .tooltip = " ZQR Stereo Vision Tuning ",
     .flag = "--tuning",
     .flag_help = "the stereo tuning shift"},
    {.field = &S::Divergence,
     .key = "DIVERGENCE",
     .start = 25,
     .high = 250,
     .control = C::kSlider,
     .control_id = kIdDivergence,
     .page = 5,
     .tooltip = " 3D strength: the nearest and the farthest depth's parallax ",
     .flag = "--divergence",
     .flag_help = "depth map: the 3D strength, the largest parallax in percent of the width",
     .flag_scale = 10,
     .value_label_id = kIdDivergenceValue,
     .value_unit = "%"},
    {.field = &S::Convergence,
     .key = "CONVERGENCE",
     .start = 50,
     .high = 100,
     .control = C::kSlider,
     .control_id = kIdConvergence,
     .page = 10,
     .tooltip = " Screen plane: the depth that stays at the screen's distance ",
     .flag = "--convergence",
     .flag_help = "depth map: the depth level at the screen's plane (0 farthest, 1 nearest)",
     .flag_scale = 100,
     .value_label_id = kIdConvergenceValue},
    {.field = &S::SyntheticView,
     .key = "SYNTHVIEW",
     .high = 2,
     .flag = "--synthetic-view",
     .flag_help = "depth map: the eyes rendered (both shifted by half, or the left or the right "
                  "one by the whole parallax)",
     .flag_words = kSyntheticWords},
    {.field = &S::DepthFromPrior,
     .key = "DEPTHPRIOR",
     .high = 1,
     .flag = "--depth-source",
     .flag_help = "depth map without --depth-video: the depth found in the video itself (its "
                  "motion), or the prior alone (lower in the picture is nearer)",
     .flag_words = kDepthSourceWords},
    {.field = &S::DepthModelEvery,
     .key = "MODELEVERY",
     .start = 8,
     .low = 1,
     .high = 300,
     .flag = "--depth-model-every",
     .flag_help = "depth model: run it on every N-th frame and at each scene cut, the depth "
                  "carried between (1: every frame)"},
    {.field = &S::DepthModelSize,
     .key = "MODELSIZE",
     .start = 384,
     .low = 32,
     .high = 2048,
     .flag = "--depth-model-size",
     .flag_help = "depth model: the input's longer side in pixels (a multiple of 32) when the "
                  "model takes any size"},
    {.field = &S::DepthDivisor,
     .key = "DEPTH",
     .start = 30,
     .low = 20,
     .high = 100,
     .control = C::kList,
     .control_id = kIdDepthList,
     .tooltip = " Select a value of 3D Stereo Depth effect ",
     .flag = "--depth",
     .flag_help = "3D Depth and its divisor",
     .flag_switch = &S::DepthOn},
    {.field = &S::SharpenAmount,
     .key = "SHARPEN",
     .high = 5,
     .stored_zero = 1,
     .control = C::kSlider,
     .control_id = kIdSharpenAmount,
     .tooltip = " Sharpen Amount ",
     .reset_id = kIdResetSharpen,
     .reset_value = 1,
     .flag = "--sharpen",
     .flag_help = "sharpen and its amount",
     .flag_switch = &S::SharpenOn},
    {.field = &S::SharpenRadius,
     .key = "RADIUS",
     .high = 3,
     .control = C::kSlider,
     .control_id = kIdSharpenRadius,
     .tooltip = " Sharpen Radius Value ",
     .reset_id = kIdResetSharpen,
     .reset_value = 0,
     .flag = "--radius",
     .flag_help = "the sharpen radius"},
    {.field = &S::Brightness,
     .key = "BRIGHTNESS",
     .high = 255,
     .stored_zero = 127,
     .control = C::kSlider,
     .control_id = kIdBrightness,
     .page = 8,
     .tooltip = " Brightness Amount ",
     .reset_id = kIdResetBrightness,
     .reset_value = 127,
     .flag = "--brightness",
     .flag_help = "brightness",
     .flag_switch = &S::BrightnessOn},
    {.field = &S::Contrast,
     .key = "CONTRAST",
     .high = 255,
     .stored_zero = 127,
     .control = C::kSlider,
     .control_id = kIdContrast,
     .page = 8,
     .tooltip = " Contrast Value ",
     .reset_id = kIdResetContrast,
     .reset_value = 127,
     .flag = "--contrast",
     .flag_help = "contrast",
     .flag_switch = &S::ContrastOn},
    {.field = &S::NoisePasses,
     .key = "NOISE",
     .low = 1,
     .high = 5,
     .stored_zero = 1,
     .control = C::kSlider,
     .control_id = kIdNoisePasses,
     .tooltip = " Noise Median Value ",
     .reset_id = kIdResetNoise,
     .reset_value = 1,
     .flag = "--noise",
     .flag_help = "Noise Median and its passes",
     .flag_switch = &S::NoiseOn},
    {.field = &S::CpuUsage,
     .key = "CPU",
     .low = 50,
     .high = 100,
     .stored_zero = 100,
     .control = C::kSlider,
     .control_id = kIdCpuUsage,
     .page = 8,
     // The throttle makes every frame wait 10 ms per step below 100, whatever the frame
     // cost: a clip that converts in seconds at 100 takes minutes at 50.
     .tooltip = " CPU usage Value: below 100 every frame waits 10 ms per step (90: 0.1 s, "
                "50: 0.5 s a frame), so lower values slow the conversion a lot ",
     .reset_id = kIdResetCpu,
     .reset_value = 100,
     .flag = "--cpu",
     .flag_help = "the processor-load throttle, in percent",
     .flag_switch = &S::CpuLimitOn},
    {.field = &S::BitrateChoice,
     .key = "BITRATE",
     .high = 9,
     .control = C::kPopup,
     .control_id = 830,
     .popup_title = "Set Compression Bit Rate",
     .popup_items = kBitrateItems,
     .flag = "--bitrate",
     .flag_help = "the bit rate",
     .flag_words = kBitrateWords},
    {.field = &S::CodecModeChoice,
     .key = "CODECMODE",
     .high = 5,
     .control = C::kPopup,
     .control_id = 840,
     .popup_title = "Set Codec Mode",
     .popup_items = kCodecItems,
     .flag = "--codec-mode",
     .flag_help = "the codec mode",
     .flag_words = kCodecWords},
    {.field = &S::ResizeMode,
     .key = "RESIZE",
     .high = 5,
     .control = C::kPopup,
     .control_id = 870,
     .popup_title = "Resize the output VIDEO stream",
     .popup_items = kSizeItems,
     .flag = "--resize",
     .flag_help = "the output size in percent",
     .flag_words = kSizeWords},
    {.field = &S::AudioChannels,
     .key = "CHANNELS",
     .control = C::kPopup,
     .control_id = 890,
     .popup_title = "Set audio channels",
     .popup_items = kChannelItems,
     .flag = "--channels",
     .flag_help = "the sound channels",
     .flag_words = kChannelWords},
    {.field = &S::SampleRateChoice,
     .key = "SAMPLERATE",
     .high = 4,
     .control = C::kPopup,
     .control_id = 880,
     .popup_title = "Set audio sampling rate",
     .popup_items = kRateItems,
     .flag = "--sample-rate",
     .flag_help = "the sound sampling rate",
     .flag_words = kRateWords},
    {.field = &S::CompressionValue,
     .key = "COMPRESSION",
     .low = 1,
     .high = 21,
     .control = C::kList,
     .control_id = kIdCompressionList,
     .tooltip = "Set Compression/Quality",
     .flag = "--quality",
     .flag_help = "the compression value, 1 best .. 21 lower",
     .zero_word = "default"},

    {.field = &S::SharpenOn,
     .key = "SHARPEN_CH",
     .start = 1,
     .control = C::kSwitch,
     .control_id = kIdSharpenSwitch,
     .tooltip = " Sharpen control - On/Off "},
    {.field = &S::BrightnessOn,
     .key = "BRIGHTNESS_CH",
     .control = C::kSwitch,
     .control_id = kIdBrightnessSwitch,
     .tooltip = " Brightness control - On/Off "},
    {.field = &S::ContrastOn,
     .key = "CONTRAST_CH",
     .control = C::kSwitch,
     .control_id = kIdContrastSwitch,
     .tooltip = " Contrast control - On/Off "},
    {.field = &S::CpuLimitOn,
     .key = "CPU_CH",
     .control = C::kSwitch,
     .control_id = kIdCpuSwitch,
     .tooltip = " CPU usage control - On/Off "},
    {.field = &S::NoiseOn,
     .key = "NOISE_CH",
     .control = C::kSwitch,
     .control_id = kIdNoiseSwitch,
     .tooltip = " Noise Median control - On/Off "},
    {.field = &S::StereoOn,
     .key = "STEREO_CH",
     .control = C::kSwitch,
     .control_id = kIdStereo,
     .tooltip = " Use it with the 3D stereo glasses"},
    {.field = &S::DepthOn,
     .key = "DEPTH_CH",
     .control = C::kSwitch,
     .control_id = kIdDepthSwitch,
     .tooltip = " Use it for Enable/Disable the 3D Stereo Depth effect "},
    {.field = &S::FixAspect, .key = "ASPECT"},
    {.field = &S::AutoSave,
     .key = "AUTOSAVE",
     .start = 1,
     .control = C::kSwitch,
     .control_id = kIdAutoSave,
     .tooltip = "Save the parameters when the program ends (once a video was loaded)"},
    {.field = &S::ShowInputVideo,
     .start = 1,
     .control = C::kSwitch,
     .control_id = kIdShowInputVideo,
     .tooltip = "Show the video in the preview area"},
    // The Option menu's check item; the batch mode has no preview, hence no flag.
    {.field = &S::PreviewConverted,
     .key = "PREVIEW",
     .start = 1,
     .control = C::kSwitch,
     .control_id = kIdPreviewConverted},
    {.field = &S::ShowDepth, .key = "SHOWDEPTH", .control = C::kSwitch, .control_id = kIdShowDepth},
};

// A field's value as its flag writes it: value / scale with the scale's decimals.
std::string ScaledText(int32_t value, int32_t scale) {
  if (scale <= 1) return std::to_string(value);
  std::string fraction = std::to_string(std::abs(value) % scale);
  const size_t decimals = std::to_string(scale).size() - 1;
  fraction.insert(0, decimals - fraction.size(), '0');
  while (!fraction.empty() && fraction.back() == '0') fraction.pop_back();
  const std::string whole = (value < 0 ? "-" : "") + std::to_string(std::abs(value) / scale);
  return fraction.empty() ? whole : whole + "." + fraction;
}

std::string RangeText(int32_t low, int32_t high, int32_t scale = 1) {
  return "a number from " + ScaledText(low, scale) + " to " + ScaledText(high, scale);
}

// "a, b or c"
std::string Listed(std::span<const char* const> words, std::string_view before = {}) {
  std::string text(before);
  for (size_t i = 0; i < words.size(); ++i) {
    if (!text.empty()) text += i + 1 == words.size() ? " or " : ", ";
    text += words[i];
  }
  return text;
}

bool WholeNumber(std::string_view text, int32_t* value) {
  if (text.empty() || text.size() > 9) return false;
  const size_t at = text[0] == '-' ? 1 : 0;
  if (at == text.size()) return false;
  int32_t number = 0;
  for (size_t k = at; k < text.size(); ++k) {
    if (text[k] < '0' || text[k] > '9') return false;
    number = number * 10 + (text[k] - '0');
  }
  *value = at == 1 ? -number : number;
  return true;
}

// A number with at most as many decimals as `scale` has zeros, as value x scale.
bool ScaledNumber(std::string_view text, int32_t scale, int32_t* value) {
  if (scale <= 1) return WholeNumber(text, value);
  const size_t decimals = std::to_string(scale).size() - 1;
  const size_t point = text.find('.');
  std::string_view whole = text.substr(0, point);
  std::string fraction(point == std::string_view::npos ? "" : text.substr(point + 1));
  if (fraction.size() > decimals || (point != std::string_view::npos && fraction.empty())) {
    return false;
  }
  fraction.append(decimals - fraction.size(), '0');
  int32_t units = 0;
  int32_t parts = 0;
  if (whole.empty() || whole == "-" || !WholeNumber(whole, &units) ||
      !WholeNumber(fraction, &parts) || fraction[0] == '-' || std::abs(units) > 100000) {
    return false;
  }
  *value = whole[0] == '-' ? units * scale - parts : units * scale + parts;
  return true;
}

}  // namespace

std::span<const OptionDef> Options() {
  return kOptions;
}

const OptionDef* OptionOfField(SettingsField field) {
  for (const OptionDef& option : kOptions) {
    if (option.field == field) return &option;
  }
  return nullptr;
}

const OptionDef* OptionOfControl(int control_id) {
  for (const OptionDef& option : kOptions) {
    if (option.control == OptionControl::kNone) continue;
    if (option.control == OptionControl::kPopup ? PopupItemIndex(option, control_id) >= 0
                                                : control_id == option.control_id) {
      return &option;
    }
  }
  return nullptr;
}

const OptionDef* OptionOfFlag(std::string_view flag) {
  for (const OptionDef& option : kOptions) {
    if (option.flag != nullptr && flag == option.flag) return &option;
  }
  return nullptr;
}

std::string FlagValueText(const OptionDef& option, int32_t value) {
  return ScaledText(value, option.flag_scale);
}

std::string ValueLabelText(const OptionDef& option, int32_t value) {
  return FlagValueText(option, value) + option.value_unit;
}

int PopupItemId(const OptionDef& option, size_t index) {
  return index < option.popup_ids.size() ? option.popup_ids[index]
                                         : option.control_id + static_cast<int>(index);
}

int PopupItemIndex(const OptionDef& option, int id) {
  for (size_t i = 0; i < option.popup_items.size(); ++i) {
    if (PopupItemId(option, i) == id) return static_cast<int>(i);
  }
  return -1;
}

void ShowPopupChoice(const OptionDef& option, Observer& observer) {
  const int32_t value = Settings.*option.field;
  for (size_t i = 0; i < option.popup_items.size(); ++i) {
    observer.MenuChecked(PopupItemId(option, i), static_cast<int32_t>(i) == value);
  }
}

std::string FlagValues(const OptionDef& option) {
  std::string values = option.flag_switch != nullptr ? "off|" : "";
  if (option.zero_word != nullptr) values += std::string(option.zero_word) + "|";
  if (!option.flag_words.empty()) {
    for (size_t i = 0; i < option.flag_words.size(); ++i) {
      values += (i > 0 ? "|" : "") + std::string(option.flag_words[i]);
    }
    return values;
  }
  return values + ScaledText(option.low, option.flag_scale) + ".." +
         ScaledText(option.high, option.flag_scale);
}

std::string ApplyFlag(const OptionDef& option, std::string_view value) {
  SettingsRecord& s = Settings;
  if (option.flag_switch != nullptr && value == "off") {
    s.*option.flag_switch = 0;
    return std::string();
  }
  int32_t number = 0;
  bool known = false;
  if (option.zero_word != nullptr && value == option.zero_word) {
    known = true;
  } else if (!option.flag_words.empty()) {
    const auto found = std::find(option.flag_words.begin(), option.flag_words.end(), value);
    known = found != option.flag_words.end();
    number = option.low + static_cast<int32_t>(found - option.flag_words.begin());
  } else {
    known = ScaledNumber(value, option.flag_scale, &number) && number >= option.low &&
            number <= option.high;
  }
  if (!known) {
    std::string takes;
    if (!option.flag_words.empty()) {
      takes = option.flag_switch != nullptr ? Listed(option.flag_words, "off")
                                            : "one of " + FlagValues(option);
    } else {
      takes = RangeText(option.low, option.high, option.flag_scale);
      if (option.zero_word != nullptr) takes = std::string(option.zero_word) + " or " + takes;
      if (option.flag_switch != nullptr) takes = "off or " + takes;
    }
    return std::string(option.flag) + " takes " + takes;
  }
  if (option.flag_switch != nullptr) s.*option.flag_switch = 1;
  s.*option.field = number;
  return std::string();
}

}  // namespace zqr
