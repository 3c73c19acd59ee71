// Windows implementation of the system services: GetModuleFileNameW, GetDiskFreeSpaceExW,
// GlobalMemoryStatusEx, threads with an explicit stack size, the performance counter, and
// the console's control events in place of stop signals.
#include "platform/system.h"

#include <process.h>
#include <stdlib.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <memory>
#include <string>
#include <string_view>

#include "platform/win32/win32_common.h"

namespace zqr::platform {

using win32::Narrow;
using win32::Wide;

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  int count = 0;
  LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
  if (wide == nullptr) return std::vector<std::string>(argv, argv + argc);
  std::vector<std::string> args;
  args.reserve(static_cast<size_t>(count));
  for (int i = 0; i < count; ++i) args.push_back(Narrow(wide[i]));
  LocalFree(wide);
  return args;
}

std::string ExecutablePath() {
  std::wstring buffer(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::string();
    if (n < buffer.size()) return Narrow(std::wstring_view(buffer.data(), n));
    if (buffer.size() >= 32768) return std::string();  // longer than any path can be
    buffer.resize(buffer.size() * 2);
  }
}

std::string CurrentDirectory() {
  const DWORD size = GetCurrentDirectoryW(0, nullptr);
  if (size == 0) return std::string(".");
  std::wstring buffer(size, L'\0');
  const DWORD n = GetCurrentDirectoryW(size, buffer.data());
  if (n == 0 || n >= size) return std::string(".");
  return Narrow(std::wstring_view(buffer.data(), n));
}

std::string EnvironmentValue(const std::string& name) {
  const std::wstring wide_name = Wide(name);
  const DWORD size = GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0);
  if (size == 0) return std::string();
  std::wstring value(size, L'\0');
  const DWORD n = GetEnvironmentVariableW(wide_name.c_str(), value.data(), size);
  if (n == 0 || n >= size) return std::string();
  return Narrow(std::wstring_view(value.data(), n));
}

namespace {
bool IsAbsolute(const std::string& path) {
  return path.size() >= 3 && path[1] == ':' && (path[2] == '\\' || path[2] == '/');
}

// A folder the shell knows (the profile, the application-data folders); empty when it
// cannot say.
std::string KnownFolder(REFKNOWNFOLDERID id) {
  PWSTR path = nullptr;
  std::string folder;
  if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path != nullptr) {
    folder = Narrow(path);
  }
  CoTaskMemFree(path);
  return folder;
}

// The variable when it names an absolute folder, else the shell's own answer.
std::string NamedFolder(const char* variable, REFKNOWNFOLDERID id) {
  const std::string value = EnvironmentValue(variable);
  return IsAbsolute(value) ? value : KnownFolder(id);
}
}  // namespace

std::string HomeFolder() {
  return NamedFolder("USERPROFILE", FOLDERID_Profile);
}

UserFolders UserDataFolders() {
  UserFolders folders;
  folders.home = HomeFolder();
  // Settings roam with the user; the log and the temporary files stay on this machine.
  folders.config = NamedFolder("APPDATA", FOLDERID_RoamingAppData);
  folders.state = NamedFolder("LOCALAPPDATA", FOLDERID_LocalAppData);
  folders.cache = folders.state;
  return folders;
}

LocalTime LocalNow() {
  SYSTEMTIME now{};
  GetLocalTime(&now);
  return LocalTime{now.wYear, now.wMonth, now.wDay, now.wHour, now.wMinute, now.wSecond};
}

uint64_t FreeSpaceBytes(const std::string& path) {
  ULARGE_INTEGER available{};
  const std::wstring wide = Wide(path.empty() ? "." : path);
  if (GetDiskFreeSpaceExW(wide.c_str(), &available, nullptr, nullptr)) return available.QuadPart;
  // A file rather than a folder: the folder it is in.
  const size_t slash = path.find_last_of(kPathSeparators);
  if (slash == std::string::npos) return 0;
  const std::wstring folder = Wide(path.substr(0, slash + 1));
  return GetDiskFreeSpaceExW(folder.c_str(), &available, nullptr, nullptr) ? available.QuadPart : 0;
}

namespace {
// The limits of the job this process runs in; none when it runs in none.
JOBOBJECT_EXTENDED_LIMIT_INFORMATION JobLimits() {
  JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits{};
  if (!QueryInformationJobObject(nullptr, JobObjectExtendedLimitInformation, &limits, sizeof limits,
                                 nullptr)) {
    limits = JOBOBJECT_EXTENDED_LIMIT_INFORMATION{};
  }
  return limits;
}
}  // namespace

uint64_t AvailableMemoryBytes() {
  MEMORYSTATUSEX status{};
  status.dwLength = sizeof status;
  if (!GlobalMemoryStatusEx(&status)) return 0;
  // What may still be committed: free memory and free page file together, as available
  // memory and free swap are counted on Linux.
  uint64_t bytes = status.ullAvailPageFile;
  // A job's limit counts as a container's does.
  const JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = JobLimits();
  if ((limits.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_JOB_MEMORY) != 0) {
    bytes = std::min<uint64_t>(bytes, limits.JobMemoryLimit);
  }
  return bytes;
}

uint64_t FileSizeLimitBytes() {
  return 0;  // Windows sets no such limit
}

uint64_t ProcessMemoryLimitBytes() {
  const JOBOBJECT_EXTENDED_LIMIT_INFORMATION limits = JobLimits();
  if ((limits.BasicLimitInformation.LimitFlags & JOB_OBJECT_LIMIT_PROCESS_MEMORY) == 0) return 0;
  return limits.ProcessMemoryLimit;
}

