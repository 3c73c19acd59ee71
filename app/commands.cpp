// The window procedure's handlers, in the order the procedure tests the messages: hover,
// the close request, then the commands by identifier. Commands that need a loaded video
// or a running conversion do nothing otherwise; the waits are the plain pauses with which
// a pressed button shows its pressed picture.
#include "app/commands.h"

#include <atomic>
#include <cstdlib>
#include <mutex>
#include <string_view>
#include <utility>
#include <vector>

#include "app/window_layout.h"
#include "app/window_observer.h"
#include "convert/convert_state.h"
#include "core/numbers.h"
#include "core/places.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/load.h"
#include "video/play.h"
#include "video/play_rules.h"
#include "video/video_state.h"

namespace zqr {

CommandFlags Commands;

namespace {

using platform::CurrentUi;

std::mutex hooks_mutex;
CommandHooks hooks;

CommandHooks Hooks() {
  std::lock_guard lock(hooks_mutex);
  return hooks;
}

void Wait(int milliseconds) {
  CommandHooks h = Hooks();
  if (h.sleep) {
    h.sleep(milliseconds);
  } else {
    platform::SleepMs(milliseconds);
  }
}

void PumpOneOrSleep(int milliseconds) {
  CurrentUi().PumpOrSleep(milliseconds);
}

// The pressed picture of a button for `milliseconds`, then its normal picture.
void PressButton(int id, const std::string& base, int milliseconds) {
  CurrentUi().SetPicture(id, base + "2");
  TickSound();
  Wait(milliseconds);
  CurrentUi().SetPicture(id, base + "1");
}

// A check box that mirrors a menu item's check mark: the field follows the mark.
void ToggleFromMenuMark(int id, Shared32& field) {
  platform::Ui& ui = CurrentUi();
  SettingsChange change;
  field = ui.IsMenuChecked(id) ? 0 : 1;
  ui.SetChecked(id, field == 1);
  ui.SetMenuChecked(id, field == 1);
}

// Play/Pause and Convert act on a loaded clip; without one they only say so, where a
// conversion shows its operation.
bool NoClipLoaded() {
  if (Video.PlayState != 0) return false;
  CurrentUi().SetLabel(kIdOperationLabel, "Load a video first");
  return true;
}

void PlayPause() {
  std::shared_ptr<platform::MediaGraph> graph = CurrentGraph();
  if (NoClipLoaded() || !graph) return;
  PressButton(kIdPlayPause, "b_pause", 500);
  Wait(100);
  platform::RefTime position = 0, duration = 0;
  graph->GetCurrentPosition(&position);
  graph->GetDuration(&duration);
  // A clip that has played to its end is still "playing" to the flag: the press that
  // would pause it starts it again from its first frame instead.
  const bool at_end = duration > 0 && position >= duration;
  Commands.Paused = at_end ? 0 : 1 - Commands.Paused;
  if (Commands.Paused == 0) {
    if (at_end) {
      platform::RefTime start = 0;
      WindowObserver().PositionBar(1);
      graph->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                          platform::kSeekNoPositioning);
    }
    graph->Run();
  } else {
    graph->Pause();
  }
}

void Convert() {
  if (NoClipLoaded()) return;
  PressButton(kIdConvert, "b_convert", 500);
  if (std::shared_ptr<platform::MediaGraph> graph = CurrentGraph()) {
    graph->Stop();
    Wait(100);
    platform::RefTime start = 0;
    graph->SetPositions(&start, platform::kSeekAbsolutePositioning, nullptr,
                        platform::kSeekNoPositioning);
  }
  SetBusyUi(0);
  if (CommandHooks h = Hooks(); h.choose_output_file) h.choose_output_file();
  // A clip still loaded (the dialog cancelled, the conversion stopped or failed) waits
  // paused at its start, so the next Play/Pause plays it.
  Commands.Paused = 1;
  SetBusyUi(1);
  // The window was closed during the conversion, which has now stopped and cleaned up.
  if (Commands.CloseAfterConversion.compare_exchange(1, 0)) {
    ShutDown();
    CurrentUi().CloseMainWindow();
  }
}

std::atomic<int> load_threads{0};

// The program waits for the load threads before it ends, so each one is counted.
void StartLoadThread(std::function<void()> body) {
  load_threads.fetch_add(1);
  if (!platform::StartDetachedThread([body = std::move(body)] {
        body();
        load_threads.fetch_sub(1);
      })) {
    load_threads.fetch_sub(1);
  }
}

// The clip that plays goes on playing while the open dialog is shown: the loader ends it
// only once another file has been chosen, so a Cancel leaves it as it was.
void Load() {
  platform::Ui& ui = CurrentUi();
  ui.SetPicture(kIdLoad, "b_load2");
  TickSound();
  Wait(300);
  ui.SetPicture(kIdLoad, "b_load1");
  ui.SetLabel(kIdOperationLabel, FindControlRow(kIdOperationLabel)->spec.text);
  StartLoadThread([] { LoadThread(); });
}

// A cancelled folder picker keeps the folder there was.
void SetTempPath() {
  TickSound();
  const std::string chosen = PickFolder(Shell.TempFolder);
  if (!chosen.empty()) Shell.TempFolder = UsableTempFolder(chosen);
  CurrentUi().SetLabel(kIdTempPathLabel, Shell.TempFolder);
}

// The depth-source items are marked as a set: one of them names the source, a depth file
// before a model, then the choice between the estimator and the prior.
void MarkDepthSource() {
  const bool from_file = !Shell.DepthSource.Get().empty();
  const bool from_model = !from_file && !Shell.DepthModel.Get().empty();
  const bool prior = Settings.DepthFromPrior == 1;
  CurrentUi().SetMenuChecked(kIdDepthFromFile, from_file);
  CurrentUi().SetMenuChecked(kIdDepthFromModel, from_model);
  CurrentUi().SetMenuChecked(kIdDepthFromMotion, !from_file && !from_model && !prior);
  CurrentUi().SetMenuChecked(kIdDepthFromPrior, !from_file && !from_model && prior);
}

// The depth-map effect's depth from a monocular depth model (ONNX). A cancel keeps the source
// there was; a model that cannot be used is named when a conversion opens it.
void ChooseDepthModel() {
  TickSound();
  platform::FileDialogRequest request;
  request.title = "Depth model";
  const std::string current = Shell.DepthModel;
  request.folder = current.empty() ? std::string(Shell.VideoFolder) : FolderOfFile(current);
  request.filters.emplace_back("ONNX depth models", "*.onnx");
  request.filters.emplace_back("All files", "*");
  request.file_must_exist = true;
  const std::string chosen = CurrentUi().ShowFileDialog(request);
  if (!chosen.empty()) {
    Shell.DepthModel = chosen;
    Shell.DepthSource = std::string();
    LogLine("Depth map from the depth model " + chosen);
  }
  MarkDepthSource();
}

// The depth-map effect's depth from a depth video or picture made by another tool. A cancel
// keeps the source there was; a file that cannot be read is named when a conversion opens it.
void ChooseDepthFile() {
  TickSound();
  platform::FileDialogRequest request;
  request.title = "Depth video or picture";
  const std::string current = Shell.DepthSource;
  request.folder = current.empty() ? std::string(Shell.VideoFolder) : FolderOfFile(current);
  std::vector<std::pair<std::string, std::string>> videos = OpenDialogFilters();
  request.filters.emplace_back("Depth videos and pictures",
                               videos.front().second + ";*.png;*.jpg;*.jpeg;*.bmp;*.tif;*.tiff");
  request.filters.emplace_back("All files", "*");
  request.file_must_exist = true;
  const std::string chosen = CurrentUi().ShowFileDialog(request);
  if (!chosen.empty()) {
    Shell.DepthSource = chosen;
    LogLine("Depth map from the file " + chosen);
  }
  MarkDepthSource();
}

void ImageSwitch(int id, Shared32& field) {
  TickSound();
  platform::Ui& ui = CurrentUi();
  SettingsChange change;
  field = ui.IsChecked(id) ? 1 : 0;
  const SwitchColours colours = ImageSwitchColours(field == 1);
  ui.SetTextColours(id, colours.foreground, colours.background);
}

// The sliders a Reset button sets, to the values the options table gives.
void ResetSliders(int reset_id) {
  SettingsChange change;  // a frame takes both of Sharpen's values or neither
  for (const OptionDef& option : Options()) {
    if (option.reset_id != reset_id) continue;
    Settings.*option.field = option.reset_value;
    CurrentUi().SetSliderPos(option.control_id, option.reset_value);
  }
}

}  // namespace

