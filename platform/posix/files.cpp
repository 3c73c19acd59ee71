// Gathered writes on POSIX systems: writev takes up to IOV_MAX pieces per call, and may
// write less than asked (a full disk, a signal), so the loop resumes inside a piece.
#include "platform/files.h"

#include <fcntl.h>
#include <limits.h>
#include <stdlib.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <system_error>
#include <vector>

namespace zqr::platform {

namespace {
#if defined(IOV_MAX)
constexpr std::size_t kMaxPiecesPerCall = IOV_MAX;
#else
constexpr std::size_t kMaxPiecesPerCall = 1024;
#endif

bool WriteAll(int fd, std::span<const FilePiece> pieces) {
  std::vector<iovec> vectors;
  vectors.reserve(pieces.size());
  for (const FilePiece& piece : pieces) {
    if (piece.bytes > 0) vectors.push_back({const_cast<void*>(piece.data), piece.bytes});
  }
  std::size_t next = 0;
  while (next < vectors.size()) {
    const std::size_t count = std::min(vectors.size() - next, kMaxPiecesPerCall);
    const ssize_t written = writev(fd, vectors.data() + next, static_cast<int>(count));
    if (written < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (written == 0) return false;
    // Skip the pieces written whole, then move into the one written in part.
    auto left = static_cast<std::size_t>(written);
    while (next < vectors.size() && left >= vectors[next].iov_len) {
      left -= vectors[next].iov_len;
      ++next;
    }
    if (left > 0) {
      vectors[next].iov_base = static_cast<char*>(vectors[next].iov_base) + left;
      vectors[next].iov_len -= left;
    }
  }
  return true;
}
}  // namespace

bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, pieces);
  return (close(fd) == 0) && ok;
}

bool LinkOrCopyFile(const std::string& from, const std::string& to) {
  unlink(to.c_str());
  if (link(from.c_str(), to.c_str()) == 0) return true;
  std::error_code error;
  return std::filesystem::copy_file(from, to, std::filesystem::copy_options::overwrite_existing,
                                    error);
}

bool FolderWritable(const std::string& folder) {
  struct stat info {};
  return stat(folder.c_str(), &info) == 0 && S_ISDIR(info.st_mode) &&
         access(folder.c_str(), W_OK | X_OK) == 0;
}

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) return std::string();
  return std::string(buffer.data());
}

FolderLock::~FolderLock() {
  Unlock();
}

bool FolderLock::TryLock(const std::string& folder) {
  Unlock();
  path_ = folder + "/" + kFolderLockName;
  fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0644);
  if (fd_ < 0) return false;
  if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
    close(fd_);
    fd_ = -1;
    return false;
  }
  return true;
}

void FolderLock::Unlock() {
  if (fd_ < 0) return;
  // The lock file stays: removing it would let two later runs lock two different files.
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace zqr::platform
