// The options table: every image control and output option of the settings record,
// written down once — its key in the settings file, start value and range, the window's
// control for it (slider, switch, list or option popup) with its tooltip and Reset value,
// and its batch flag with the words that flag takes. The settings loader and saver, the
// window's layout tables, Reset, the slider handler and the batch-mode parser are all
// derived from it (as libavfilter derives its options from its AVOption tables).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "core/observer.h"
#include "core/settings.h"

namespace zqr {

using SettingsField = Shared32 SettingsRecord::*;

// The kind of window control that shows an option.
enum class OptionControl { kNone, kSlider, kSwitch, kList, kPopup };

struct OptionDef {
  SettingsField field = nullptr;
  const char* key = nullptr;  // tag in the settings file; null: not kept there
  int32_t start = 0;          // the value before any settings file is read
  int32_t low = 0;            // the range of the control, the batch flag and the loader
  int32_t high = 1;
  int32_t stored_zero = 0;  // a 0 in the settings file stands for this; 0: for itself

  OptionControl control = OptionControl::kNone;
  int control_id = 0;  // the slider, the check box, the list, or the popup's first item
  int page = 1;        // a slider's page step
  const char* tooltip = nullptr;
  int reset_id = 0;  // the Reset button that sets it, and to what
  int32_t reset_value = 0;
  const char* popup_title = nullptr;              // the Option menu's item that opens its popup
  std::span<const char* const> popup_items = {};  // in value order
  // The items' ids when they are not control_id, control_id + 1, ... (an item added later
  // where the next id was already taken).
  std::span<const int> popup_ids = {};

  const char* flag = nullptr;                    // its batch flag; null: none
  const char* flag_help = nullptr;               // the flag's line in --help
  SettingsField flag_switch = nullptr;           // "off" switches this off, a value switches it on
  std::span<const char* const> flag_words = {};  // the flag's words for low, low + 1, ...
  const char* zero_word = nullptr;               // a word the flag takes for 0 below the range
  // The flag's number is the field divided by this (10: "2.5" stores 25), with as many
  // decimals as the scale has zeros.
  int32_t flag_scale = 1;
  // A label beside a slider that shows its value as the flag writes it, and its unit.
  int value_label_id = 0;
  const char* value_unit = "";
};

// Every row, the batch flags' rows first in the order --help lists them.
std::span<const OptionDef> Options();

// The row of a settings field, of a control (slider, switch, list, popup item) or of a
// batch flag; null when there is none.
const OptionDef* OptionOfField(SettingsField field);
const OptionDef* OptionOfControl(int control_id);
const OptionDef* OptionOfFlag(std::string_view flag);

// A value as the option's flag writes it ("2.5" for 25 with a scale of 10), and with the
// unit its value label shows.
std::string FlagValueText(const OptionDef& option, int32_t value);
std::string ValueLabelText(const OptionDef& option, int32_t value);

// The id of a popup's item `index`, and the index of the item with that id (-1: none).
int PopupItemId(const OptionDef& option, size_t index);
int PopupItemIndex(const OptionDef& option, int id);

// The window's check mark in an option's popup moved to the item of the field's value.
void ShowPopupChoice(const OptionDef& option, Observer& observer);

// The values a flag takes, as --help shows them ("off|0..5", "auto|100k|...").
std::string FlagValues(const OptionDef& option);
// Applies a batch flag's value to the settings: empty text, or the message naming the flag
// and what it takes (the settings are then left as they were).
std::string ApplyFlag(const OptionDef& option, std::string_view value);

}  // namespace zqr
