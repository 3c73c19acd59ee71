// Writing into a pipe whose reader is another program, for the Windows backends.
#pragma once

#include <atomic>
#include <cstddef>

#include "platform/win32/win32_common.h"

namespace zqr::platform::win32 {

// Writes all of `size` bytes to the pipe `pipe`, waiting while it is full. A reader that has
// gone makes it return false. A pipe opened for overlapped use (the named pipes) is waited
// on in short steps, so that `stop`, when given, ends the wait too (false); an anonymous
// pipe is written with plain blocking writes.
bool WriteToPipe(HANDLE pipe, const char* bytes, size_t size, bool overlapped,
                 const std::atomic<bool>* stop = nullptr);

}  // namespace zqr::platform::win32
