// File services on Windows. Every file is opened so that others may still read, write,
// rename and delete it, as on POSIX systems; names are never followed through a link
// (a reparse point) where the POSIX twin refuses links. The uncached writes use
// FILE_FLAG_NO_BUFFERING with write-through, which wants whole sectors at aligned
// addresses, so the pieces are gathered into one aligned area first.
#include "platform/files.h"

#include <malloc.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <system_error>
#include <vector>

#include "platform/system.h"
#include "platform/win32/win32_common.h"

namespace zqr::platform {

using win32::FailWithLastError;
using win32::HandleOf;
using win32::IsRegularFileHandle;
using win32::kShareAll;
using win32::ValueOf;
using win32::Wide;

namespace {

// Opens `path`; with `no_follow` a link is opened as itself and then refused. Sets errno
// on failure.
HANDLE Open(const std::string& path, DWORD access, DWORD disposition, bool no_follow,
            DWORD flags = FILE_ATTRIBUTE_NORMAL) {
  if (no_follow) flags |= FILE_FLAG_OPEN_REPARSE_POINT;
  const HANDLE file =
      CreateFileW(Wide(path).c_str(), access, kShareAll, nullptr, disposition, flags, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    FailWithLastError();
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

// Keeps `file` only when it is a regular file (a pipe, a device, a folder or a link is
// closed again: EINVAL).
HANDLE OnlyRegular(HANDLE file) {
  if (file == INVALID_HANDLE_VALUE) return file;
  if (!IsRegularFileHandle(file)) {
    CloseHandle(file);
    errno = EINVAL;
    return INVALID_HANDLE_VALUE;
  }
  return file;
}

bool SetLength(HANDLE file, uint64_t length) {
  FILE_END_OF_FILE_INFO end{};
  end.EndOfFile.QuadPart = static_cast<LONGLONG>(length);
  return SetFileInformationByHandle(file, FileEndOfFileInfo, &end, sizeof end) != 0 ||
         FailWithLastError();
}

bool WriteBytes(HANDLE file, const void* data, std::size_t bytes) {
  const char* at = static_cast<const char*>(data);
  while (bytes > 0) {
    const DWORD chunk = static_cast<DWORD>(std::min<std::size_t>(bytes, 1u << 30));
    DWORD written = 0;
    if (!WriteFile(file, at, chunk, &written, nullptr)) return FailWithLastError();
    if (written == 0) {
      errno = ENOSPC;
      return false;
    }
    at += written;
    bytes -= written;
  }
  return true;
}

// Writes the pieces one after the other. Small pieces (the rows of a cropped frame) are
// gathered first: one system call per row would cost more than the copy. The gathering
// area is the call's own, not a thread_local (see StagingArea below).
bool WriteAll(HANDLE file, std::span<const FilePiece> pieces) {
  constexpr std::size_t kGather = std::size_t{1} << 20;
  std::vector<char> staging;
  std::size_t held = 0;
  for (const FilePiece& piece : pieces) {
    if (piece.bytes == 0) continue;
    if (piece.bytes >= kGather) {
      if (held > 0 && !WriteBytes(file, staging.data(), held)) return false;
      held = 0;
      if (!WriteBytes(file, piece.data, piece.bytes)) return false;
      continue;
    }
    if (held + piece.bytes > kGather) {
      if (!WriteBytes(file, staging.data(), held)) return false;
      held = 0;
    }
    if (staging.size() < kGather) staging.resize(kGather);
    std::memcpy(staging.data() + held, piece.data, piece.bytes);
    held += piece.bytes;
  }
  return held == 0 || WriteBytes(file, staging.data(), held);
}

bool WriteText(HANDLE file, std::string_view text) {
  return WriteBytes(file, text.data(), text.size());
}

bool CloseOk(HANDLE file, bool ok) {
  const bool closed = CloseHandle(file) != 0;
  return closed && ok;
}

// The identity of an open file: the volume's serial number and the file's index on it.
std::string IdentityOf(HANDLE file) {
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(file, &info)) return std::string();
  const uint64_t index = (uint64_t{info.nFileIndexHigh} << 32) | info.nFileIndexLow;
  return std::to_string(info.dwVolumeSerialNumber) + ":" + std::to_string(index);
}

}  // namespace

namespace {
// FILE_FLAG_NO_BUFFERING wants the memory, the file offsets and the lengths in whole
// sectors; 4096 bytes covers every sector size in use.
constexpr std::size_t kDirectBlock = 4096;

std::size_t WholeBlocks(std::size_t bytes) {
  return std::max((bytes + kDirectBlock - 1) / kDirectBlock, std::size_t{1}) * kDirectBlock;
}

// Grows a block-aligned area to at least `bytes` (what it held goes); null when memory is
// short.
std::byte* ReserveBlocks(std::byte*& data, std::size_t& capacity, std::size_t bytes) {
  if (bytes > capacity) {
    void* fresh = _aligned_malloc(bytes, kDirectBlock);
    if (fresh == nullptr) return nullptr;
    _aligned_free(data);
    data = static_cast<std::byte*>(fresh);
    capacity = bytes;
  }
  return data;
}

// A staging area per file. Not one per thread kept between files: MinGW may free a
// thread_local's storage before its destructor runs at thread exit, which then frees garbage.
struct StagingArea {
  std::byte* data = nullptr;
  std::size_t capacity = 0;
  ~StagingArea() { _aligned_free(data); }
};

// Writes the whole file uncached; 0 on success, else the errno of what failed.
int WriteUncached(const std::string& path, std::span<const FilePiece> pieces) {
  std::size_t total = 0;
  for (const FilePiece& piece : pieces) total += piece.bytes;
  const std::size_t padded = WholeBlocks(total);
  StagingArea staging;
  std::byte* area = ReserveBlocks(staging.data, staging.capacity, padded);
  if (area == nullptr) return ENOMEM;
  std::byte* at = area;
  for (const FilePiece& piece : pieces) {
    if (piece.bytes > 0) std::memcpy(at, piece.data, piece.bytes);
    at += piece.bytes;
  }
  std::memset(at, 0, padded - total);

  HANDLE file = OnlyRegular(Open(path, GENERIC_WRITE, OPEN_ALWAYS, true,
                                 FILE_FLAG_NO_BUFFERING | FILE_FLAG_WRITE_THROUGH));
  if (file == INVALID_HANDLE_VALUE) return errno;
  int error = SetLength(file, 0) ? 0 : errno;
  if (error == 0 && !WriteBytes(file, area, padded)) error = errno;
  // The padding goes again: the file ends where its data ends.
  if (error == 0 && !SetLength(file, total)) error = errno;
  if (!CloseHandle(file) && error == 0) error = EIO;
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
  return _wfopen(Wide(path).c_str(), Wide(mode).c_str());
}

bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces) {
  const HANDLE file = OnlyRegular(Open(path, GENERIC_WRITE, OPEN_ALWAYS, true));
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = SetLength(file, 0) && WriteAll(file, pieces);
  return CloseOk(file, ok);
}

bool CreateNewFile(const std::string& path) {
  const HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW, true);
  return file != INVALID_HANDLE_VALUE && CloseHandle(file) != 0;
}

bool WriteNewFile(const std::string& path, std::string_view text) {
  const HANDLE file = Open(path, GENERIC_WRITE, CREATE_NEW, true);
  if (file == INVALID_HANDLE_VALUE) return false;
  return CloseOk(file, WriteText(file, text));
}

bool ReadRegularFile(const std::string& path, std::string& out, std::size_t max_bytes) {
  out.clear();
  // A pipe or a device is refused once opened; opening one does not wait on Windows.
  const HANDLE file = OnlyRegular(Open(path, GENERIC_READ, OPEN_EXISTING, false));
  if (file == INVALID_HANDLE_VALUE) return false;
  LARGE_INTEGER size{};
  bool ok = GetFileSizeEx(file, &size) && static_cast<uint64_t>(size.QuadPart) <= max_bytes;
  char buffer[8192];
  while (ok) {
    DWORD got = 0;
    if (!ReadFile(file, buffer, sizeof buffer, &got, nullptr)) {
      ok = false;
      break;
    }
    if (got == 0) break;
    out.append(buffer, got);
    ok = out.size() <= max_bytes;
  }
  CloseHandle(file);
  return ok;
}

bool ReplaceRegularFile(const std::string& path, std::string_view text) {
  const HANDLE file = OnlyRegular(Open(path, GENERIC_WRITE, OPEN_ALWAYS, false));
  if (file == INVALID_HANDLE_VALUE) return false;
  return CloseOk(file, SetLength(file, 0) && WriteText(file, text));
}

bool AppendToRegularFile(const std::string& path, std::string_view text) {
  // Opened for appending only: every write goes to the end, whoever else writes there.
  const HANDLE file = OnlyRegular(Open(path, FILE_APPEND_DATA | SYNCHRONIZE, OPEN_ALWAYS, true));
  if (file == INVALID_HANDLE_VALUE) return false;
  return CloseOk(file, WriteText(file, text));
}

bool RemoveIfUnheld(const std::string& path) {
  // Opened with the right to delete, and deleted through this very handle: what goes is
  // the file that was found unheld, never one put in its place meanwhile. A program that
  // writes the file without letting others delete it (a movie being encoded) keeps it.
  const HANDLE file = OnlyRegular(Open(path, GENERIC_READ | DELETE, OPEN_EXISTING, true));
  if (file == INVALID_HANDLE_VALUE) return false;
  bool removed = false;
  if (win32::LockFar(file, false)) {
    FILE_DISPOSITION_INFO disposition{};
    disposition.DeleteFile = TRUE;
    removed = SetFileInformationByHandle(file, FileDispositionInfo, &disposition,
                                         sizeof disposition) != 0;
    win32::UnlockFar(file);
  }
  CloseHandle(file);
  return removed;
}

std::string FileIdentity(const std::string& path) {
  // Folders need FILE_FLAG_BACKUP_SEMANTICS; no access is asked for, only the identity.
  const HANDLE file =
      CreateFileW(Wide(path).c_str(), 0, kShareAll, nullptr, OPEN_EXISTING,
                  FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (file == INVALID_HANDLE_VALUE) return std::string();
  std::string identity = IdentityOf(file);
  CloseHandle(file);
  return identity;
}

bool LinkOrCopyFile(const std::string& from, const std::string& to) {
  const std::wstring wide_to = Wide(to);
  const std::wstring wide_from = Wide(from);
  DeleteFileW(wide_to.c_str());
  if (CreateHardLinkW(wide_to.c_str(), wide_from.c_str(), nullptr)) return true;
  return CopyFileW(wide_from.c_str(), wide_to.c_str(), FALSE) != 0;
}

bool FolderWritable(const std::string& folder) {
  const DWORD attributes = GetFileAttributesW(Wide(folder).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
    return false;
  }
  // The rights on a Windows folder are read fully only by trying: a file made and gone
  // at once (Program Files refuses it, a portable copy on a stick takes it).
  static std::atomic<int> probes{0};
  const std::string probe = folder + kPathSeparator + ".zqrstereo-write-" +
                            std::to_string(ProcessId()) + "-" + std::to_string(++probes);
  const HANDLE file = CreateFileW(
      Wide(probe).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
      FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_HIDDEN | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  CloseHandle(file);
  return true;
}

namespace {

// The process's user as SID text ("S-1-5-21-..."); empty when the token cannot be read.
std::wstring CurrentUserSid() {
  HANDLE token = nullptr;
  if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return std::wstring();
  DWORD size = 0;
  GetTokenInformation(token, TokenUser, nullptr, 0, &size);
  std::vector<unsigned char> buffer(size);
  std::wstring text;
  LPWSTR sid = nullptr;
  if (size > 0 && GetTokenInformation(token, TokenUser, buffer.data(), size, &size) &&
      ConvertSidToStringSidW(reinterpret_cast<TOKEN_USER*>(buffer.data())->User.Sid, &sid)) {
    text = sid;
    LocalFree(sid);
  }
  CloseHandle(token);
  return text;
}

}  // namespace

std::string MakeUniqueFolder(const std::string& parent, const std::string& prefix, int* error) {
  static constexpr char kLetters[] =
      "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
  thread_local std::mt19937_64 random{std::random_device{}() ^
                                      static_cast<uint64_t>(MonotonicMs()) ^
                                      static_cast<uint64_t>(ProcessId()) << 32};
  // Only the user may enter it, as mkdtemp's mode 0700 gives. The user by name rather than
  // as the owner: an elevated run makes the Administrators group the owner, and a later
  // run without elevation could then not remove the folder (nor can Wine, which knows no
  // owner rights).
  SECURITY_ATTRIBUTES security{};
  security.nLength = sizeof security;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  const std::wstring user = CurrentUserSid();
  const std::wstring access =
      L"D:P(A;OICI;FA;;;" + (user.empty() ? L"OW" : user) + L")(A;OICI;FA;;;SY)";
  const bool private_folder = ConvertStringSecurityDescriptorToSecurityDescriptorW(
                                  access.c_str(), SDDL_REVISION_1, &descriptor, nullptr) != 0;
  security.lpSecurityDescriptor = private_folder ? descriptor : nullptr;
  std::string made;
  int failure = EEXIST;
  for (int attempt = 0; attempt < 100 && made.empty(); ++attempt) {
    std::string folder = parent + kPathSeparator + prefix;
    for (int k = 0; k < 6; ++k) folder += kLetters[random() % (sizeof kLetters - 1)];
    if (CreateDirectoryW(Wide(folder).c_str(), &security)) {
      made = folder;
    } else if (GetLastError() != ERROR_ALREADY_EXISTS) {
      failure = win32::ErrorNumberOf(GetLastError());
      break;
    }
  }
  if (descriptor != nullptr) LocalFree(descriptor);
  if (made.empty() && error != nullptr) *error = failure;
  return made;
}

FolderLock::~FolderLock() {
  Unlock();
}

bool FolderLock::TryLock(const std::string& folder) {
  Unlock();
  error_ = 0;
  path_ = folder + kPathSeparator + kFolderLockName;
  // The holder removes the file when it lets go, so a lock taken on a file that has just
  // been removed (or replaced) is worthless: try again on the file the name now gives.
  // A file being removed cannot be opened for a moment (access denied): try again too.
  for (int attempt = 0; attempt < 8; ++attempt) {
    const HANDLE file = Open(path_, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, true);
    if (file == INVALID_HANDLE_VALUE) {
      error_ = errno;
      if (error_ == EACCES && attempt + 1 < 8) {
        SleepMs(1);
        continue;
      }
      return false;
    }
    if (!IsRegularFileHandle(file)) {
      CloseHandle(file);
      error_ = EINVAL;
      return false;
    }
    if (!win32::LockFar(file, false)) {
      if (GetLastError() != ERROR_LOCK_VIOLATION) error_ = win32::ErrorNumberOf(GetLastError());
      CloseHandle(file);
      return false;
    }
    if (IdentityOf(file) == FileIdentity(path_)) {
      fd_ = ValueOf(file);
      return true;
    }
    win32::UnlockFar(file);
    CloseHandle(file);
  }
  return false;
}

bool FolderLock::LockNewFolder(const std::string& folder) {
  Unlock();
  const std::string staging = folder + kPathSeparator + kFolderLockName + ".new";
  const HANDLE file = Open(staging, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, true);
  if (file == INVALID_HANDLE_VALUE) return false;
  const std::string path = folder + kPathSeparator + kFolderLockName;
  if (!win32::LockFar(file, false) ||
      !MoveFileExW(Wide(staging).c_str(), Wide(path).c_str(), MOVEFILE_REPLACE_EXISTING)) {
    FailWithLastError();
    DeleteFileW(Wide(staging).c_str());
    CloseHandle(file);
    return false;
  }
  fd_ = ValueOf(file);
  path_ = path;
  return true;
}

void FolderLock::Unlock() {
  if (fd_ < 0) return;
  // Removed while still held, so the user's folder keeps nothing of ours; a run that opened
  // the old file meanwhile sees it gone and tries again.
  DeleteFileW(Wide(path_).c_str());
  const HANDLE file = HandleOf(fd_);
  win32::UnlockFar(file);
  CloseHandle(file);
  fd_ = -1;
}

HeldFile::~HeldFile() {
  Release();
}

HeldFile::Result HeldFile::TryHold(const std::string& path) {
  Release();
  const HANDLE file = OnlyRegular(Open(path, GENERIC_READ | GENERIC_WRITE, OPEN_ALWAYS, true));
  if (file == INVALID_HANDLE_VALUE) return Result::kFailed;
  if (!win32::LockFar(file, false)) {
    const bool busy = GetLastError() == ERROR_LOCK_VIOLATION;
    CloseHandle(file);
    return busy ? Result::kBusy : Result::kFailed;
  }
  fd_ = ValueOf(file);
  return Result::kHeld;
}

bool HeldFile::CreateNew(const std::string& path) {
  Release();
  const HANDLE file = Open(path, GENERIC_READ | GENERIC_WRITE, CREATE_NEW, true);
  if (file == INVALID_HANDLE_VALUE) return false;
  if (!win32::LockFar(file, false)) {
    CloseHandle(file);
    DeleteFileW(Wide(path).c_str());
    return false;
  }
  fd_ = ValueOf(file);
  return true;
}

std::string HeldFile::ReadStart(std::size_t bytes) const {
  std::string text(bytes, '\0');
  DWORD got = 0;
  OVERLAPPED at{};  // from offset 0, as pread
  if (fd_ < 0 || !ReadFile(HandleOf(fd_), text.data(), static_cast<DWORD>(bytes), &got, &at)) {
    got = 0;
  }
  text.resize(got);
  return text;
}

bool HeldFile::Truncate() {
  return fd_ >= 0 && SetLength(HandleOf(fd_), 0);
}

std::string HeldFile::CurrentPath() const {
  if (fd_ < 0) return std::string();
  std::wstring path(32768, L'\0');
  const DWORD length =
      GetFinalPathNameByHandleW(HandleOf(fd_), path.data(), static_cast<DWORD>(path.size()), 0);
  if (length == 0 || length >= path.size()) return std::string();
  path.resize(length);
  return win32::Narrow(path);
}

void HeldFile::RemoveAndRelease() {
  const std::string path = CurrentPath();
  Release();  // a file open here cannot be deleted
  if (!path.empty()) DeleteFileW(Wide(path).c_str());
}

void HeldFile::Release() {
  if (fd_ < 0) return;
  const HANDLE file = HandleOf(fd_);
  win32::UnlockFar(file);
  CloseHandle(file);
  fd_ = -1;
}

}  // namespace zqr::platform
