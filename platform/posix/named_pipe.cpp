// Named pipes by mkfifo. The writing end is opened and written without blocking, so a
// stop request is seen within a few milliseconds even while the reader does not read.
#include "platform/named_pipe.h"

#include <errno.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/posix/pipe_write.h"
#include "platform/system.h"

namespace zqr::platform {

std::string NamedPipePath(const std::string& folder, const std::string& name) {
  return folder + kPathSeparator + name;
}

NamedPipeWriter::~NamedPipeWriter() {
  Close();
  if (!path_.empty()) unlink(path_.c_str());
}

bool NamedPipeWriter::Create(const std::string& path) {
  struct stat st {};
  if (lstat(path.c_str(), &st) == 0) {
    if (!S_ISFIFO(st.st_mode) || unlink(path.c_str()) != 0) return false;
  }
  if (mkfifo(path.c_str(), 0600) != 0) return false;
  path_ = path;
  return true;
}

bool NamedPipeWriter::Connect(const std::atomic<bool>& stop) {
  while (fd_ < 0) {
    if (stop.load() || path_.empty()) return false;
    // Without a reader a non-blocking open fails with ENXIO instead of waiting.
    fd_ = open(path_.c_str(), O_WRONLY | O_NONBLOCK | O_CLOEXEC | O_NOFOLLOW);
    if (fd_ >= 0) break;
    if (errno != ENXIO && errno != EINTR) return false;
    SleepMs(5);
  }
  return true;
}

bool NamedPipeWriter::Write(const void* data, size_t bytes, const std::atomic<bool>& stop) {
  return fd_ >= 0 && WriteToPipe(fd_, static_cast<const char*>(data), bytes, &stop);
}

void NamedPipeWriter::Drain() {}

void NamedPipeWriter::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

}  // namespace zqr::platform
