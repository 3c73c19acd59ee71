// The output dialog of the Convert command.
#include "app/output_file.h"

#include <filesystem>

#include "convert/convert_movie.h"
#include "convert/convert_state.h"
#include "convert/export.h"
#include "core/numbers.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/layouts.h"
#include "platform/system.h"
#include "platform/ui.h"
#include "video/graph.h"
#include "video/load.h"
#include "video/play.h"
#include "video/video_state.h"

namespace zqr {

std::string ProposedOutputName(const std::string& current_video) {
  return std::filesystem::path(current_video).stem().string() + "_Unwrapped" +
         LayoutNameSuffix(Settings.StereoOn == 1 ? Settings.Layout.load() : 0);
}

std::string LayoutNameSuffix(int32_t layout) {
  // The suffixes VR players and media centres look for to show a file in 3D.
  switch (static_cast<frames::OutputLayout>(layout)) {
    case frames::OutputLayout::kSbs:
      return "_SBS";
    case frames::OutputLayout::kHalfSbs:
      return "_3dh";
    case frames::OutputLayout::kTab:
      return "_TB";
    case frames::OutputLayout::kHalfTab:
      return "_3dv";
    default:
      return std::string();
  }
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
  request.save = true;
  request.overwrite_prompt = true;
  request.path_must_exist = true;
  platform::Ui& ui = platform::CurrentUi();
  const std::string path = ui.ShowFileDialog(request);

  if (path.empty()) {
    KeepClipLoaded();
    return std::string();
  }
  ui.PumpOrSleep(1);
  ResetPreview();
  Shell.VideoFolder = FolderOfFile(path);
  ConversionJob job;
  job.input = CurrentVideo();
  job.output = path;
  job.temp_folder = Shell.TempFolder;
  job.keep_work_files = Conversion.KeepWorkFiles != 0;
  if (ConvertMovie(job).movie_written) {
    Video.PlayState = 0;
  } else {
    KeepClipLoaded();
  }
  return std::string();
}

}  // namespace zqr
