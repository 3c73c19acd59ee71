// What the Windows backends share: text crosses into the system as UTF-16 and comes back
// as UTF-8 (the program's own encoding of every string), and system error codes reach
// the layers above as the error numbers FileErrorText knows.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
// windows.h first: the other system headers build on it.
// clang-format off
#include <windows.h>
#include <objbase.h>
#include <sddl.h>
#include <shellapi.h>
#include <shlobj.h>
// clang-format on

#include <cstdint>
#include <string>
#include <string_view>

namespace zqr::platform::win32 {

std::wstring Wide(std::string_view text);
std::string Narrow(std::wstring_view text);

// The error number (errno) closest to a system error code; EIO for the rest.
int ErrorNumberOf(DWORD error);
// Sets errno from GetLastError() and returns false, for failure paths.
bool FailWithLastError();

// Handles kept in the seam's int fields: a kernel handle's value fits 32 bits (the
// system keeps it so for 32-bit processes), and none is -1 as a descriptor's is.
inline HANDLE HandleOf(int value) {
  return value < 0 ? INVALID_HANDLE_VALUE
                   : reinterpret_cast<HANDLE>(static_cast<std::intptr_t>(value));
}
inline int ValueOf(HANDLE handle) {
  return handle == nullptr || handle == INVALID_HANDLE_VALUE
             ? -1
             : static_cast<int>(reinterpret_cast<std::intptr_t>(handle));
}

// Opening flags shared by the file functions: others may read, write and delete the file
// while it is open here, as on POSIX systems.
inline constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// Whether `handle` is an ordinary file on a disk, not a link, a pipe, a device or a folder.
bool IsRegularFileHandle(HANDLE handle);

// Locks taken by FolderLock, HeldFile and RemoveIfUnheld cover one byte far past the end of
// any file: byte-range locks on Windows are binding, and one over the data would refuse
// the program's own writes (the run log is appended to while it is held).
bool LockFar(HANDLE handle, bool wait);
void UnlockFar(HANDLE handle);

}  // namespace zqr::platform::win32
