// Temporary-file names and their clean-up thread.
#include "convert/temp_files.h"

#include <chrono>
#include <filesystem>
#include <system_error>

#include "core/shell_state.h"
#include "frames/frame_file.h"
#include "platform/files.h"
#include "platform/system.h"

namespace zqr {

std::string FramePattern(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp%06d.bmp";
}

std::string SoundFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp.wav";
}

std::string SoundPipeFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp_wav.fifo";
}

std::string SoundMessagesFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp_sound.txt";
}

bool DeleteSoundLeftovers(const std::string& folder) {
  // A conversion holds its folder's lock while it runs; another instance's, say.
  platform::FolderLock lock;
  if (!lock.TryLock(folder)) return false;
  std::error_code error;
  std::filesystem::remove(SoundPipeFile(folder), error);
  std::filesystem::remove(SoundMessagesFile(folder), error);
  return true;
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

std::string ForeignWorkFileEntry(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = it->path().filename().string();
    if (!IsFrameFileName(name) && !IsSoundFileName(name)) continue;
    std::error_code status_error;
    if (!std::filesystem::is_regular_file(it->symlink_status(status_error))) return name;
  }
  return std::string();
}

int RemoveStaleRunFolders(const std::string& base) {
  namespace fs = std::filesystem;
  // A run takes its folder's lock straight after making it; a folder without a lock file
  // is a run in that instant or one removing its folder, unless it is old.
  constexpr auto kUnlockedAge = std::chrono::hours(1);
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(base, error), end; !error && it != end; it.increment(error)) {
    const std::string name = it->path().filename().string();
    std::error_code entry_error;
    if (!name.starts_with(kRunFolderPrefix) || !it->is_directory(entry_error) ||
        it->is_symlink(entry_error)) {
      continue;
    }
    const std::string folder = it->path().string();
    std::error_code lock_error;
    const bool has_lock = fs::exists(fs::path(folder) / platform::kFolderLockName, lock_error);
    if (!has_lock) {
      const auto changed = fs::last_write_time(folder, entry_error);
      if (entry_error || fs::file_time_type::clock::now() - changed < kUnlockedAge) continue;
    }
    platform::FolderLock lock;
    if (has_lock && !lock.TryLock(folder)) continue;  // a live run holds it
    std::error_code remove_error;
    if (fs::remove_all(folder, remove_error) > 0 && !remove_error) ++removed;
  }
  return removed;
}

bool StartCleanTempFiles(int32_t keep_avi) {
  // The folder is read on the caller's thread: the window may change TempFolder while
  // the clean-up runs, and a string must not be read while it is being replaced.
  return platform::StartDetachedThread(
      [folder = Shell.TempFolder, keep_avi] { CleanTempFolder(folder, keep_avi); });
}

}  // namespace zqr