int LoadThreadsRunning() {
  return load_threads.load();
}

CommandHooks CurrentCommandHooks() {
  return Hooks();
}

void SetCommandHooks(CommandHooks new_hooks) {
  std::lock_guard lock(hooks_mutex);
  hooks = std::move(new_hooks);
}

bool HandleHover(int id) {
  platform::Ui& ui = CurrentUi();
  bool hand = false;
  for (size_t i = 0; i < kPictureButtons.size(); ++i) {
    if (kPictureButtons[i].id == id) {
      Commands.Hover[i] = 1;
      ui.SetPicture(id, std::string(kPictureButtons[i].base) + "3");
      hand = true;
    }
  }
  for (size_t i = 0; i < kPictureButtons.size(); ++i) {
    if (kPictureButtons[i].id != id && Commands.Hover[i] == 1) {
      Commands.Hover[i] = 0;
      ui.SetPicture(kPictureButtons[i].id, std::string(kPictureButtons[i].base) + "1");
    }
  }
  return hand;
}

bool HandleCloseRequest() {
  // Closing stops a conversion and throws its movie away: the question says so.
  const bool converting = Video.Converting != 0 || Conversion.EncoderRunning != 0;
  const std::string text =
      converting ? std::string("Are you sure?\r\n") + kCloseStopsConversionText : "Are you sure?";
  int answer =
      CurrentUi().ShowMessage(text, "Exit IDE", platform::kMbOkCancel | platform::kMbIconWarning);
  if (answer != platform::kIdOk) return false;
  if (Video.Converting != 0 || Conversion.EncoderRunning != 0) {
    // The conversion runs further down this thread's stack: it is stopped, stops its
    // encoder and removes its part of a movie, and the Convert command closes the window
    // once it has returned.
    Commands.CloseAfterConversion = 1;
    Conversion.StopRequested = 1;
    return false;
  }
  ShutDown();
  PumpOneOrSleep(1);
  return true;
}

