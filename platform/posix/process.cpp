// POSIX process start for the tool runner: posix_spawn of the split command line, never
// a shell; the caller's descriptors other than the standard streams stay private. A child
// left running gets its input through a pipe.
#include "platform/process.h"

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
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

// A redirection never writes through a link; a new file is never one that was there.
int OpenFlags(bool append, bool new_file) {
  return O_WRONLY | O_CREAT | O_NOFOLLOW | (append ? O_APPEND : O_TRUNC) | (new_file ? O_EXCL : 0);
}

}  // namespace

namespace {

// What the child of SpawnBound does between vfork and exec, all prepared beforehand: in
// that child only system calls may run.
struct ChildPlan {
  const char* program = nullptr;
  char* const* argv = nullptr;
  int input_fd = -1;
  const char* output_path = nullptr;
  int output_flags = 0;
  const char* error_path = nullptr;
  int error_flags = 0;
  bool error_to_output = false;
  pid_t parent = 0;
  volatile int* failure = nullptr;  // the errno of what failed, seen by the parent
};

[[noreturn]] void ChildFails(const ChildPlan& plan) {
  *plan.failure = errno != 0 ? errno : ECHILD;
  _exit(127);
}

void Redirect(const ChildPlan& plan, const char* path, int flags, int target) {
  const int fd = open(path, flags, 0644);
  if (fd < 0) ChildFails(plan);
  if (fd != target) {
    if (dup2(fd, target) < 0) ChildFails(plan);
    close(fd);
  }
}

[[noreturn]] void RunChild(const ChildPlan& plan) {
  setpgid(0, 0);
  // Killed with the thread that started it; a parent gone already is seen at once.
  if (prctl(PR_SET_PDEATHSIG, SIGKILL) != 0 || getppid() != plan.parent) ChildFails(plan);
  if (plan.input_fd >= 0) {
    if (dup2(plan.input_fd, 0) < 0) ChildFails(plan);
  } else {
    Redirect(plan, "/dev/null", O_RDONLY, 0);
  }
  if (plan.output_path != nullptr) Redirect(plan, plan.output_path, plan.output_flags, 1);
  if (plan.error_to_output) {
    if (dup2(1, 2) < 0) ChildFails(plan);
  } else if (plan.error_path != nullptr) {
    Redirect(plan, plan.error_path, plan.error_flags, 2);
  }
  syscall(SYS_close_range, 3U, ~0U, 0U);
  // The program's handlers must not run here (this child shares its parent's memory until
  // the exec); a broken pipe ends the tool, whatever the program does about its own.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  for (int number = 1; number < NSIG; ++number) {
    struct sigaction now {};
    if (sigaction(number, nullptr, &now) != 0) continue;
    if (number == SIGPIPE || (now.sa_handler != SIG_DFL && now.sa_handler != SIG_IGN)) {
      sigaction(number, &standard, nullptr);
    }
  }
  sigset_t none;
  sigemptyset(&none);
  sigprocmask(SIG_SETMASK, &none, nullptr);
  execve(plan.program, plan.argv, environ);
  ChildFails(plan);
}

__attribute__((noinline)) pid_t VforkChild(const ChildPlan* plan) {
  const pid_t pid = vfork();
  if (pid == 0) RunChild(*plan);
  return pid;
}

// A program named without a folder, looked up on PATH as posix_spawnp would.
std::string ProgramOnPath(const std::string& name) {
  if (name.find('/') != std::string::npos) return name;
  const char* path = getenv("PATH");
  std::string folders = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  size_t start = 0;
  while (start <= folders.size()) {
    size_t end = folders.find(':', start);
    if (end == std::string::npos) end = folders.size();
    std::string candidate = folders.substr(start, end - start);
    candidate = (candidate.empty() ? "." : candidate) + "/" + name;
    if (access(candidate.c_str(), X_OK) == 0) return candidate;
    start = end + 1;
  }
  return name;
}

// A program left running (ChildProcess): as Spawn with `own_group`, and bound to the
// starting thread by PR_SET_PDEATHSIG, which posix_spawn cannot set: a killed converter
// leaves no encoder to finish a movie nobody will rename, nor a sound extraction writing
// on. vfork, as posix_spawn itself does, so a converter holding gigabytes of frames costs
// no copy of its page tables.
pid_t SpawnBound(std::vector<std::string> args, const Redirections& redirections, int input_fd) {
  if (args.empty() || args.front().empty()) return -1;
  const std::string program = ProgramOnPath(args.front());
  std::vector<char*> argv;
  argv.reserve(args.size() + 1);
  for (std::string& arg : args) argv.push_back(arg.data());
  argv.push_back(nullptr);
  volatile int failure = 0;
  ChildPlan plan;
  plan.program = program.c_str();
  plan.argv = argv.data();
  plan.input_fd = input_fd;
  if (!redirections.output_path.empty()) {
    plan.output_path = redirections.output_path.c_str();
    plan.output_flags = OpenFlags(redirections.append_output, redirections.new_files);
  }
  if (!redirections.error_path.empty()) {
    plan.error_path = redirections.error_path.c_str();
    plan.error_flags = OpenFlags(redirections.append_error, redirections.new_files);
  }
  plan.error_to_output = redirections.error_to_output;
  plan.parent = getpid();
  plan.failure = &failure;
  // No handler of ours may run in the child before it has set them aside.
  sigset_t all, before;
  sigfillset(&all);
  pthread_sigmask(SIG_SETMASK, &all, &before);
  const pid_t pid = VforkChild(&plan);
  pthread_sigmask(SIG_SETMASK, &before, nullptr);
  if (pid < 0) return -1;
  if (failure != 0) {
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    return -1;
  }
  return pid;
}

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
  if (own_group) return SpawnBound(std::move(args), redirections, input_fd);
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
                                     OpenFlags(redirections.append_output, redirections.new_files),
                                     0644);
  }
  if (redirections.error_to_output) {
    posix_spawn_file_actions_adddup2(&actions, 1, 2);
  } else if (!redirections.error_path.empty()) {
    posix_spawn_file_actions_addopen(&actions, 2, redirections.error_path.c_str(),
                                     OpenFlags(redirections.append_error, redirections.new_files),
                                     0644);
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
