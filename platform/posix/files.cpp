// Gathered writes on POSIX systems: writev takes up to IOV_MAX pieces per call, and may
// write less than asked (a full disk, a signal), so the loop resumes inside a piece. The
// uncached writes gather the pieces into one aligned area instead, as O_DIRECT needs.
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
#include <cstdio>
#include <cstdlib>
#include <cstring>
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

namespace {
// O_DIRECT wants the memory, the file offsets and the lengths in whole blocks of the
// device; 4096 bytes covers every block size in use.
constexpr std::size_t kDirectBlock = 4096;

std::size_t WholeBlocks(std::size_t bytes) {
  return std::max((bytes + kDirectBlock - 1) / kDirectBlock, std::size_t{1}) * kDirectBlock;
}

// Grows a block-aligned area to at least `bytes` (what it held goes); null when memory is
// short.
std::byte* ReserveBlocks(std::byte*& data, std::size_t& capacity, std::size_t bytes) {
  if (bytes > capacity) {
    void* fresh = nullptr;
    if (posix_memalign(&fresh, kDirectBlock, bytes) != 0) return nullptr;
    std::free(data);
    data = static_cast<std::byte*>(fresh);
    capacity = bytes;
  }
  return data;
}

// A staging area per writing thread, kept between files: the pieces are gathered into it,
// padded with zeros to a whole block.
struct StagingArea {
  std::byte* data = nullptr;
  std::size_t capacity = 0;
  ~StagingArea() { std::free(data); }
};

// Writes the whole file uncached; 0 on success, else the errno of what failed.
int WriteUncached(const std::string& path, std::span<const FilePiece> pieces) {
  std::size_t total = 0;
  for (const FilePiece& piece : pieces) total += piece.bytes;
  const std::size_t padded = WholeBlocks(total);
  thread_local StagingArea staging;
  std::byte* area = ReserveBlocks(staging.data, staging.capacity, padded);
  if (area == nullptr) return ENOMEM;
  std::byte* at = area;
  for (const FilePiece& piece : pieces) {
    if (piece.bytes > 0) std::memcpy(at, piece.data, piece.bytes);
    at += piece.bytes;
  }
  std::memset(at, 0, padded - total);

  const int fd =
      open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW | O_DIRECT, 0666);
  if (fd < 0) return errno;
  int error = 0;
  std::size_t done = 0;
  while (done < padded && error == 0) {
    const ssize_t written = write(fd, area + done, padded - done);
    if (written < 0) {
      if (errno != EINTR) error = errno;
    } else if (written == 0 || static_cast<std::size_t>(written) % kDirectBlock != 0) {
      error = ENOSPC;  // a short write: the disk is full
    } else {
      done += static_cast<std::size_t>(written);
    }
  }
  // The padding goes again: the file ends where its data ends.
  if (error == 0 && ftruncate(fd, static_cast<off_t>(total)) != 0) error = errno;
  if (close(fd) != 0 && error == 0) error = errno;
  return error;
}
}  // namespace

bool WriteFilePiecesUncached(const std::string& path, std::span<const FilePiece> pieces) {
  const int error = WriteUncached(path, pieces);
  if (error == 0) return true;
  // EINVAL: this file system takes no uncached writes (or not with this alignment).
  return error == EINVAL && WriteFilePieces(path, pieces);
}

std::FILE* OpenFile(const std::string& path, const char* mode) {
  return std::fopen(path.c_str(), mode);
}

bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  const bool ok = WriteAll(fd, pieces);
  return (close(fd) == 0) && ok;
}

bool CreateNewFile(const std::string& path) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  return fd >= 0 && close(fd) == 0;
}

namespace {
bool WriteText(int fd, std::string_view text) {
  const FilePiece piece{text.data(), text.size()};
  return WriteAll(fd, std::span<const FilePiece>(&piece, 1));
}

// Opens without waiting (a FIFO without a writer or reader would hold the caller), then
// keeps the descriptor only for a regular file, in blocking mode again.
int OpenRegular(const std::string& path, int flags, mode_t mode = 0666) {
  const int fd = open(path.c_str(), flags | O_NONBLOCK | O_CLOEXEC, mode);
  if (fd < 0) return -1;
  struct stat info {};
  if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
    close(fd);
    errno = EINVAL;
    return -1;
  }
  fcntl(fd, F_SETFL, fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  return fd;
}
}  // namespace

bool WriteNewFile(const std::string& path, std::string_view text) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  const bool ok = WriteText(fd, text);
  return close(fd) == 0 && ok;
}

bool ReadRegularFile(const std::string& path, std::string& out, std::size_t max_bytes) {
  out.clear();
  const int fd = OpenRegular(path, O_RDONLY);
  if (fd < 0) return false;
  struct stat info {};
  bool ok = fstat(fd, &info) == 0 && static_cast<std::size_t>(info.st_size) <= max_bytes;
  char buffer[8192];
  while (ok) {
    const ssize_t got = read(fd, buffer, sizeof buffer);
    if (got < 0 && errno == EINTR) continue;
    if (got <= 0) {
      ok = got == 0;
      break;
    }
    out.append(buffer, static_cast<std::size_t>(got));
    ok = out.size() <= max_bytes;
  }
  close(fd);
  return ok;
}

bool ReplaceRegularFile(const std::string& path, std::string_view text) {
  const int fd = OpenRegular(path, O_WRONLY | O_CREAT);
  if (fd < 0) return false;
  const bool ok = ftruncate(fd, 0) == 0 && WriteText(fd, text);
  return close(fd) == 0 && ok;
}