void HandleSlider(int id, int position) {
  const OptionDef* option = OptionOfControl(id);
  if (option == nullptr || option->control != OptionControl::kSlider) return;
  SettingsChange change;
  // The position travels in the low 16 bits; a range below 0 reads them signed.
  const int32_t low = position & 0xFFFF;
  Settings.*option->field = option->low < 0 ? static_cast<int16_t>(low) : low;
  if (option->value_label_id != 0) {
    CurrentUi().SetLabel(option->value_label_id, ValueLabelText(*option, Settings.*option->field));
  }
}

namespace {
// The image controls' switches and reset buttons, the depth controls and the compression
// list; false for any other control.
bool HandleImageControl(int id, int code) {
  platform::Ui& ui = CurrentUi();
  SettingsRecord& s = Settings;
  switch (id) {
    case kIdResetSharpen:
    case kIdResetBrightness:
    case kIdResetContrast:
    case kIdResetNoise:
    case kIdResetCpu:
      ResetSliders(id);
      return true;
    case kIdSharpenSwitch:
      ImageSwitch(id, s.SharpenOn);
      return true;
    case kIdBrightnessSwitch:
      ImageSwitch(id, s.BrightnessOn);
      return true;
    case kIdContrastSwitch:
      ImageSwitch(id, s.ContrastOn);
      return true;
    case kIdCpuSwitch:
      ImageSwitch(id, s.CpuLimitOn);
      return true;
    case kIdNoiseSwitch:
      ImageSwitch(id, s.NoiseOn);
      return true;
    case kIdDepthSwitch: {
      TickSound();
      SettingsChange change;
      s.DepthOn = ui.IsChecked(id) ? 1 : 0;
      return true;
    }
    case kIdDepthList:
      TickSound();
      if (code == platform::kNotifyChange) {
        SettingsChange change;
        int32_t divisor = static_cast<int32_t>(LeadingNumber(ui.ListText(id)));
        if (divisor > 0) s.DepthDivisor = divisor;  // a divisor of 0 would stop every frame
      }
      return true;
    case kIdCompressionList:
      // The encoder takes the number the shown entry begins with, 0 for "Default Quality".
      if (code == platform::kNotifyChange) {
        Settings.CompressionValue = static_cast<int32_t>(LeadingNumber(ui.ListText(id)));
      }
      return true;
    default:
      return false;
  }
}
}  // namespace

