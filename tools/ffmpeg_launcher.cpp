// PLUG-IN/ffmpeg: the program's probe and sound tool. It runs the system's ffmpeg with the
// arguments it was given and passes its output, exit status and signals through, with
// one change: ffmpeg's error stream numbers streams "#0:1" today, where the releases the
// probe was written for said "#0.1", so stream lines are rewritten to that numbering and
// the probe's summary finds them.
//
// The real ffmpeg is the first "ffmpeg" on PATH that is not this launcher itself.
#include <limits.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <string_view>
#include <vector>

#include "tools/stream_lines.h"

namespace {

std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX + 1];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::string RealFfmpeg() {
  const std::string self = Resolved("/proc/self/exe");
  const char* path = std::getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    if (folder.empty()) folder = ".";
    std::string candidate = folder + "/ffmpeg";
    struct stat info {};
    if (stat(candidate.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
    if (access(candidate.c_str(), X_OK) != 0 || Resolved(candidate) == self) continue;
    return candidate;
  }
  return std::string();
}

bool WriteAll(int fd, std::string_view bytes) {
  while (!bytes.empty()) {
    ssize_t n = write(fd, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
  return true;
}

pid_t child = -1;
void Forward(int signal_number) {
  if (child > 0) kill(child, signal_number);
}

}  // namespace

int main(int argc, char** argv) {
  const std::string ffmpeg = RealFfmpeg();
  if (ffmpeg.empty()) {
    std::fprintf(stderr, "ffmpeg launcher: no ffmpeg found on PATH\n");
    return 127;
  }
  std::vector<char*> args(argv, argv + argc);
  args[0] = const_cast<char*>(ffmpeg.c_str());
  args.push_back(nullptr);

  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    execv(ffmpeg.c_str(), args.data());
    return 127;
  }
  const pid_t launcher = getpid();
  child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    // ffmpeg ends with the launcher, which ends with the converter that started it: a killed
    // conversion leaves no encoder finishing a movie nobody will take.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != launcher) _exit(127);
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execv(ffmpeg.c_str(), args.data());
    std::fprintf(stderr, "ffmpeg launcher: cannot run %s: %s\n", ffmpeg.c_str(),
                 std::strerror(errno));
    _exit(127);
  }
  close(pipe_fds[1]);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(signal_number, Forward);

  // Lines are rewritten whole; ffmpeg's progress line ends with CR and passes at once.
  std::string pending;
  char buffer[4096];
  for (;;) {
    ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    pending.append(buffer, static_cast<size_t>(n));
    size_t end = 0;
    while (true) {
      size_t stop = pending.find_first_of("\r\n", end);
      if (stop == std::string::npos) break;
      WriteAll(STDERR_FILENO, zqr::tools::WithPointStreamNumbers(
                                  std::string_view(pending).substr(end, stop + 1 - end)));
      end = stop + 1;
    }
    pending.erase(0, end);
  }
  WriteAll(STDERR_FILENO, zqr::tools::WithPointStreamNumbers(pending));
  close(pipe_fds[0]);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}
