// POSIX implementation of the system services: /proc/self/exe, statvfs, pthreads with
// an explicit stack size, CLOCK_MONOTONIC.
#include "platform/system.h"

#include <dirent.h>
#include <pthread.h>
#include <pwd.h>
#include <signal.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string>
#include <string_view>

namespace zqr::platform {

std::vector<std::string> ProgramArguments(int argc, char** argv) {
  return std::vector<std::string>(argv, argv + argc);
}

std::string ExecutablePath() {
  char buffer[PATH_MAX + 1];
  ssize_t n = readlink("/proc/self/exe", buffer, PATH_MAX);
  if (n <= 0) return std::string();
  return std::string(buffer, static_cast<size_t>(n));
}

std::string CurrentDirectory() {
  char buffer[PATH_MAX + 1];
  if (getcwd(buffer, sizeof buffer) == nullptr) return std::string(".");
  return std::string(buffer);
}

std::string HomeFolder() {
  const char* home = getenv("HOME");
  if (home != nullptr && home[0] == '/') return home;
  struct passwd entry {};
  struct passwd* found = nullptr;
  char buffer[4096];
  if (getpwuid_r(getuid(), &entry, buffer, sizeof buffer, &found) == 0 && found != nullptr &&
      found->pw_dir != nullptr && found->pw_dir[0] == '/') {
    return found->pw_dir;
  }
  return std::string();
}

std::string EnvironmentValue(const std::string& name) {
  const char* value = getenv(name.c_str());
  return value != nullptr ? std::string(value) : std::string();
}

UserFolders UserDataFolders() {
  UserFolders folders;
  folders.home = HomeFolder();
  folders.config = EnvironmentValue("XDG_CONFIG_HOME");
  folders.state = EnvironmentValue("XDG_STATE_HOME");
  folders.cache = EnvironmentValue("XDG_CACHE_HOME");
  folders.runtime = EnvironmentValue("XDG_RUNTIME_DIR");
  return folders;
}

LocalTime LocalNow() {
  time_t now = time(nullptr);
  struct tm parts {};
  localtime_r(&now, &parts);
  return LocalTime{parts.tm_year + 1900, parts.tm_mon + 1, parts.tm_mday,
                   parts.tm_hour,        parts.tm_min,     parts.tm_sec};
}

uint64_t FreeSpaceBytes(const std::string& path) {
  struct statvfs info {};
  if (statvfs(path.empty() ? "." : path.c_str(), &info) != 0) return 0;
  return static_cast<uint64_t>(info.f_bavail) * static_cast<uint64_t>(info.f_frsize);
}

namespace {
// A number from the first line of `path` that begins with `key` (for /proc/meminfo, in kB);
// -1 when there is none. A bare file ("max" or a number, as cgroup files hold) has key "".
int64_t NumberAfter(const char* path, const std::string& key) {
  std::FILE* file = std::fopen(path, "r");
  if (file == nullptr) return -1;
  char line[256];
  int64_t value = -1;
  while (std::fgets(line, sizeof line, file) != nullptr) {
    if (std::string_view(line).starts_with(key)) {
      char* end = nullptr;
      const long long number = std::strtoll(line + key.size(), &end, 10);
      if (end != line + key.size()) value = number;
      break;
    }
  }
  std::fclose(file);
  return value;
}
}  // namespace

uint64_t CgroupMemoryRoomBytes(std::string_view self_cgroup, const std::string& root) {
  uint64_t room = UINT64_MAX;
  // The limit of one folder, and of each folder above it up to the hierarchy's root: a
  // parent's limit holds for its children too.
  auto within = [&](std::string folder, const char* limit_name, const char* usage_name) {
    while (true) {
      const int64_t limit = NumberAfter((folder + "/" + limit_name).c_str(), "");
      const int64_t used = NumberAfter((folder + "/" + usage_name).c_str(), "");
      // cgroup v1 writes "no limit" as a number near 2^63.
      if (limit > 0 && limit < (int64_t{1} << 60) && used >= 0) {
        room = std::min<uint64_t>(room, limit > used ? static_cast<uint64_t>(limit - used) : 0);
      }
      if (folder.size() <= root.size()) break;
      const size_t slash = folder.rfind('/');
      if (slash == std::string::npos || slash < root.size()) break;
      folder.resize(slash);
    }
  };
  size_t start = 0;
  while (start < self_cgroup.size()) {
    size_t end = self_cgroup.find('\n', start);
    if (end == std::string_view::npos) end = self_cgroup.size();
    // "hierarchy:controllers:path"; v2 has the hierarchy 0 and no controllers.
    const std::string_view line = self_cgroup.substr(start, end - start);
    start = end + 1;
    const size_t first = line.find(':');
    const size_t second = first == std::string_view::npos ? first : line.find(':', first + 1);
    if (second == std::string_view::npos) continue;
    const std::string_view controllers = line.substr(first + 1, second - first - 1);
    std::string path(line.substr(second + 1));
    if (path.find("/..") != std::string::npos) continue;
    if (path == "/") path.clear();
    if (controllers.empty()) {
      within(root + path, "memory.max", "memory.current");
    } else if (("," + std::string(controllers) + ",").find(",memory,") != std::string::npos) {
      within(root + "/memory" + path, "memory.limit_in_bytes", "memory.usage_in_bytes");
    }
  }
  return room;
}

uint64_t AvailableMemoryBytes() {
  const int64_t available_kb = NumberAfter("/proc/meminfo", "MemAvailable:");
  const int64_t swap_kb = NumberAfter("/proc/meminfo", "SwapFree:");
  if (available_kb < 0) return 0;
  uint64_t bytes = static_cast<uint64_t>(available_kb + std::max<int64_t>(swap_kb, 0)) * 1024;
  // The limits of the process's own control groups count as well (a container's, a
  // systemd scope's), v1 or v2.
  std::string self;
  if (std::FILE* file = std::fopen("/proc/self/cgroup", "r")) {
    char chunk[512];
    size_t got = 0;
    while ((got = std::fread(chunk, 1, sizeof chunk, file)) > 0 && self.size() < 65536) {
      self.append(chunk, got);
    }
    std::fclose(file);
  }
  return std::min(bytes, CgroupMemoryRoomBytes(self, "/sys/fs/cgroup"));
}

uint64_t ProcessMemoryLimitBytes() {
  struct rlimit address_space {};
  if (getrlimit(RLIMIT_AS, &address_space) != 0 || address_space.rlim_cur == RLIM_INFINITY) {
    return 0;
  }
  return address_space.rlim_cur;
}

uint64_t FileSizeLimitBytes() {
  struct rlimit file_size {};
  if (getrlimit(RLIMIT_FSIZE, &file_size) != 0 || file_size.rlim_cur == RLIM_INFINITY) return 0;
  return file_size.rlim_cur;
}

int64_t MonotonicMs() {
  struct timespec ts {};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<int64_t>(ts.tv_sec) * 1000 + ts.tv_nsec / 1000000;
}

void SleepMs(int milliseconds) {
  if (milliseconds <= 0) {
    sched_yield();
    return;
  }
  struct timespec ts {};
  ts.tv_sec = milliseconds / 1000;
  ts.tv_nsec = static_cast<long>(milliseconds % 1000) * 1000000L;
  while (nanosleep(&ts, &ts) != 0 && errno == EINTR) {
  }
}

namespace {
void* ThreadEntry(void* arg) {
  std::unique_ptr<std::function<void()>> body(static_cast<std::function<void()>*>(arg));
  (*body)();
  return nullptr;
}
}  // namespace

bool StartDetachedThread(std::function<void()> body, std::size_t stack_bytes) {
  pthread_attr_t attr;
  if (pthread_attr_init(&attr) != 0) return false;
  pthread_attr_setdetachstate(&attr, PTHREAD_CREATE_DETACHED);
  if (stack_bytes < static_cast<std::size_t>(PTHREAD_STACK_MIN)) stack_bytes = PTHREAD_STACK_MIN;
    // Sanitizer builds need more room than the program's 1 MiB threads were sized for.
#if defined(__SANITIZE_ADDRESS__)
  stack_bytes *= 4;
#endif
  pthread_attr_setstacksize(&attr, stack_bytes);
  auto* heap_body = new std::function<void()>(std::move(body));
  pthread_t thread;
  int rc = pthread_create(&thread, &attr, ThreadEntry, heap_body);
  pthread_attr_destroy(&attr);
  if (rc != 0) {
    delete heap_body;
    return false;
  }
  return true;
}

int DeleteFilesMatching(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches) {
  DIR* dir = opendir(folder.empty() ? "." : folder.c_str());
  if (dir == nullptr) return 0;
  int deleted = 0;
  while (struct dirent* entry = readdir(dir)) {
    std::string name = entry->d_name;
    if (!matches(name)) continue;
    std::string full = folder;
    full += kPathSeparator;
    full += name;
    struct stat st {};
    if (lstat(full.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) continue;
    if (unlink(full.c_str()) == 0) ++deleted;
  }
  closedir(dir);
  return deleted;
}

int64_t ProcessId() {
  return static_cast<int64_t>(getpid());
}

bool ProcessAlive(int64_t pid) {
  if (pid <= 0 || pid > INT_MAX) return false;
  return kill(static_cast<pid_t>(pid), 0) == 0 || errno == EPERM;
}

void IgnoreBrokenPipes() {
  signal(SIGPIPE, SIG_IGN);
}

namespace {
// Written by the handler, so a lock-free atomic; the first signal wins.
std::atomic<int> stop_signal{0};
static_assert(std::atomic<int>::is_always_lock_free);

void RememberStopSignal(int number) {
  int none = 0;
  stop_signal.compare_exchange_strong(none, number);
  // The first is remembered; the next ends the process, should the work be stuck.
  struct sigaction standard {};
  standard.sa_handler = SIG_DFL;
  sigemptyset(&standard.sa_mask);
  for (int stop : {SIGINT, SIGTERM, SIGHUP}) sigaction(stop, &standard, nullptr);
}
}  // namespace

void CatchStopSignals() {
  struct sigaction action {};
  action.sa_handler = RememberStopSignal;
  sigemptyset(&action.sa_mask);
  action.sa_flags = SA_RESTART;
  for (int number : {SIGINT, SIGTERM, SIGHUP}) sigaction(number, &action, nullptr);
}

int StopSignalCaught() {
  return stop_signal.load();
}

std::string StopSignalName(int number) {
  switch (number) {
    case SIGHUP:
      return "SIGHUP";
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    default:
      return "a signal";
  }
}

void SetEnvironmentDefault(const std::string& name, const std::string& value) {
  setenv(name.c_str(), value.c_str(), 0);
}

void SilenceSoundOutput() {
  // The preview sound plays through SDL, which then opens no device.
  SetEnvironmentDefault("SDL_AUDIODRIVER", "dummy");
}

bool DesktopSessionPresent() {
  return getenv("DISPLAY") != nullptr || getenv("WAYLAND_DISPLAY") != nullptr;
}

void LetGoOfOwnConsole() {}

bool StandardErrorIsTerminal() {
  return isatty(STDERR_FILENO) == 1;
}

}  // namespace zqr::platform
