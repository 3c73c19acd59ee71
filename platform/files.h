// Writing a file from pieces that lie apart in memory (a header, then rows of a wider
// frame), so a cropped frame goes to disk without first being copied into one block.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <span>
#include <string>
#include <string_view>

namespace zqr::platform {

struct FilePiece {
  const void* data = nullptr;
  std::size_t bytes = 0;
};

// fopen for a UTF-8 name: the C library's own fopen reads the name in the narrow encoding
// of the system, which on Windows is not UTF-8.
std::FILE* OpenFile(const std::string& path, const char* mode);

// Creates `path`, or truncates it when it exists (a link is not followed: it fails), and
// writes the pieces one after the other. False when the file could not be created or written
// completely (a short file may remain).
bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces);

// The same for large files written once and read later by another program (the frame
// files): the data goes to the disk without passing through the page cache. Copying
// gigabytes through the cache costs the processor several times more than the writes
// themselves, and the cached pages would push out what other programs keep there. Where
// the file system refuses uncached writes, this is WriteFilePieces.
bool WriteFilePiecesUncached(const std::string& path, std::span<const FilePiece> pieces);

// Creates `path` as a new empty file; false when anything (a file, a link, a folder) has
// that name already, so nothing is ever written through a link someone left there.
bool CreateNewFile(const std::string& path);

// Creates `path` as a new file holding `text`, never through a link and never over a file of
// that name. False when the name is taken or the text could not be written whole.
bool WriteNewFile(const std::string& path, std::string_view text);

// Reads a whole regular file of at most `max_bytes` into `out`. A FIFO, a device or a folder
// is refused without waiting for a writer (it is opened without blocking), as is a larger file.
bool ReadRegularFile(const std::string& path, std::string& out, std::size_t max_bytes);

// Empties `path` (creating it if need be) and writes `text` into it, but only when it is a
// regular file: a FIFO would hold the writer until someone read it. A link is followed.
bool ReplaceRegularFile(const std::string& path, std::string_view text);

// Appends `text` to the regular file `path`, creating it; never through a link, and never
// to a FIFO or a device (opened without blocking, then refused).
bool AppendToRegularFile(const std::string& path, std::string_view text);

// Removes the regular file `path` unless a live process holds it (HeldFile, or a partial
// movie being written). A link, a folder or a held file stays. False when nothing went.
bool RemoveIfUnheld(const std::string& path);

// The identity of a file or folder (its device and inode numbers, not following a link):
// a copy of it, or something put in its place, has another. Empty when it does not exist.
std::string FileIdentity(const std::string& path);

// Words for a file operation's error number, for the user: "read-only file system",
// "permission denied", "no space left on the disk", ...
std::string FileErrorText(int error_number);

// Makes `to` another name of the file `from` (a hard link, which costs no disk), or a copy
// where links cannot be made. An existing `to` is replaced. False when neither worked.
bool LinkOrCopyFile(const std::string& from, const std::string& to);

// Whether the process may create files in `folder`.
bool FolderWritable(const std::string& folder);

// A new folder inside `parent`, named `prefix` + a unique suffix of six letters and digits,
// which only this user may enter; empty text on failure, with the error number in `error`.
std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix,
                             int* error = nullptr);

// An exclusive lock on a folder, held by this object: a lock file inside the folder, locked
// with flock, so it is released when the process ends however it ends. Another process (or
// another FolderLock in this one) cannot take it while it is held.
class FolderLock {
 public:
  FolderLock() = default;
  ~FolderLock();
  FolderLock(const FolderLock&) = delete;
  FolderLock& operator=(const FolderLock&) = delete;
  // False when the folder is locked by someone else or the lock file cannot be made (a
  // link of that name is never followed); busy() tells which.
  bool TryLock(const std::string& folder);
  // After a failed TryLock: whether another holder has the lock (else error() says why the
  // lock file could not be made).
  bool busy() const { return error_ == 0; }
  int error() const { return error_; }
  // For a folder just made: the lock file appears already held (made under another name,
  // locked, then renamed), so that another run's clean-up of stale folders, which takes
  // the lock of any folder it may remove, can never take it first.
  bool LockNewFolder(const std::string& folder);
  void Unlock();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
  int error_ = 0;
  std::string path_;
};
inline constexpr const char* kFolderLockName = ".zqrstereo.lock";

// A file kept open with an exclusive lock for as long as this object holds it (the run log
// of a live instance); other processes see it held until this one lets go or ends. Unlike
// FolderLock's, the file stays when it is let go.
class HeldFile {
 public:
  enum class Result { kHeld, kBusy, kFailed };
  HeldFile() = default;
  ~HeldFile();
  HeldFile(const HeldFile&) = delete;
  HeldFile& operator=(const HeldFile&) = delete;
  // Opens (creates) `path`, never through a link, and locks it: kBusy when another holder
  // has it, kFailed when it cannot be opened or is not a regular file (a FIFO is refused
  // without waiting for a reader).
  Result TryHold(const std::string& path);
  // Creates `path` as a new file (never over anything of that name) and holds it.
  bool CreateNew(const std::string& path);
  // Up to `bytes` bytes from the start of the held file.
  std::string ReadStart(std::size_t bytes) const;
  // Empties the held file.
  bool Truncate();
  // Where the held file is now (its folder may have been renamed since it was made);
  // empty when it has no name any more.
  std::string CurrentPath() const;
  // Removes the held file by the name it has now, and lets it go.
  void RemoveAndRelease();
  void Release();
  bool held() const { return fd_ >= 0; }

 private:
  int fd_ = -1;
};

}  // namespace zqr::platform
