// The window-less part of start-up, in the order the program has always run it.
#include "app/startup.h"

#include <filesystem>
#include <system_error>

#include "convert/partial_movie.h"
#include "convert/temp_files.h"
#include "core/numbers.h"
#include "core/places.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "platform/path.h"
#include "platform/system.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"

namespace zqr {

std::string ScreenCheckMessage(int32_t width, int32_t height) {
  if (height >= kMinScreenHeight) return std::string();
  return "Current Screen resolution: " + NumberText(width) + "x" + NumberText(height) +
         " pixels.\r\n" + kProgramName +
         " require Screen resolution with height >= 768 pixels.\r\n"
         "Please change the Screen resolution. The programm cannot be run.";
}

bool LoadSettingsAtStart() {
  std::error_code ec;
  if (!std::filesystem::exists(platform::PathOf(Shell.SettingsFile), ec)) {
    UseFirstRunValues();
    return false;
  }
  if (!LoadSettings()) {
    FrameStore.FrameW = 400;
    FrameStore.FrameH = 300;
  }
  Shell.TempFolder = UsableTempFolder(Shell.TempFolder);
  return true;
}

void StartShell(const std::string& executable_path) {
  SetProgramLocation(executable_path);  // LogFile, SettingsFile, default TempFolder
  SettleProgramPlaces();                // or the user's own, for an installed program
  StartRunLog();
  LogProgramPlaces();
  // A window started while another instance holds the run log is not alone: the files it
  // writes beside the program carry its process number.
  Shell.SoleInstance = !RunLogOfAnotherInstance();
  Shell.VideoFolder = platform::CurrentDirectory();
  Shell.EstimateText.Set("00.00.00");
  Shell.ElapsedText.Set("00.00.00");
  ResetSettingsToStartValues();
  AllocateInitialFrameStorage();

  if (!LoadSettingsAtStart()) {
    // A new user's first "Convert to 3D" makes a 3D movie: the window starts with the
    // effect that needs nothing else given. A batch run keeps what its options say.
    Settings.StereoOn = 1;
    Settings.StereoMode = kDepthMapMode;
  }
  std::error_code ec;
  // Without its working folder a conversion would write no frame and encode nothing.
  std::filesystem::create_directories(platform::PathOf(Shell.TempFolder), ec);
  // Batch runs that were killed left their folders behind.
  if (const int stale = RemoveStaleRunFolders(Shell.TempFolder); stale > 0) {
    LogLine("Removed stale run folders " + NumberText(stale));
  }
  // Conversions killed in the folder the movies go to left their partial movies.
  if (const int dead = RemoveDeadPartialMovies(Shell.VideoFolder); dead > 0) {
    LogLine("Removed partial movies of ended runs " + NumberText(dead));
  }
  StartCleanTempFiles(0);

  LogLine("Temp file:");
  LogLine(Shell.TempFolder);
  LogLine("Temp Folder Free Space:");
  LogLine(FormatByteGroups(platform::FreeSpaceBytes(TrimBlanks(Shell.TempFolder))) + " bytes");
}

StartRequest ReadStartRequest(const std::vector<std::string>& arguments) {
  StartRequest request;
  for (const std::string& argument : arguments) {
    if (argument.starts_with('-')) request.batch = true;
  }
  if (request.batch || arguments.empty()) return request;
  std::error_code error;
  const std::filesystem::path absolute =
      std::filesystem::absolute(platform::PathOf(arguments.front()), error);
  request.file = error ? arguments.front() : platform::PathText(absolute);
  return request;
}

}  // namespace zqr
