// The operating-system services the shell needs that the standard library does not
// give portably: where the executable lives, local time, free space and threads with
// a chosen stack size. One implementation per platform (posix/, win32/).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zqr::platform {

// Separator between folder and file names in composed paths, and what the name of a
// program file ends with ("ffmpeg_III" is "ffmpeg_III.exe" on Windows).
// kPathSeparators holds every character that ends a folder name in a path given to the
// program (Windows takes "/" as well as "\\").
#if defined(_WIN32)
inline constexpr char kPathSeparator = '\\';
inline constexpr const char* kPathSeparators = "\\/";
inline constexpr const char* kExecutableSuffix = ".exe";
#else
inline constexpr char kPathSeparator = '/';
inline constexpr const char* kPathSeparators = "/";
inline constexpr const char* kExecutableSuffix = "";
#endif

// The program's arguments (the program first) as UTF-8 text: argv itself on POSIX systems;
// on Windows the wide command line split by the system, since argv there holds the
// arguments in the local code page, which may lose characters of file names.
std::vector<std::string> ProgramArguments(int argc, char** argv);

// Full path of the running executable, e.g. "/opt/zqr/zqrstereo".
std::string ExecutablePath();

// The process's current directory, without a trailing separator (except for the root).
std::string CurrentDirectory();

// The user's home folder: $HOME when it is an absolute path, else the user database's
// entry; empty when neither names one.
std::string HomeFolder();

// The user's own folders for a program that cannot keep its files beside itself, as the
// system names them; empty when unknown. On POSIX systems these are the XDG variables as
// set (not yet checked), on Windows the roaming and local application-data folders.
struct UserFolders {
  std::string home;
  std::string config;   // settings
  std::string state;    // the run log
  std::string cache;    // the temporary folder
  std::string runtime;  // private helper files, gone at log-out
};
UserFolders UserDataFolders();

// The value of an environment variable; empty when it is unset.
std::string EnvironmentValue(const std::string& name);

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime LocalNow();

// Free bytes on the file system holding `path`; 0 when it cannot be read.
uint64_t FreeSpaceBytes(const std::string& path);

// Memory the programs of a conversion can still have (available memory and free swap,
// within the container's limit); 0 when it cannot be read.
uint64_t AvailableMemoryBytes();
// Room left under the memory limits of the control groups that `self_cgroup` (the text of
// /proc/self/cgroup) names, their files read below `root` (/sys/fs/cgroup); UINT64_MAX when no
// limit applies. POSIX only.
uint64_t CgroupMemoryRoomBytes(std::string_view self_cgroup, const std::string& root);
// The most memory one process may map (ulimit -v, inherited by the tools); 0 for no limit.
uint64_t ProcessMemoryLimitBytes();

// The largest file this process (and the tools it starts) may write (ulimit -f); 0 for no
// limit.
uint64_t FileSizeLimitBytes();

// Milliseconds from a monotonic clock (never jumps with the wall clock).
int64_t MonotonicMs();

void SleepMs(int milliseconds);

// Starts `body` on a detached thread with the given stack size (the program's worker
// threads use 1 MiB). Returns false when the thread could not be created.
bool StartDetachedThread(std::function<void()> body,
                         std::size_t stack_bytes = std::size_t{1} << 20);

// Sets an environment variable for this process and the tools it starts, unless it is set
// already. Call it before any thread is started.
void SetEnvironmentDefault(const std::string& name, const std::string& value);

// No sound device is opened by this process from now on: the sound it would play goes
// nowhere (a batch run plays none). Call it before any thread is started.
void SilenceSoundOutput();

// This process's number, for names that must differ between runs side by side.
int64_t ProcessId();
// Whether a process of that number lives (one of another user's counts).
bool ProcessAlive(int64_t pid);

// A write to a pipe or socket whose reader has gone fails instead of ending the process:
// the program's exit status then says what happened to its work, not to its output.
void IgnoreBrokenPipes();

// From now on SIGINT, SIGTERM and SIGHUP no longer end the process at once: they are
// remembered, and the work in progress is expected to look at StopSignalCaught and wind
// itself up (a batch run removes what it has begun before it exits). A second one ends it
// at once, should the work be stuck; what it leaves the next start removes.
void CatchStopSignals();
// On Windows Ctrl+C and Ctrl+Break count as SIGINT (2), closing the console as SIGHUP (1)
// and the end of the session as SIGTERM (15).
// The first of those signals caught so far; 0 for none.
int StopSignalCaught();
// The user's words for one of those signals ("SIGINT", or "Ctrl+C" on Windows).
std::string StopSignalName(int number);

// Whether this process can show windows: a display to draw on (X11 or Wayland); on
// Windows an interactive desktop.
bool DesktopSessionPresent();

// A console made for this process alone (Windows gives one to a console program started
// from the Start menu or Explorer) is let go, so that it does not stand behind the window;
// a console the user started the program from stays. Nothing to do elsewhere.
void LetGoOfOwnConsole();

// Whether standard error is a terminal (progress lines are redrawn in place there).
bool StandardErrorIsTerminal();

// Deletes every regular file directly inside `folder` whose name `matches` accepts
// (links and folders are never touched). Failures are ignored; returns how many went.
int DeleteFilesMatching(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches);

}  // namespace zqr::platform
