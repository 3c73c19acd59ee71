// Temporary-file names and their clean-up thread.
#include "convert/temp_files.h"

#include "app/shell_state.h"
#include "frames/frame_file.h"
#include "platform/system.h"

namespace zqr {

std::string FramePattern(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp%06d.bmp";
}

std::string SoundFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp.wav";
}

bool IsFrameFileName(std::string_view name) {
  return !frames::FrameFileDigits(name).empty();
}

bool IsSoundFileName(std::string_view name) {
  return name == "temp.wav";
}

void CleanTempFolder(const std::string& folder, int32_t /*keep_avi*/) {
  platform::DeleteFilesMatching(folder, IsFrameFileName);
  // Frame-file writers still finishing when the clean-up starts leave files behind;
  // the second pass catches them.
  platform::SleepMs(500);
  DeleteWorkFiles(folder);
}

void DeleteWorkFiles(const std::string& folder) {
  platform::DeleteFilesMatching(folder, IsFrameFileName);
  platform::DeleteFilesMatching(folder, IsSoundFileName);
}

void CleanTempFiles(int32_t keep_avi) {
  CleanTempFolder(Shell.TempFolder, keep_avi);
}

bool StartCleanTempFiles(int32_t keep_avi) {
  // The folder is read on the caller's thread: the window may change TempFolder while
  // the clean-up runs, and a string must not be read while it is being replaced.
  return platform::StartDetachedThread(
      [folder = Shell.TempFolder, keep_avi] { CleanTempFolder(folder, keep_avi); });
}

}  // namespace zqr
