// Running the encoder tools in PLUG-IN beside the executable: a composed command line is
// started hidden and waited for on the calling thread; the tools' messages are not read.
#pragma once

#include <string>
#include <string_view>

namespace zqr {

// Caption of the message box that refuses a file name.
inline constexpr const char* kErrorMonitoringCaption = "Error Monitoring";

// Starts the command line (program first, Windows quoting rules) and waits for the tool
// to end, its standard error sent to `error_file` when that is not empty. Returns the
// tool's exit status; -1 when it could not be started or ended by a signal.
int RunToolForStatus(std::string_view command_line, const std::string& error_file = {});

// Every command line quotes its file names with double quotes, so a name that holds a
// double quote, a line break, or ends with a backslash (which would escape the closing
// quote) could add arguments of its own. Returns the message to show for such a path,
// or an empty text when the path can be passed on. `subject` names what the path is.
std::string CheckPathForCommandLine(std::string_view path, std::string_view subject = "file name");

// `text` between double quotes, as the composed command lines write file names.
inline std::string Quoted(const std::string& text) {
  return '"' + text + '"';
}

// True when `path` can stand inside double quotes on a composed command line.
inline bool PathFitsCommandLine(std::string_view path) {
  return CheckPathForCommandLine(path).empty();
}

}  // namespace zqr
