// The one way the POSIX backends write into another program's pipe.
#include "platform/posix/pipe_write.h"

#include <errno.h>
#include <poll.h>
#include <pthread.h>
#include <signal.h>
#include <time.h>
#include <unistd.h>

namespace zqr::platform {

bool WriteToPipe(int fd, const char* bytes, size_t size, const std::atomic<bool>* stop) {
  // Short polls while the pipe is full, so that a stop request is seen soon.
  constexpr int kPollMs = 5;
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  sigset_t before;
  pthread_sigmask(SIG_BLOCK, &pipe_signal, &before);
  bool ok = true;
  while (size > 0) {
    if (stop != nullptr && stop->load()) {
      ok = false;
      break;
    }
    const ssize_t written = write(fd, bytes, size);
    if (written >= 0) {
      bytes += written;
      size -= static_cast<size_t>(written);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno == EAGAIN) {
      pollfd ready{fd, POLLOUT, 0};
      poll(&ready, 1, kPollMs);
      continue;
    }
    if (errno == EPIPE) {
      const timespec now{};
      while (sigtimedwait(&pipe_signal, nullptr, &now) == SIGPIPE) {
      }
    }
    ok = false;
    break;
  }
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  return ok;
}

}  // namespace zqr::platform