bool AppendToRegularFile(const std::string& path, std::string_view text) {
  const int fd = OpenRegular(path, O_WRONLY | O_CREAT | O_APPEND | O_NOFOLLOW);
  if (fd < 0) return false;
  const bool ok = WriteText(fd, text);
  return close(fd) == 0 && ok;
}

bool RemoveIfUnheld(const std::string& path) {
  const int fd = OpenRegular(path, O_RDONLY | O_NOFOLLOW);
  if (fd < 0) return false;
  bool removed = false;
  if (flock(fd, LOCK_EX | LOCK_NB) == 0) {
    // Still the file that was opened, not one put in its place meanwhile.
    struct stat held {
    }, named{};
    if (fstat(fd, &held) == 0 && lstat(path.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      removed = unlink(path.c_str()) == 0;
    }
  }
  close(fd);
  return removed;
}

std::string FileIdentity(const std::string& path) {
  struct stat info {};
  if (lstat(path.c_str(), &info) != 0) return std::string();
  return std::to_string(static_cast<unsigned long long>(info.st_dev)) + ":" +
         std::to_string(static_cast<unsigned long long>(info.st_ino));
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

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix, int* error) {
  std::string pattern = parent + "/" + prefix + "XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (mkdtemp(buffer.data()) == nullptr) {
    if (error != nullptr) *error = errno;
    return std::string();
  }
  return std::string(buffer.data());
}

FolderLock::~FolderLock() {
  Unlock();
}

bool FolderLock::TryLock(const std::string& folder) {
  Unlock();
  error_ = 0;
  path_ = folder + "/" + kFolderLockName;
  // The holder removes the file when it lets go, so a lock taken on a file that has just
  // been removed (or replaced) is worthless: try again on the file the name now gives.
  for (int attempt = 0; attempt < 8; ++attempt) {
    fd_ = open(path_.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW | O_NONBLOCK, 0644);
    if (fd_ < 0) {
      error_ = errno;
      return false;
    }
    if (flock(fd_, LOCK_EX | LOCK_NB) != 0) {
      if (errno != EWOULDBLOCK) error_ = errno;
      close(fd_);
      fd_ = -1;
      return false;
    }
    struct stat held {
    }, named{};
    if (fstat(fd_, &held) == 0 && stat(path_.c_str(), &named) == 0 && held.st_dev == named.st_dev &&
        held.st_ino == named.st_ino) {
      return true;
    }
    close(fd_);
    fd_ = -1;
  }
  return false;
}

bool FolderLock::LockNewFolder(const std::string& folder) {
  Unlock();
  const std::string staging = folder + "/" + kFolderLockName + ".new";
  const int fd = open(staging.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0644);
  if (fd < 0) return false;
  const std::string path = folder + "/" + kFolderLockName;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0 || rename(staging.c_str(), path.c_str()) != 0) {
    unlink(staging.c_str());
    close(fd);
    return false;
  }
  fd_ = fd;
  path_ = path;
  return true;
}

void FolderLock::Unlock() {
  if (fd_ < 0) return;
  // Removed while still held, so the user's folder keeps nothing of ours; a run that opened
  // the old file meanwhile sees it gone and tries again.
  unlink(path_.c_str());
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

HeldFile::~HeldFile() {
  Release();
}

HeldFile::Result HeldFile::TryHold(const std::string& path) {
  Release();
  const int fd = OpenRegular(path, O_RDWR | O_CREAT | O_NOFOLLOW);
  if (fd < 0) return Result::kFailed;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    const bool busy = errno == EWOULDBLOCK;
    close(fd);
    return busy ? Result::kBusy : Result::kFailed;
  }
  fd_ = fd;
  return Result::kHeld;
}

bool HeldFile::CreateNew(const std::string& path) {
  Release();
  const int fd = open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC | O_NOFOLLOW, 0666);
  if (fd < 0) return false;
  if (flock(fd, LOCK_EX | LOCK_NB) != 0) {
    unlink(path.c_str());
    close(fd);
    return false;
  }
  fd_ = fd;
  return true;
}

std::string HeldFile::ReadStart(std::size_t bytes) const {
  std::string text(bytes, '\0');
  const ssize_t got = fd_ >= 0 ? pread(fd_, text.data(), bytes, 0) : -1;
  text.resize(got > 0 ? static_cast<std::size_t>(got) : 0);
  return text;
}

bool HeldFile::Truncate() {
  return fd_ >= 0 && ftruncate(fd_, 0) == 0;
}

std::string HeldFile::CurrentPath() const {
  if (fd_ < 0) return std::string();
  const std::string link = "/proc/self/fd/" + std::to_string(fd_);
  std::string path(4096, '\0');
  const ssize_t length = readlink(link.c_str(), path.data(), path.size());
  if (length <= 0 || static_cast<size_t>(length) >= path.size()) return std::string();
  path.resize(static_cast<size_t>(length));
  struct stat named {};
  struct stat held {};
  // A removed file's link names its old path with " (deleted)".
  if (lstat(path.c_str(), &named) != 0 || fstat(fd_, &held) != 0 || named.st_dev != held.st_dev ||
      named.st_ino != held.st_ino) {
    return std::string();
  }
  return path;
}

void HeldFile::RemoveAndRelease() {
  const std::string path = CurrentPath();
  if (!path.empty()) unlink(path.c_str());
  Release();
}

void HeldFile::Release() {
  if (fd_ < 0) return;
  flock(fd_, LOCK_UN);
  close(fd_);
  fd_ = -1;
}

}  // namespace zqr::platform
