// The run log: a plain text file beside the executable, recreated at every start,
// one CR LF line per event. Every line is on disk when LogLine returns.
#pragma once

#include <string>
#include <string_view>

namespace zqr {

// Sets the file that LogLine appends to (start-up forms it from the executable's name).
void SetLogFile(const std::string& path);
const std::string& LogFilePath();

// Appends one line. Serialised across threads; a failure to write loses the line.
void LogLine(std::string_view text);

// Deletes the previous run's log and writes the two header lines (name and local time).
void StartRunLog();

}  // namespace zqr
