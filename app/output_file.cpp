// The output dialog of the Convert command.
#include "app/output_file.h"

#include <filesystem>

#include "app/window_observer.h"
#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "convert/export.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/layouts.h"
#include "platform/path.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/graph.h"
#include "video/load.h"
#include "video/play.h"
#include "video/video_state.h"

namespace zqr {

std::string ProposedOutputName(const std::string& current_video, int copy) {
  return platform::PathText(platform::PathOf(current_video).stem()) + "_Unwrapped" +
         (copy > 1 ? " (" + std::to_string(copy) + ")" : std::string()) +
         LayoutNameSuffix(Settings.StereoOn == 1 ? Settings.Layout.load() : 0);
}

namespace {

// The name suffix of each layout that shows both views whole or squeezed: one that every
// player below reads as that very layout, full and half told apart. The anaglyphs need
// none, as any player shows them. What the players publish of their naming:
//  - SKYBOX VR ("Add suffix to help recognize the correct format", skybox.xyz): LR, SBS,
//    3dh, HSBS and Half_SBS side by side; TB, OU, 3dv, HOU and Half_OU top and bottom; any
//    separator, any case.
//  - DeoVR, and HereSphere as far as it documents its names: _LR, _SBS, _3dh side by
//    side; _TB, _OU, _3dv top and bottom; full or half from the picture's shape.
//  - iw3 (nunif), whose player reads the names its converter writes: _LRF_Full_SBS full
//    side by side and _LR half; _TBF full top and bottom and _TB half.
//  - Bino: the word after the name's last "-": lr and tb full, lrh and tbh half.
struct LayoutSuffix {
  frames::OutputLayout layout;
  const char* suffix;
};
constexpr LayoutSuffix kLayoutSuffixes[] = {
    {frames::OutputLayout::kSbs, "_LRF_Full_SBS-lr"},
    {frames::OutputLayout::kHalfSbs, "_LR_Half_SBS-lrh"},
    {frames::OutputLayout::kTab, "_TBF_Full_TB-tb"},
    {frames::OutputLayout::kHalfTab, "_TB_Half_OU-tbh"},
};

}  // namespace

std::string LayoutNameSuffix(int32_t layout) {
  for (const LayoutSuffix& entry : kLayoutSuffixes) {
    if (static_cast<int32_t>(entry.layout) == layout) return entry.suffix;
  }
  return std::string();
}

// A Convert that writes no movie loses nothing: the clip stays loaded (KeepClipLoaded) after
// a cancelled dialog, a refusal, a stop or a failure. A movie written ends the playback.
std::string ChooseOutputFile(const std::string& initial_folder, int32_t /*mode*/) {
  platform::SleepMs(100);
  if (auto graph = CurrentGraph()) {
    graph->Stop();
    platform::SleepMs(100);
  }

  platform::FileDialogRequest request;
  request.title = "Save Rectangular VIDEO";
  request.folder = initial_folder;
  request.proposed_name = ProposedOutputName(CurrentVideo());
  request.filters = RectangularVideoFilters();
  // The proposed name has no extension: the type it gets is the one every player plays.
  request.filter_index = kMp4FilterIndex;
  request.save = true;
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  platform::Ui& ui = platform::CurrentUi();
  const std::string path = ui.ShowFileDialog(request);

  if (path.empty()) {
    KeepClipLoaded(WindowObserver());
    return std::string();
  }
  ui.PumpOrSleep(1);
  WindowObserver().ResetPreview();
  Shell.VideoFolder = FolderOfFile(path);
  ConversionJob job;
  job.video = CurrentLoadedVideo();
  job.output = path;
  job.temp_folder = Shell.TempFolder;
  job.keep_work_files = Conversion.KeepWorkFiles != 0;
  job.depth.video = Shell.DepthSource;
  job.depth.prior = Settings.DepthFromPrior == 1;
  if (job.depth.video.empty()) job.depth.model = SettingsModelChoice(Shell.DepthModel);
  if (ConvertMovie(job, WindowObserver()).movie_written) {
    Video.PlayState = 0;
  } else {
    KeepClipLoaded(WindowObserver());
  }
  return std::string();
}

}  // namespace zqr
