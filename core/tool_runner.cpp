// The hidden tool run on top of the platform's process runner, and the file-name check
// that guards every composed command line.
#include "core/tool_runner.h"

#include "platform/process.h"

namespace zqr {

int RunToolForStatus(std::string_view command_line, const std::string& error_file) {
  if (command_line.empty()) return -1;
  platform::Redirections redirections;
  redirections.error_path = error_file;
  const platform::ProcessResult result = platform::RunCommandLine(command_line, redirections);
  return result.started ? result.exit_code : -1;
}

std::string CheckPathForCommandLine(std::string_view path, std::string_view subject) {
  std::string problem;
  if (path.find('"') != std::string_view::npos) {
    problem = "contains a double quote (\")";
  } else if (path.find_first_of("\r\n") != std::string_view::npos) {
    problem = "contains a line break";
  } else {
    size_t end = path.find_last_not_of(' ');
    if (end != std::string_view::npos && path[end] == '\\') problem = "ends with a backslash (\\)";
  }
  if (problem.empty()) return std::string();
  return "The " + std::string(subject) + " " + problem +
         " and cannot be passed to the encoder tools:\r\n" + std::string(path) +
         "\r\nPlease rename the file or choose another name.";
}

}  // namespace zqr
