// Writing a file from pieces that lie apart in memory (a header, then rows of a wider
// frame), so a cropped frame goes to disk without first being copied into one block.
#pragma once

#include <cstddef>
#include <span>
#include <string>
#include <string_view>

namespace zqr::platform {

struct FilePiece {
  const void* data = nullptr;
  std::size_t bytes = 0;
};

// Creates `path`, or truncates it when it exists, and writes the pieces one after the
// other. False when the file could not be created or written completely (a short file may
// remain).
bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces);

// Makes `to` another name of the file `from` (a hard link, which costs no disk), or a copy
// where links cannot be made. An existing `to` is replaced. False when neither worked.
bool LinkOrCopyFile(const std::string& from, const std::string& to);

// Whether the process may create files in `folder`.
bool FolderWritable(const std::string& folder);

// A new folder inside `parent`, named `prefix` + a unique suffix; empty text on failure.
std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix);

// An exclusive lock on a folder, held by this object: a lock file inside the folder, locked
// with flock, so it is released when the process ends however it ends. Another process (or
// another FolderLock in this one) cannot take it while it is held.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when the folder is locked by someone else or the lock file cannot be made.
  bool TryLock(const std::string& folder);
  void Unlock();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  std::string path_;
};
inline constexpr const char* kFolderLockName = ".zqrstereo.lock";

}  // namespace zqr::platform