void HandleCommand(int id, int code) {
  if (code != platform::kNotifyClick && code != platform::kNotifyChange) return;
  if (HandleImageControl(id, code)) return;
  platform::Ui& ui = CurrentUi();
  SettingsRecord& s = Settings;
  switch (id) {
    case kIdLoad:
      Load();
      return;
    case kIdAutoSave:
      ToggleFromMenuMark(id, s.AutoSave);
      return;
    case kIdStereo:
      TickSound();
      ToggleFromMenuMark(id, s.StereoOn);
      return;
    case kIdPreviewConverted:
    case kIdShowDepth: {
      // A menu item alone: the field follows its mark.
      SettingsChange change;
      Shared32& field = id == kIdShowDepth ? s.ShowDepth : s.PreviewConverted;
      field = ui.IsMenuChecked(id) ? 0 : 1;
      ui.SetMenuChecked(id, field == 1);
      return;
    }
    case kIdDepthFromFile:
      ChooseDepthFile();
      return;
    case kIdDepthFromModel:
      ChooseDepthModel();
      return;
    case kIdDepthFromPrior:
    case kIdDepthFromMotion: {
      TickSound();
      SettingsChange change;
      Shell.DepthSource = std::string();
      s.DepthFromPrior = id == kIdDepthFromPrior ? 1 : 0;
      Shell.DepthModel = std::string();
      MarkDepthSource();
      return;
    }
    case kIdOutputStream:
      ui.OpenOutputStreamWindow();
      return;
    case kIdFileInformation: {
      if (NoClipLoaded()) return;
      const std::shared_ptr<LoadedVideo> video = CurrentLoadedVideo();
      const std::string info = video ? video->probe_text() : std::string();
      if (!TrimBlanks(info).empty()) {
        ui.ShowMessage(info, "VIDEO file information", platform::kMbIconInformation);
      }
      return;
    }
    case kIdExit:
      TickSound();
      if (HandleCloseRequest()) ui.CloseMainWindow();
      return;
    case kIdSetTempPath:
      SetTempPath();
      return;
    case kIdHelp: {
      PressButton(kIdHelp, "help", 500);
      if (CommandHooks h = Hooks(); h.open_document) h.open_document(HelpDocumentPath());
      return;
    }
    case kIdShowInputVideo:
      TickSound();
      s.ShowInputVideo = ui.IsChecked(id) ? 1 : 0;
      return;
    case kIdPlayPause:
      PlayPause();
      return;
    case kIdSave:
      // The settings are the user's whether or not a clip is loaded.
      PressButton(kIdSave, "b_save", 500);
      SaveSettings();
      return;
    case kIdAbout:
      PressButton(kIdAbout, "b_about", 500);
      ui.ShowAbout();
      return;
    case kIdConvert:
      Convert();
      return;
    case kIdStop:
      if (Video.Converting == 0) return;
      PressButton(kIdStop, "b_stopt", 300);
      Conversion.StopRequested = 1;
      return;
    default:
      break;
  }
  if (const OptionPopup* popup = FindOptionPopup(id)) {
    SettingsChange change;
    s.*popup->field = PopupItemIndex(*popup->option, id);
    SetMenuChoice(*popup);
  }
}

platform::WindowEvents MainWindowEvents() {
  platform::WindowEvents events;
  events.command = HandleCommand;
  events.slider = HandleSlider;
  events.hover = HandleHover;
  events.close_request = HandleCloseRequest;
  return events;
}

void SetBusyUi(int enabled) {
  platform::Ui& ui = CurrentUi();
  for (int id : {kIdLoad, kIdSave, kIdConvert, kIdPlayPause}) ui.EnableControl(id, enabled != 0);
  // Stop is the one button of a conversion: usable exactly while the others are not.
  ui.EnableControl(kIdStop, enabled == 0);
  for (int id : {kIdLoad, kIdSave, kIdSetTempPath, kIdConvert, kIdPlayPause}) {
    ui.EnableMenuItem(id, enabled != 0);
  }
}

void ShutDown() {
  if (!Commands.ExitGuard.compare_exchange(0, 1)) return;
  Video.PlayState = 0;
  Wait(300);
  if (Settings.AutoSave == 1 && Loader.VideoLoaded == 1) SaveSettings();
  Conversion.StopRequested = 1;
  Video.PlayState = 1;
  PumpOneOrSleep(500);
  Wait(500);
  for (int pass = 0; pass < 21; ++pass) {
    if (Video.PlayState == 0) break;
    PumpOneOrSleep(100);
    Video.PlayState = 1;
  }
  Video.PlayState = 0;
  PumpOneOrSleep(1);
  Wait(100);
  if (CommandHooks h = Hooks(); h.clean_temp_files) h.clean_temp_files();
  Commands.ExitGuard = 0;
}

void LoadThread() {
  if (CommandHooks h = Hooks(); h.get_multiple_files) h.get_multiple_files();
}

void LoadGivenFile(const std::string& path) {
  Commands.Paused = 0;
  Video.PlayState = 0;
  StartLoadThread([path] {
    Video.PlayState = 1;
    PumpOneOrSleep(100);
    if (CommandHooks h = Hooks(); h.load_given_file) h.load_given_file(path);
  });
}

std::string PickFolder(const std::string& current) {
  std::string chosen = CurrentUi().PickFolder("Select Folder", WithoutTrailingSeparators(current));
  return chosen.empty() ? chosen : WithoutTrailingSeparators(chosen);
}

void PlayResourceSound(const std::string& name, const std::string& /*type*/) {
  CurrentUi().PlaySound(name);
}

void TickSound() {
  PlayResourceSound("tick", "sound3");
}

std::string HelpDocumentPath() {
  return Shell.HelpDocument;
}

}  // namespace zqr
