// The one way the Windows backends write into another program's pipe.
#include "platform/win32/pipe_write.h"

#include <algorithm>

namespace zqr::platform::win32 {

namespace {
// One write call moves at most this much, so a wait on a full pipe can be given up.
constexpr DWORD kMaxChunk = 1 << 20;
constexpr DWORD kPollMs = 5;

// One overlapped write, waited for in short steps; the bytes it moved, or -1 when the
// reader has gone or a stop was asked for (the write is then cancelled and finished with
// before the buffer is given back).
long long WriteOverlapped(HANDLE pipe, const char* bytes, DWORD chunk,
                          const std::atomic<bool>* stop) {
  OVERLAPPED request{};
  request.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (request.hEvent == nullptr) return -1;
  DWORD written = 0;
  long long result = -1;
  if (WriteFile(pipe, bytes, chunk, &written, &request)) {
    result = written;
  } else if (GetLastError() == ERROR_IO_PENDING) {
    for (;;) {
      if (stop != nullptr && stop->load()) {
        CancelIoEx(pipe, &request);
        GetOverlappedResult(pipe, &request, &written, TRUE);
        break;
      }
      if (WaitForSingleObject(request.hEvent, kPollMs) == WAIT_OBJECT_0) {
        if (GetOverlappedResult(pipe, &request, &written, FALSE)) result = written;
        break;
      }
    }
  }
  CloseHandle(request.hEvent);
  return result;
}
}  // namespace

bool WriteToPipe(HANDLE pipe, const char* bytes, size_t size, bool overlapped,
                 const std::atomic<bool>* stop) {
  while (size > 0) {
    if (stop != nullptr && stop->load()) return false;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(size, kMaxChunk));
    long long written = -1;
    if (overlapped) {
      written = WriteOverlapped(pipe, bytes, chunk, stop);
    } else {
      DWORD done = 0;
      if (WriteFile(pipe, bytes, chunk, &done, nullptr)) written = done;
    }
    // ERROR_NO_DATA or ERROR_BROKEN_PIPE: the reader has closed its end.
    if (written < 0) return false;
    bytes += written;
    size -= static_cast<size_t>(written);
  }
  return true;
}

}  // namespace zqr::platform::win32
