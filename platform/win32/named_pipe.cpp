// Named pipes in the system's pipe namespace (\\.\pipe\). The pipe is made for one reader
// and written with overlapped writes, so a stop request is seen within a few milliseconds
// even while the reader does not read. A pipe's name goes with the last handle to it, so
// nothing is left behind by a run that ends however it ends.
#include "platform/named_pipe.h"

#include <cstdio>
#include <functional>

#include "platform/system.h"
#include "platform/win32/pipe_write.h"

namespace zqr::platform {

namespace {
// The buffer the system keeps for the pipe: a larger one lets the reader take the stream
// in fewer turns.
constexpr DWORD kPipeBytes = 1 << 20;
}  // namespace

std::string NamedPipePath(const std::string& folder, const std::string& name) {
  // The folder cannot hold a pipe; its hash tells apart the pipes of conversions side by
  // side in one process, the process number those of other processes.
  char hash[17];
  std::snprintf(hash, sizeof hash, "%016llx",
                static_cast<unsigned long long>(std::hash<std::string>{}(folder)));
  return "\\\\.\\pipe\\zqrstereo-" + std::to_string(ProcessId()) + "-" + hash + "-" + name;
}

NamedPipeWriter::~NamedPipeWriter() {
  Close();
}

bool NamedPipeWriter::Create(const std::string& path) {
  Close();
  // FILE_FLAG_FIRST_PIPE_INSTANCE: a pipe of that name made by anyone else makes this
  // fail instead of joining it.
  const HANDLE pipe = CreateNamedPipeW(
      win32::Wide(path).c_str(),
      PIPE_ACCESS_OUTBOUND | FILE_FLAG_OVERLAPPED | FILE_FLAG_FIRST_PIPE_INSTANCE,
      PIPE_TYPE_BYTE | PIPE_WAIT | PIPE_REJECT_REMOTE_CLIENTS, 1, kPipeBytes, 0, 0, nullptr);
  if (pipe == INVALID_HANDLE_VALUE) return win32::FailWithLastError();
  fd_ = win32::ValueOf(pipe);
  path_ = path;
  return true;
}

bool NamedPipeWriter::Connect(const std::atomic<bool>& stop) {
  if (fd_ < 0) return false;
  const HANDLE pipe = win32::HandleOf(fd_);
  OVERLAPPED request{};
  request.hEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
  if (request.hEvent == nullptr) return false;
  bool ok = false;
  if (ConnectNamedPipe(pipe, &request)) {
    ok = true;
  } else if (GetLastError() == ERROR_PIPE_CONNECTED) {
    ok = true;  // the reader came before the wait (or this was connected already)
  } else if (GetLastError() == ERROR_IO_PENDING) {
    for (;;) {
      if (stop.load()) {
        CancelIoEx(pipe, &request);
        DWORD ignored = 0;
        GetOverlappedResult(pipe, &request, &ignored, TRUE);
        break;
      }
      if (WaitForSingleObject(request.hEvent, 5) == WAIT_OBJECT_0) {
        DWORD ignored = 0;
        ok = GetOverlappedResult(pipe, &request, &ignored, FALSE) != 0;
        break;
      }
    }
  }
  CloseHandle(request.hEvent);
  return ok;
}

bool NamedPipeWriter::Write(const void* data, size_t bytes, const std::atomic<bool>& stop) {
  return fd_ >= 0 && win32::WriteToPipe(win32::HandleOf(fd_), static_cast<const char*>(data), bytes,
                                        true, &stop);
}

void NamedPipeWriter::Drain() {
  // Returns once the reader has read the pipe empty, or with an error when it has gone.
  if (fd_ >= 0) FlushFileBuffers(win32::HandleOf(fd_));
}

void NamedPipeWriter::Close() {
  // What the reader has not taken yet stays readable until it reaches the end.
  if (fd_ >= 0) CloseHandle(win32::HandleOf(fd_));
  fd_ = -1;
}

}  // namespace zqr::platform
