// The tool programs on POSIX systems: execv in place, or fork with the child bound to this
// process (PR_SET_PDEATHSIG) and its error stream read through a pipe, signals passed on.
#include "platform/tool_launch.h"

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

#include "platform/system.h"

namespace zqr::platform {

namespace {
std::string Resolved(const std::string& path) {
  char buffer[PATH_MAX + 1];
  return realpath(path.c_str(), buffer) != nullptr ? std::string(buffer) : std::string();
}

std::vector<char*> ArgumentVector(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
  argv.push_back(nullptr);
  return argv;
}

pid_t child = -1;
void Forward(int signal_number) {
  if (child > 0) kill(child, signal_number);
}
}  // namespace

bool IsRunnableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

std::string FindOnPath(const std::string& name, const std::string& skip) {
  const std::string skipped = skip.empty() ? std::string() : Resolved(skip);
  const char* path = getenv("PATH");
  std::string_view folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  while (!folders.empty()) {
    const size_t colon = folders.find(':');
    std::string folder(folders.substr(0, colon));
    folders = colon == std::string_view::npos ? std::string_view() : folders.substr(colon + 1);
    if (folder.empty()) folder = ".";
    const std::string candidate = folder + kPathSeparator + name + kExecutableSuffix;
    if (!IsRunnableFile(candidate)) continue;
    if (!skipped.empty() && Resolved(candidate) == skipped) continue;
    return candidate;
  }
  return std::string();
}

int RunInPlace(const std::vector<std::string>& args, const char* tool) {
  if (args.empty()) return 127;
  std::vector<char*> argv = ArgumentVector(args);
  execvp(argv[0], argv.data());
  std::fprintf(stderr, "%s: cannot run %s: %s\n", tool, argv[0], std::strerror(errno));
  return 127;
}

int RunFilteringErrors(const std::vector<std::string>& args,
                       const std::function<void(std::string_view)>& on_error, const char* tool) {
  if (args.empty()) return 127;
  std::vector<char*> argv = ArgumentVector(args);
  int pipe_fds[2];
  if (pipe(pipe_fds) != 0) {
    execv(argv[0], argv.data());
    return 127;
  }
  const pid_t launcher = getpid();
  child = fork();
  if (child < 0) return 127;
  if (child == 0) {
    // The program ends with this one, which ends with the converter that started it: a
    // killed conversion leaves no encoder finishing a movie nobody will take.
    if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != launcher) _exit(127);
    dup2(pipe_fds[1], STDERR_FILENO);
    close(pipe_fds[0]);
    close(pipe_fds[1]);
    execv(argv[0], argv.data());
    std::fprintf(stderr, "%s: cannot run %s: %s\n", tool, argv[0], std::strerror(errno));
    _exit(127);
  }
  close(pipe_fds[1]);
  for (int signal_number : {SIGINT, SIGTERM, SIGHUP, SIGQUIT}) signal(signal_number, Forward);

  char buffer[4096];
  for (;;) {
    const ssize_t n = read(pipe_fds[0], buffer, sizeof buffer);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    on_error(std::string_view(buffer, static_cast<size_t>(n)));
  }
  close(pipe_fds[0]);

  int status = 0;
  while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
  }
  if (WIFSIGNALED(status)) {
    // Ended by a signal: this program ends the same way, so its starter sees that.
    signal(WTERMSIG(status), SIG_DFL);
    raise(WTERMSIG(status));
    return 128 + WTERMSIG(status);
  }
  return WIFEXITED(status) ? WEXITSTATUS(status) : 1;
}

void WriteStandardError(std::string_view bytes) {
  while (!bytes.empty()) {
    const ssize_t n = write(STDERR_FILENO, bytes.data(), bytes.size());
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return;
    bytes.remove_prefix(static_cast<size_t>(n));
  }
}

}  // namespace zqr::platform
