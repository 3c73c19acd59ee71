// Temporary-file names and their clean-up thread.
#include "convert/temp_files.h"

#include <cerrno>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#include "core/run_log.h"
#include "core/shell_state.h"
#include "frames/frame_file.h"
#include "platform/files.h"
#include "platform/named_pipe.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

std::string FramePattern(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp%06d.bmp";
}

std::string SoundFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp.wav";
}

std::string SoundPipeFile(const std::string& temp_folder) {
  return platform::NamedPipePath(temp_folder, "temp_wav.fifo");
}

std::string SoundMessagesFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp_sound.txt";
}

bool DeleteSoundLeftovers(const std::string& folder) {
  // A conversion holds its folder's lock while it runs; another instance's, say.
  platform::FolderLock lock;
  if (!lock.TryLock(folder)) return false;
  std::error_code error;
  std::filesystem::remove(platform::PathOf(SoundPipeFile(folder)), error);
  std::filesystem::remove(platform::PathOf(SoundMessagesFile(folder)), error);
  return true;
}

bool IsFrameFileName(std::string_view name) {
  return !frames::FrameFileDigits(name).empty();
}

bool IsSoundFileName(std::string_view name) {
  return name == "temp.wav";
}

void CleanTempFolder(const std::string& folder, int32_t /*keep_avi*/) {
  // A folder a conversion holds (another window's, started before this one) is that
  // conversion's: its frames and sound are still to be encoded, perhaps again. Held for
  // both passes, so that no conversion starts in it between them.
  platform::FolderLock lock;
  if (!lock.TryLock(folder) && lock.busy()) {
    LogLine("Temporary files left alone: another conversion holds " + folder);
    return;
  }
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
  for (std::filesystem::directory_iterator it(platform::PathOf(folder), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = platform::PathText(it->path().filename());
    if (!IsFrameFileName(name) && !IsSoundFileName(name) && name != "temp_sound.txt" &&
        name != "temp_encoder.txt") {
      continue;
    }
    std::error_code status_error;
    if (!std::filesystem::is_regular_file(it->symlink_status(status_error))) return name;
  }
  return std::string();
}

namespace {
std::string RunFolderMark(const std::string& folder) {
  return "Kavelund ZQR Stereo Video Coverter run folder " + platform::FileIdentity(folder) + "\n";
}

std::string MarkPath(const std::string& folder) {
  return folder + platform::kPathSeparator + kRunFolderMarkName;
}

// "run-" and the six letters or digits mkdtemp puts in place of XXXXXX.
bool IsRunFolderName(std::string_view name) {
  const std::string_view prefix = kRunFolderPrefix;
  if (name.size() != prefix.size() + 6 || !name.starts_with(prefix)) return false;
  for (const char c : name.substr(prefix.size())) {
    const bool alphanumeric =
        (c >= '0' && c <= '9') || (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
    if (!alphanumeric) return false;
  }
  return true;
}
}  // namespace

std::string MakeRunFolder(const std::string& base, platform::FolderLock& lock, int* error) {
  const std::string folder = platform::MakeUniqueFolder(base, kRunFolderPrefix, error);
  if (folder.empty()) return folder;
  // Locked before it is marked: a sweep takes a marked folder only with its lock.
  if (!lock.LockNewFolder(folder) ||
      !platform::WriteNewFile(MarkPath(folder), RunFolderMark(folder))) {
    if (error != nullptr) *error = errno;
    lock.Unlock();
    std::error_code remove_error;
    std::filesystem::remove_all(platform::PathOf(folder), remove_error);
    return std::string();
  }
  return folder;
}

bool IsMarkedRunFolder(const std::string& folder) {
  std::string mark;
  return platform::ReadRegularFile(MarkPath(folder), mark, 256) && mark == RunFolderMark(folder);
}

void KeepRunFolder(const std::string& folder) {
  std::error_code error;
  std::filesystem::remove(platform::PathOf(MarkPath(folder)), error);
}

bool HoldsWorkFiles(const std::string& folder) {
  std::error_code error;
  for (std::filesystem::directory_iterator it(platform::PathOf(folder), error), end;
       !error && it != end; it.increment(error)) {
    const std::string name = platform::PathText(it->path().filename());
    if (IsFrameFileName(name) || IsSoundFileName(name)) return true;
  }
  return false;
}

int RemoveStaleRunFolders(const std::string& base) {
  namespace fs = std::filesystem;
  int removed = 0;
  std::error_code error;
  for (fs::directory_iterator it(platform::PathOf(base), error), end; !error && it != end;
       it.increment(error)) {
    const std::string name = platform::PathText(it->path().filename());
    std::error_code entry_error;
    if (!IsRunFolderName(name) || it->is_symlink(entry_error) || !it->is_directory(entry_error)) {
      continue;
    }
    const std::string folder = platform::PathText(it->path());
    // A folder being made is not marked yet; one marked is locked by its run while it lives.
    if (!IsMarkedRunFolder(folder)) continue;
    platform::FolderLock lock;
    if (lock.TryLock(folder) && RemoveLockedRunFolder(folder, lock)) ++removed;
  }
  return removed;
}

// Windows deletes neither an open file (the lock file) nor a folder that still holds one.
// So the mark goes first (no sweep takes the folder once it is unlocked), then everything
// but the lock file, then the lock with its file, and then the folder.
bool RemoveLockedRunFolder(const std::string& folder, platform::FolderLock& lock) {
  namespace fs = std::filesystem;
  const fs::path path = platform::PathOf(folder);
  std::error_code error;
  fs::remove(platform::PathOf(MarkPath(folder)), error);
  std::vector<fs::path> entries;
  for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error)) {
    if (platform::PathText(it->path().filename()) != platform::kFolderLockName) {
      entries.push_back(it->path());
    }
  }
  for (const fs::path& entry : entries) fs::remove_all(entry, error);
  lock.Unlock();
  error.clear();
  fs::remove_all(path, error);
  return !error && !fs::exists(path, error);
}

bool StartCleanTempFiles(int32_t keep_avi) {
  // The folder is read on the caller's thread: the window may change TempFolder while
  // the clean-up runs, and a string must not be read while it is being replaced.
  return platform::StartDetachedThread(
      [folder = Shell.TempFolder, keep_avi] { CleanTempFolder(folder, keep_avi); });
}

}  // namespace zqr
