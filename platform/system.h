// The operating-system services the shell needs that the standard library does not
// give portably: where the executable lives, local time, free space and threads with
// a chosen stack size. One implementation per platform (posix/ here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace zqr::platform {

// Separator between folder and file names in composed paths.
inline constexpr char kPathSeparator = '/';

// Full path of the running executable, e.g. "/opt/zqr/zqrstereo".
std::string ExecutablePath();

// The process's current directory, without a trailing separator (except for the root).
std::string CurrentDirectory();

// The user's home folder: $HOME when it is an absolute path, else the user database's
// entry; empty when neither names one.
std::string HomeFolder();

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime LocalNow();

// Free bytes on the file system holding `path`; 0 when it cannot be read.
uint64_t FreeSpaceBytes(const std::string& path);

// Memory the programs of a conversion can still have (available memory and free swap,
// within the container's limit); 0 when it cannot be read.
uint64_t AvailableMemoryBytes();
// The most memory one process may map (ulimit -v, inherited by the tools); 0 for no limit.
uint64_t ProcessMemoryLimitBytes();

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
// The first of those signals caught so far; 0 for none.
int StopSignalCaught();

// Whether standard error is a terminal (progress lines are redrawn in place there).
bool StandardErrorIsTerminal();

// Deletes every regular file directly inside `folder` whose name `matches` accepts
// (links and folders are never touched). Failures are ignored; returns how many went.
int DeleteFilesMatching(const std::string& folder,
                        const std::function<bool(std::string_view name)>& matches);

}  // namespace zqr::platform