int64_t MonotonicMs() {
  static const int64_t frequency = [] {
    LARGE_INTEGER f{};
    QueryPerformanceFrequency(&f);
    return f.QuadPart > 0 ? static_cast<int64_t>(f.QuadPart) : int64_t{1000};
  }();
  LARGE_INTEGER now{};
  QueryPerformanceCounter(&now);
  const int64_t ticks = now.QuadPart;
  return ticks / frequency * 1000 + ticks % frequency * 1000 / frequency;
}

void SleepMs(int milliseconds) {
  if (milliseconds <= 0) {
    SwitchToThread();
    return;
  }
  Sleep(static_cast<DWORD>(milliseconds));
}

namespace {
unsigned __stdcall ThreadEntry(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return 0;
}
}  // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stack_bytes) {
  auto* heap_body = new std::function<void()>(std::move(body));
  // _beginthreadex rather than CreateThread: the thread uses the C runtime. The size is
  // the stack's reservation, as a POSIX thread's stack size is.
  const uintptr_t thread =
      _beginthreadex(nullptr, static_cast<unsigned>(std::min<std::size_t>(stack_bytes, UINT_MAX)),
                     ThreadEntry, heap_body, STACK_SIZE_PARAM_IS_A_RESERVATION, nullptr);
  if (thread == 0) {
    delete heap_body;
    return false;
  }
  CloseHandle(reinterpret_cast<HANDLE>(thread));
  return true;
}

int DeleteFilesMatching(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches) {
  const std::string base = folder.empty() ? std::string(".") : folder;
  WIN32_FIND_DATAW entry{};
  const HANDLE search = FindFirstFileW(Wide(base + kPathSeparator + "*").c_str(), &entry);
  if (search == INVALID_HANDLE_VALUE) return 0;
  int deleted = 0;
  do {
    // Folders and links (reparse points) are never touched.
    if ((entry.dwFileAttributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) {
      continue;
    }
    const std::string name = Narrow(entry.cFileName);
    if (!matches(name)) continue;
    if (DeleteFileW(Wide(base + kPathSeparator + name).c_str())) ++deleted;
  } while (FindNextFileW(search, &entry));
  FindClose(search);
  return deleted;
}

int64_t ProcessId() {
  return static_cast<int64_t>(GetCurrentProcessId());
}

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > UINT32_MAX) return false;
  const HANDLE process =
      OpenProcess(SYNCHRONIZE | PROCESS_QUERY_LIMITED_INFORMATION, FALSE, static_cast<DWORD>(pid));
  // Another user's process cannot be opened, but it lives.
  if (process == nullptr) return GetLastError() == ERROR_ACCESS_DENIED;
  const bool alive = WaitForSingleObject(process, 0) == WAIT_TIMEOUT;
  CloseHandle(process);
  return alive;
}

void IgnoreBrokenPipes() {
  // Nothing to do: a write to a pipe whose reader has gone fails on Windows, it never
  // ends the process.
}

namespace {
// Written by the handler (which runs on a thread of its own), so a lock-free atomic; the
// first event wins.
std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

constexpr int kHangUp = 1, kInterrupt = 2, kTerminate = 15;

BOOL WINAPI RememberStopEvent(DWORD event) {
  int number = kTerminate;
  if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) number = kInterrupt;
  if (event == CTRL_CLOSE_EVENT) number = kHangUp;
  int none = 0;
  // The next one ends the process at once (the system's own handler), should the work be
  // stuck.
  if (!stop_signal.compare_exchange_strong(none, number)) return FALSE;
  if (number != kInterrupt) {
    // The system ends the process as soon as this handler returns from a close, log-off
    // or shut-down event: hold it while the work winds itself up and exits (the system
    // allows a few seconds).
    Sleep(INFINITE);
  }
  return TRUE;
}
}  // namespace

void CatchStopSignals() {
  SetConsoleCtrlHandler(RememberStopEvent, TRUE);
}

int StopSignalCaught() {
  return stop_signal.load();
}

std::string StopSignalName(int number) {
  switch (number) {
    case kHangUp:
      return "closing the console";
    case kInterrupt:
      return "Ctrl+C";
    case kTerminate:
      return "the end of the session";
    default:
      return "a signal";
  }
}

void SetEnvironmentDefault(const std::string& name, const std::string& value) {
  const std::wstring wide_name = Wide(name);
  if (GetEnvironmentVariableW(wide_name.c_str(), nullptr, 0) != 0) return;
  const std::wstring wide_value = Wide(value);
  // The C runtime keeps a copy of its own (getenv reads that one); _wputenv_s sets both.
  if (_wputenv_s(wide_name.c_str(), wide_value.c_str()) != 0) {
    SetEnvironmentVariableW(wide_name.c_str(), wide_value.c_str());
  }
}

void SilenceSoundOutput() {
  // The preview sound plays through SDL, which then opens no device.
  SetEnvironmentDefault("SDL_AUDIODRIVER", "dummy");
}

bool DesktopSessionPresent() {
  // A service's window station has no visible desktop to open a window on.
  USEROBJECTFLAGS flags{};
  const HWINSTA station = GetProcessWindowStation();
  return station != nullptr &&
         GetUserObjectInformationW(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
         (flags.dwFlags & WSF_VISIBLE) != 0;
}

void LetGoOfOwnConsole() {
  DWORD processes[2];
  if (GetConsoleProcessList(processes, 2) == 1) FreeConsole();
}

bool StandardErrorIsTerminal() {
  DWORD mode = 0;
  return GetConsoleMode(GetStdHandle(STD_ERROR_HANDLE), &mode) != 0;
}

}  // namespace zqr::platform
