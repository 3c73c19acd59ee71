// POSIX process start for the tool runner: posix_spawn of the split command line, never
// a shell; the caller's descriptors other than the standard streams stay private. A child
// left running gets its input through a pipe.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <fstream>
#include <string>
#include <utility>
#include <vector>

#include "platform/posix/pipe_write.h"

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

namespace {

// The arguments of a command line as the Windows process start takes them.
std::vector<std::string> ProgramArguments(std::string_view command_line) {
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
  return args;
}

// Starts args[0] with standard input from `input_fd` (or /dev/null when it is -1); the
// pid, or -1 when nothing could be started. With `own_group` the program leads a process
// group of its own, which the programs it starts join.
pid_t Spawn(std::vector<std::string> args, const Redirections& redirections, int input_fd,
            bool own_group = false) {
  if (args.empty() || args.front().empty()) return -1;

  posix_spawn_file_actions_t actions;
  if (posix_spawn_file_actions_init(&actions) != 0) return -1;
  if (input_fd >= 0) {
    posix_spawn_file_actions_adddup2(&actions, input_fd, 0);
  } else {
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
  }
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
  // The tool starts with no signal blocked and a broken pipe ending it, whatever the
  // starting thread has set up for itself.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none;
  sigemptyset(&none);
  posix_spawnattr_setsigmask(&attributes, &none);
  sigset_t pipe_signal;
  sigemptyset(&pipe_signal);
  sigaddset(&pipe_signal, SIGPIPE);
  posix_spawnattr_setsigdefault(&attributes, &pipe_signal);
  short flags = POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF;
  if (own_group) {
    posix_spawnattr_setpgroup(&attributes, 0);
    flags |= POSIX_SPAWN_SETPGROUP;
  }
  posix_spawnattr_setflags(&attributes, flags);

  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);

  pid_t pid = 0;
  const bool search_path = args.front().find('/') == std::string::npos;
  int rc = search_path ? posix_spawnp(&pid, argv[0], &actions, &attributes, argv.data(), environ)
                       : posix_spawn(&pid, argv[0], &actions, &attributes, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  return rc == 0 ? pid : -1;
}

// The exit code of a finished child; -1 for one ended by a signal or already gone.
int WaitForChild(pid_t pid) {
  int status = 0;
  while (waitpid(pid, &status, 0) < 0) {
    if (errno != EINTR) return -1;
  }
  // glibc reports a failed exec (missing file, bad redirection target) as exit code 127.
  return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// A larger pipe lets a picture go over in fewer turns between the two programs.
constexpr int kPipeBytes = 1 << 20;

}  // namespace

ProcessResult RunCommandLine(std::string_view command_line, const Redirections& redirections) {
  return RunArguments(ProgramArguments(command_line), redirections);
}

ProcessResult RunArguments(const std::vector<std::string>& args, const Redirections& redirections) {
  ProcessResult result;
  const pid_t pid = Spawn(args, redirections, -1);
  if (pid < 0) return result;
  result.started = true;
  result.exit_code = WaitForChild(pid);
  return result;
}

ChildProcess::~ChildProcess() {
  Kill();
  Wait();
}

bool ChildProcess::Start(std::string_view command_line, const Redirections& redirections,
                         bool fed) {
  return Start(ProgramArguments(command_line), redirections, fed);
}

bool ChildProcess::Start(const std::vector<std::string>& args, const Redirections& redirections,
                         bool fed) {
  if (pid_ > 0) return false;
  if (!fed) {
    pid_ = Spawn(args, redirections, -1, true);
    return pid_ > 0;
  }
  int ends[2];
  if (pipe2(ends, O_CLOEXEC) != 0) return false;
  fcntl(ends[1], F_SETPIPE_SZ, kPipeBytes);
  pid_ = Spawn(args, redirections, ends[0], true);
  close(ends[0]);
  if (pid_ < 0) {
    close(ends[1]);
    return false;
  }
  input_ = ends[1];
  return true;
}

bool ChildProcess::Send(const void* data, size_t bytes) {
  return input_ >= 0 && WriteToPipe(input_, static_cast<const char*>(data), bytes);
}

void ChildProcess::CloseInput() {
  if (input_ >= 0) close(input_);
  input_ = -1;
}

int ChildProcess::Wait() {
  CloseInput();
  if (pid_ > 0) {
    exit_code_ = WaitForChild(pid_);
    pid_ = -1;
  }
  return exit_code_;
}

bool ChildProcess::Ended() const {
  if (pid_ <= 0) return true;
  // Looked at without reaping it: Wait still gets its status.
  siginfo_t info{};
  return waitid(P_PID, static_cast<id_t>(pid_), &info, WEXITED | WNOHANG | WNOWAIT) == 0 &&
         info.si_pid == pid_;
}

void ChildProcess::Kill() {
  if (pid_ > 0) kill(-pid_, SIGKILL);
}

bool OpenWithDesktop(const std::string& target) {
  Redirections quiet;
  quiet.output_path = kDiscardPath;
  quiet.error_to_output = true;
  const pid_t pid = Spawn({"xdg-open", target}, quiet, -1);
  return pid >= 0 && WaitForChild(pid) == 0;
}

ProcessResult RunBatchFile(const std::string& batch_path) {
  std::ifstream file(batch_path, std::ios::binary);
  std::string line;
  if (!file || !std::getline(file, line)) return ProcessResult{};
  BatchCommand command = ParseBatchLine(line);
  return RunCommandLine(command.command_line, command.redirections);
}

}  // namespace zqr::platform
