// The run log: a plain text file beside the executable, recreated at every start,
// one CR LF line per event. Every line is on disk when LogLine returns. An instance that
// finds the log held by another live one writes its own, the name with its process number
// before the extension (zqrstereo.1234.log).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace zqr {

// Sets the file that LogLine appends to (start-up forms it from the executable's name).
void SetLogFile(const std::string& path);
const std::string& LogFilePath();

// Appends one line. Serialised across threads; a failure to write loses the line.
void LogLine(std::string_view text);

// Empties the previous run's log (or takes an instance log of its own, see above) and
// writes the two header lines (name and local time). A log the user named (`given_by_user`)
// is emptied only when it is one of ours, begun with the header, or is empty.
void StartRunLog(bool given_by_user = false);
// Whether the last StartRunLog found its log held by another instance.
bool RunLogOfAnotherInstance();
// What kept the last StartRunLog from its log, one line; empty when it has it. A file the
// user named that is not a log of ours is left as it was, and no line goes into it.
std::string RunLogProblem();
// `path` with ".<pid>" before its extension.
std::string NameWithProcessNumber(const std::string& path, int64_t pid);

// The instance logs beside `log_path` (its name with a process number, zqrstereo.1234.log)
// that are older than a week or beyond the few newest are removed, except those a live
// instance still holds. StartRunLog does this; returns how many went.
inline constexpr size_t kInstanceLogsKept = 5;
int PruneInstanceLogs(const std::string& log_path);
// How many of those a live instance holds, `own` not counted.
int LiveInstanceLogs(const std::string& log_path, const std::string& own);
// How many live instances the last StartRunLog found beside this one: 0 when it has the
// usual log, else its holder and the live instance logs (a new window opens past them).
int RunLogInstancesBefore();

}  // namespace zqr
