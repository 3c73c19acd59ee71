#include "tests/support/running_program.h"

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <thread>
#include <utility>

extern char** environ;

namespace zqr::test {

bool UnderWine() {
  const char* build = std::getenv("ZQR_TEST_WINE_BUILD");
  return build != nullptr && *build != '\0';
}

std::string ProgramBuildDir() {
  return UnderWine() ? std::getenv("ZQR_TEST_WINE_BUILD") : BinDir();
}

std::string ProgramPath(const std::string& path) {
  if (!UnderWine() || path.empty() || path.front() != '/') return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

RunningProgram::RunningProgram() {
  Start({});
}

RunningProgram::RunningProgram(
    const std::function<std::vector<std::string>(const ScratchDir&)>& arguments) {
  std::filesystem::create_directory_symlink(ProgramBuildDir() + "/PLUG-IN", dir_.File("PLUG-IN"));
  Start(arguments(dir_));
}

RunningProgram::RunningProgram(const RunningProgram& first, std::vector<std::string> arguments)
    : folder_(first.folder_), output_("program-" + std::to_string(first.pid_) + "-beside.out") {
  Start(std::move(arguments));
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
  return ReadFile(folder_->File(output_));
}

bool RunningProgram::StartAgain(std::vector<std::string> arguments) {
  if (Alive()) return false;
  ended_ = false;
  status_ = -1;
  Start(std::move(arguments));
  return started();
}

void RunningProgram::Start(std::vector<std::string> arguments) {
  std::vector<std::string> words;
  if (UnderWine()) {
    // The Windows program with its DLLs beside it, as the portable zip lays it out.
    std::filesystem::copy_file(ProgramBuildDir() + "/zqrstereo.exe", folder_->File("zqrstereo.exe"),
                               std::filesystem::copy_options::skip_existing);
    for (const auto& entry : std::filesystem::directory_iterator(ProgramBuildDir())) {
      if (entry.path().extension() == ".dll" &&
          !std::filesystem::is_symlink(folder_->File(entry.path().filename().string()))) {
        std::filesystem::create_symlink(entry.path(),
                                        folder_->File(entry.path().filename().string()));
      }
    }
    words = {"wine", folder_->File("zqrstereo.exe")};
  } else {
    std::filesystem::copy_file(BinDir() + "/zqrstereo", folder_->File("zqrstereo"),
                               std::filesystem::copy_options::skip_existing);
    words = {folder_->File("zqrstereo")};
  }
  for (std::string& argument : arguments) words.push_back(ProgramPath(argument));
  std::vector<char*> argv;
  for (std::string& word : words) argv.push_back(word.data());
  argv.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  const std::string output = folder_->File(output_);
  posix_spawn_file_actions_addopen(&actions, 1, output.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  posix_spawn_file_actions_adddup2(&actions, 1, 2);
  if (posix_spawnp(&pid_, argv[0], &actions, nullptr, argv.data(), environ) != 0) pid_ = 0;
  posix_spawn_file_actions_destroy(&actions);
}

}  // namespace zqr::test
