// Running a tool for a test on POSIX systems: posix_spawnp, so that the caller can signal
// the running program by its pid.
#include <fcntl.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

#include "tests/support/test_support.h"

extern char** environ;

namespace zqr::test {

namespace {
std::string Slurp(int fd) {
  std::string out;
  char buf[65536];
  ssize_t n;
  while ((n = read(fd, buf, sizeof buf)) > 0) out.append(buf, static_cast<size_t>(n));
  return out;
}
}  // namespace

RunResult Run(const std::vector<std::string>& argv, const std::function<void(int pid)>& meanwhile) {
  RunResult result;
  if (argv.empty()) return result;
  // Output goes to unlinked temporary files, so a chatty program never blocks on a pipe.
  FILE* out_file = tmpfile();
  FILE* err_file = tmpfile();
  if (out_file == nullptr || err_file == nullptr) return result;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, fileno(out_file), 1);
  posix_spawn_file_actions_adddup2(&actions, fileno(err_file), 2);
  std::vector<char*> args;
  for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
  args.push_back(nullptr);
  pid_t pid = 0;
  int rc = posix_spawnp(&pid, args[0], &actions, nullptr, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc == 0) {
    if (meanwhile) meanwhile(pid);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0) {
    }
    result.exit_code = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  rewind(out_file);
  rewind(err_file);
  result.output = Slurp(fileno(out_file));
  result.errors = Slurp(fileno(err_file));
  fclose(out_file);
  fclose(err_file);
  return result;
}

}  // namespace zqr::test
