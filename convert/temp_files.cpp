// Temporary-file names and their clean-up thread.
#include "convert/temp_files.h"

#include "app/shell_state.h"
#include "platform/system.h"

namespace zqr {

std::string FramePattern(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp%06d.bmp";
}

std::string SoundFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp.wav";
}

void CleanTempFiles(int32_t keep_avi) {
  const std::string folder = Shell.TempFolder;
  platform::DeleteFilesWithSuffix(folder, ".bmp");
  // Frame-file writers still finishing when the clean-up starts leave files behind;
  // the second pass catches them.
  platform::SleepMs(500);
  platform::DeleteFilesWithSuffix(folder, ".bmp");
  platform::DeleteFilesWithSuffix(folder, ".wav");
  if (keep_avi == 0) platform::DeleteFilesWithSuffix(folder, ".avi");
}

bool StartCleanTempFiles(int32_t keep_avi) {
  return platform::StartDetachedThread([keep_avi] { CleanTempFiles(keep_avi); });
}

}  // namespace zqr
