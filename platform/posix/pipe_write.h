// Writing into a pipe whose reader is another program, for the POSIX backends.
#pragma once

#include <atomic>
#include <cstddef>

namespace zqr::platform {

// Writes all of `size` bytes to the pipe `fd`, waiting while it is full (also when it was
// opened without blocking). A reader that has gone makes it return false; the SIGPIPE that
// comes with it is held back on this thread and taken off again, so it can neither end the
// program nor reach another thread. With `stop`, a stop request ends the wait too (false).
bool WriteToPipe(int fd, const char* bytes, size_t size, const std::atomic<bool>* stop = nullptr);

}  // namespace zqr::platform
