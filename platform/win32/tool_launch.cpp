// The tool programs on Windows: the real program is started with this one's standard
// handles (or a pipe for its error stream), in a job object that ends it with this one,
// and waited for. Ctrl+C reaches every program on the console by itself, so this one
// lets the event pass and waits for the program to end.
#include "platform/tool_launch.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <system_error>

#include "platform/path.h"
#include "platform/process.h"
#include "platform/system.h"
#include "platform/win32/spawn.h"
#include "platform/win32/win32_common.h"

namespace zqr::platform {

using win32::Wide;

namespace {
BOOL WINAPI LetTheProgramAnswer(DWORD /*event*/) {
  return TRUE;  // the program started gets the event too and ends; its end ends this one
}

void CannotRun(const char* tool, const std::string& program) {
  std::fprintf(stderr, "%s: cannot run %s: system error %lu\n", tool, program.c_str(),
               static_cast<unsigned long>(GetLastError()));
}

// Starts `args` with the given error handle (none: this program's); waits for its end,
// calling `on_error` with what arrives on `error_read` meanwhile. The exit status.
int RunAndWait(const std::vector<std::string>& args, HANDLE error_write, HANDLE error_read,
               const std::function<void(std::string_view)>* on_error, const char* tool) {
  win32::StandardHandles handles;
  handles.input = GetStdHandle(STD_INPUT_HANDLE);
  handles.output = GetStdHandle(STD_OUTPUT_HANDLE);
  handles.error = error_write != nullptr ? error_write : GetStdHandle(STD_ERROR_HANDLE);
  HANDLE job = win32::NewKillOnCloseJob();
  PROCESS_INFORMATION started{};
  SetConsoleCtrlHandler(LetTheProgramAnswer, TRUE);
  const bool ok = win32::StartProcess(JoinCommandLine(args), handles, job, started);
  // Only the program holds the pipe's writing end now: its end is the end of the stream.
  if (error_write != nullptr) CloseHandle(error_write);
  if (!ok) {
    CannotRun(tool, args.front());
    if (error_read != nullptr) CloseHandle(error_read);
    if (job != nullptr) CloseHandle(job);
    return 127;
  }
  CloseHandle(started.hThread);
  if (error_read != nullptr) {
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(error_read, buffer, sizeof buffer, &got, nullptr) && got > 0) {
      (*on_error)(std::string_view(buffer, got));
    }
    CloseHandle(error_read);
  }
  WaitForSingleObject(started.hProcess, INFINITE);
  DWORD code = 1;
  GetExitCodeProcess(started.hProcess, &code);
  CloseHandle(started.hProcess);
  if (job != nullptr) CloseHandle(job);
  // The code itself, an exception's included: the starter reads it as it would the
  // program's.
  return static_cast<int>(code);
}
}  // namespace

bool IsRunnableFile(const std::string& path) {
  const DWORD attributes = GetFileAttributesW(Wide(path).c_str());
  if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
    return false;
  }
  DWORD kind = 0;
  return GetBinaryTypeW(Wide(path).c_str(), &kind) != 0;
}

std::string FindOnPath(const std::string& name, const std::string& skip) {
  const std::string path = EnvironmentValue("PATH");
  std::string_view folders = path;
  while (!folders.empty()) {
    const size_t semicolon = folders.find(';');
    std::string folder(folders.substr(0, semicolon));
    folders =
        semicolon == std::string_view::npos ? std::string_view() : folders.substr(semicolon + 1);
    // A folder in PATH may be quoted.
    if (folder.size() >= 2 && folder.front() == '"' && folder.back() == '"') {
      folder = folder.substr(1, folder.size() - 2);
    }
    if (folder.empty()) continue;
    const std::string candidate = folder + kPathSeparator + name + kExecutableSuffix;
    if (!IsRunnableFile(candidate)) continue;
    std::error_code error;
    if (!skip.empty() && std::filesystem::equivalent(PathOf(candidate), PathOf(skip), error))
      continue;
    return candidate;
  }
  return std::string();
}

int RunInPlace(const std::vector<std::string>& args, const char* tool) {
  if (args.empty()) return 127;
  return RunAndWait(args, nullptr, nullptr, nullptr, tool);
}

int RunFilteringErrors(const std::vector<std::string>& args,
                       const std::function<void(std::string_view)>& on_error, const char* tool) {
  if (args.empty()) return 127;
  HANDLE read_end = nullptr, write_end = nullptr;
  if (!CreatePipe(&read_end, &write_end, nullptr, 0)) return RunInPlace(args, tool);
  return RunAndWait(args, write_end, read_end, &on_error, tool);
}

void WriteStandardError(std::string_view bytes) {
  const HANDLE error = GetStdHandle(STD_ERROR_HANDLE);
  while (!bytes.empty()) {
    DWORD written = 0;
    const DWORD chunk = static_cast<DWORD>(std::min<size_t>(bytes.size(), 1u << 20));
    if (!WriteFile(error, bytes.data(), chunk, &written, nullptr) || written == 0) return;
    bytes.remove_prefix(written);
  }
}

}  // namespace zqr::platform
