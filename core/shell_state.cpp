#include "core/shell_state.h"

#include <filesystem>
#include <string_view>

#include "core/numbers.h"
#include "core/run_log.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

ShellState Shell;

// The folder as given may end in any separator the system takes ("/" on Windows too).
std::string ExeFolderNoSeparator() {
  std::string folder = Shell.ExeFolder;
  while (folder.size() > 1 && std::string_view(platform::kPathSeparators).find(folder.back()) !=
                                  std::string_view::npos) {
    folder.pop_back();
  }
  return folder;
}

void SetProgramLocation(const std::string& executable_path) {
  size_t slash = executable_path.find_last_of(platform::kPathSeparators);
  std::string folder = slash == std::string::npos ? std::string(".") + platform::kPathSeparator
                                                  : executable_path.substr(0, slash + 1);
  std::string file =
      slash == std::string::npos ? executable_path : executable_path.substr(slash + 1);
  size_t dot = file.find_last_of('.');
  Shell.ExeFolder = folder;
  Shell.ExeName = dot == std::string::npos || dot == 0 ? file : file.substr(0, dot);
  Shell.LogFile = folder + Shell.ExeName + ".log";
  Shell.SettingsFile = folder + Shell.ExeName + ".ini";
  Shell.TempFolder = ExeFolderNoSeparator() + platform::kPathSeparator + "TEMP";
  Shell.FallbackTempFolder = ExeFolderNoSeparator();
  Shell.ToolFolder =
      ExeFolderNoSeparator() + platform::kPathSeparator + "PLUG-IN" + platform::kPathSeparator;
  Shell.HelperFolder = folder;
  Shell.HelpDocument = folder + Shell.ExeName + ".pdf";
  Shell.BesideProgram = true;
  SetLogFile(Shell.LogFile);
}

std::string UsableTempFolder(std::string_view candidate) {
  std::string folder = TrimBlanksAndNuls(candidate);
  if (!folder.empty() && platform::PathOf(folder).is_absolute()) return folder;
  const std::string& fallback = Shell.FallbackTempFolder;
  LogLine(folder.empty() ? "Temp folder is empty, using " + fallback
                         : "Temp folder " + folder + " is not an absolute path, using " + fallback);
  return fallback;
}

std::string InstanceFileName(const std::string& name) {
  return Shell.SoleInstance ? name : NameWithProcessNumber(name, platform::ProcessId());
}

std::string InstanceFilePath(const std::string& name) {
  return Shell.HelperFolder + InstanceFileName(name);
}

std::string ToolPath(const std::string& tool_name) {
  return Shell.ToolFolder + tool_name + platform::kExecutableSuffix;
}

}  // namespace zqr
