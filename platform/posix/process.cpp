// POSIX process start for the tool runner: posix_spawn of the split command line, never
// a shell; the caller's descriptors other than the standard streams stay private.
#include "platform/process.h"

#include <fcntl.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <vector>

extern char** environ;

namespace zqr::platform {

namespace {

bool IsRunnableFile(const std::string& path) {
  struct stat info {};
  return stat(path.c_str(), &info) == 0 && S_ISREG(info.st_mode) && access(path.c_str(), X_OK) == 0;
}

int OpenFlags(bool append) {
  return O_WRONLY | O_CREAT | (append ? O_APPEND : O_TRUNC);
}

}  // namespace

ProcessResult RunCommandLine(std::string_view command_line, const Redirections& redirections) {
  ProcessResult result;
  std::vector<std::string> args;
  size_t program_length = UnquotedProgramLength(command_line, IsRunnableFile);
  if (program_length > 0 && !IsRunnableFile(SplitCommandLine(command_line).front())) {
    // A program folder with blanks, given unquoted: the longer prefix is the program.
    args.emplace_back(command_line.substr(0, program_length));
    std::vector<std::string> rest =
        SplitCommandLine("x" + std::string(command_line.substr(program_length)));
    args.insert(args.end(), rest.begin() + 1, rest.end());
  } else {
    args = SplitCommandLine(command_line);
  }
  if (args.empty() || args.front().empty()) return result;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return result;
  posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  if (!redirections.output_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 1, redirections.output_path.c_str(),
                                     OpenFlags(redirections.append_output), 0644);
  }
  if (redirections.error_to_output) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (!redirections.error_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, redirections.error_path.c_str(),
                                     OpenFlags(redirections.append_error), 0644);
  }
  // Handles are not inherited: log files and pipes of other threads stay ours.
  posix_spawn_file_actions_addclosefrom_np(&actions, 3);

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const bool search_path = args.front().find('/') == std::string::npos;
  int rc = search_path ? posix_spawnp(&pid, argv[0], &actions, nullptr, argv.data(), environ)
                       : posix_spawn(&pid, argv[0], &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (rc != 0) return result;
  result.started = true;

  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return result;
  }
  // glibc reports a failed exec (missing file, bad redirection target) as exit code 127.
  if (WIFEXITED(status)) result.exit_code = WEXITSTATUS(status);
  return result;
}

ProcessResult RunBatchFile(const std::string& batch_path) {
  std::ifstream file(batch_path, std::ios::binary);
  std::string line;
  if (!file || !std::getline(file, line)) return ProcessResult{};
  BatchCommand command = ParseBatchLine(line);
  return RunCommandLine(command.command_line, command.redirections);
}

}  // namespace zqr::platform
