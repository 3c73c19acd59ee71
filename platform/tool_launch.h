// What the PLUG-IN tool programs need of the system: finding the real ffmpeg and running
// it in their own place, its exit status theirs and its end bound to theirs. On POSIX
// systems a tool becomes the program it runs (exec); Windows has no such thing, so there
// the tool starts it, waits for it and passes its exit code on.
#pragma once

#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace zqr::platform {

// Whether `path` names a regular file this process may run.
bool IsRunnableFile(const std::string& path);

// The first `name` (with the system's program suffix) in the folders of PATH that is a
// runnable file and not the same file as `skip` (links resolved); empty when none is.
std::string FindOnPath(const std::string& name, const std::string& skip = std::string());

// Runs args[0] (looked up on PATH when it names no folder) with the arguments in this
// program's place: its standard streams are this program's, and what it exits with is
// returned for this program to exit with. 127 when it cannot be started (with a message
// on standard error naming `tool`). On POSIX systems this returns only then.
int RunInPlace(const std::vector<std::string>& args, const char* tool);

// Runs args[0] as RunInPlace does, but what it writes to standard error reaches
// `on_error` in pieces as it comes (the caller writes it on). Stop requests (signals,
// Ctrl+C) reach the program, which ends with this one. Returns the status to exit with:
// the program's exit code, 128 + the signal that ended it, 127 when it could not start.
int RunFilteringErrors(const std::vector<std::string>& args,
                       const std::function<void(std::string_view)>& on_error, const char* tool);

// Writes all of `bytes` to standard error, unbuffered.
void WriteStandardError(std::string_view bytes);

}  // namespace zqr::platform
