// UTF-8 and UTF-16 at the edge of the system, error numbers, and the far byte lock.
#include "platform/win32/win32_common.h"

#include <cerrno>
#include <climits>

namespace zqr::platform::win32 {

std::wstring Wide(std::string_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::wstring();
  const int size = static_cast<int>(text.size());
  const int length = MultiByteToWideChar(CP_UTF8, 0, text.data(), size, nullptr, 0);
  std::wstring wide(static_cast<size_t>(length), L'\0');
  if (length > 0) MultiByteToWideChar(CP_UTF8, 0, text.data(), size, wide.data(), length);
  return wide;
}

std::string Narrow(std::wstring_view text) {
  if (text.empty() || text.size() > INT_MAX) return std::string();
  const int size = static_cast<int>(text.size());
  const int length =
      WideCharToMultiByte(CP_UTF8, 0, text.data(), size, nullptr, 0, nullptr, nullptr);
  std::string narrow(static_cast<size_t>(length), '\0');
  if (length > 0) {
    WideCharToMultiByte(CP_UTF8, 0, text.data(), size, narrow.data(), length, nullptr, nullptr);
  }
  return narrow;
}

int ErrorNumberOf(DWORD error) {
  switch (error) {
    case ERROR_SUCCESS:
      return 0;
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
      return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_PRIVILEGE_NOT_HELD:
      return EACCES;
    case ERROR_FILE_EXISTS:
    case ERROR_ALREADY_EXISTS:
      return EEXIST;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
      return ENOSPC;
    case ERROR_WRITE_PROTECT:
      return EROFS;
    case ERROR_DIRECTORY:
      return ENOTDIR;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
      return EBUSY;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ENOMEM;
    case ERROR_INVALID_PARAMETER:
    case ERROR_INVALID_NAME:
      return EINVAL;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
      return EPIPE;
    default:
      return EIO;
  }
}

bool FailWithLastError() {
  errno = ErrorNumberOf(GetLastError());
  return false;
}

bool IsRegularFileHandle(HANDLE handle) {
  if (GetFileType(handle) != FILE_TYPE_DISK) return false;
  BY_HANDLE_FILE_INFORMATION info{};
  if (!GetFileInformationByHandle(handle, &info)) return false;
  return (info.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == 0;
}

namespace {
OVERLAPPED FarByte() {
  OVERLAPPED at{};
  at.Offset = 0;
  at.OffsetHigh = 0x7FFFFFFF;
  return at;
}
}  // namespace

bool LockFar(HANDLE handle, bool wait) {
  OVERLAPPED at = FarByte();
  const DWORD flags = LOCKFILE_EXCLUSIVE_LOCK | (wait ? 0 : LOCKFILE_FAIL_IMMEDIATELY);
  return LockFileEx(handle, flags, 0, 1, 0, &at) != 0;
}

void UnlockFar(HANDLE handle) {
  OVERLAPPED at = FarByte();
  UnlockFileEx(handle, 0, 1, 0, &at);
}

}  // namespace zqr::platform::win32
