// The operating-system services the shell needs that the standard library does not
// give portably: where the executable lives, local time, free space and threads with
// a chosen stack size. One implementation per platform (posix/ here).
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>

namespace zqr::platform {

// Separator between folder and file names in composed paths.
inline constexpr char kPathSeparator = '/';

// Full path of the running executable, e.g. "/opt/zqr/zqrstereo".
std::string ExecutablePath();

// The process's current directory, without a trailing separator (except for the root).
std::string CurrentDirectory();

struct LocalTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
};
LocalTime LocalNow();

// Free bytes on the file system holding `path`; 0 when it cannot be read.
uint64_t FreeSpaceBytes(const std::string& path);

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

// Whether standard error is a terminal (progress lines are redrawn in place there).
bool StandardErrorIsTerminal();

// Deletes every regular file directly inside `folder` whose name ends with `suffix`
// (case-insensitive, e.g. ".bmp"). Failures are ignored; returns how many went.
int DeleteFilesWithSuffix(const std::string& folder, const std::string& suffix);

}  // namespace zqr::platform
