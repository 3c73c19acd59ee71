#include "tests/support/running_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <chrono>
#include <filesystem>
#include <thread>

extern char** environ;

namespace zqr::test {

RunningProgram::RunningProgram() {
  Start({});
}

RunningProgram::RunningProgram(
    const std::function<std::vector<std::string>(const ScratchDir&)>& arguments) {
  std::filesystem::create_directory_symlink(BinDir() + "/PLUG-IN", dir_.File("PLUG-IN"));
  Start(arguments(dir_));
}

RunningProgram::~RunningProgram() {
  if (pid_ == 0 || ended_) return;
  // A window left behind would be found by the next test's searches for its caption.
  kill(pid_, SIGTERM);
  if (WaitForExit(5000) == -1 && Alive()) {
    kill(pid_, SIGKILL);
    waitpid(pid_, nullptr, 0);
  }
}

bool RunningProgram::Alive() {
  if (pid_ == 0 || ended_) return false;
  int status = 0;
  if (waitpid(pid_, &status, WNOHANG) == pid_) {
    ended_ = true;
    status_ = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return !ended_;
}

int RunningProgram::WaitForExit(int timeout_ms) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
  while (Alive() && std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  return ended_ ? status_ : -1;
}

std::string RunningProgram::Output() const {
  return ReadFile(dir_.File("program.out"));
}

void RunningProgram::Start(std::vector<std::string> arguments) {
  std::filesystem::copy_file(BinDir() + "/zqrstereo", dir_.File("zqrstereo"));
  std::vector<std::string> words{dir_.File("zqrstereo")};
  for (std::string& argument : arguments) words.push_back(std::move(argument));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = dir_.File("program.out");
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace zqr::test
