// The shell's process-wide state: where the program and its files live, and the
// time texts shown during a conversion. SetProgramLocation puts every file beside the
// executable; start-up then settles the places an installed program uses (core/places.h).
#pragma once

#include <string>
#include <string_view>

#include "core/shared_value.h"

namespace zqr {

struct ShellState {
  std::string ExeFolder;     // the executable's folder, with its trailing separator
  std::string ExeName;       // the executable's file name without extension
  std::string LogFile;       // ExeFolder + ExeName + ".log"
  std::string SettingsFile;  // ExeFolder + ExeName + ".ini"
  std::string TempFolder;    // working folder for frame and sound files, no trailing separator
  SharedString VideoFolder;  // folder offered by the video dialogs (loader thread and window)
  // The depth-map effect's depth video or picture; empty: the vertical prior.
  SharedString DepthSource;
  // The depth model the window's depth-map effect runs when no depth file is chosen; empty:
  // none.
  SharedString DepthModel;
  SharedText8 EstimateText{"00.00.00"};
  SharedText8 ElapsedText{"00.00.00"};
  // False when other instances may run beside this one (a batch run, or a window started
  // while another held the run log): the files every instance would write beside the
  // executable then carry this process's number.
  bool SoleInstance = true;

  // Beside the executable (SetProgramLocation) these are its folder without separator,
  // ExeFolder + "PLUG-IN/", ExeFolder and ExeFolder + ExeName + ".pdf"; an installed
  // program's are chosen by SettleProgramPlaces (core/places.h).
  std::string FallbackTempFolder;  // what an empty or relative TempFolder becomes
  std::string ToolFolder;          // the PLUG-IN tools, with the trailing separator
  std::string HelperFolder;        // the probe's helper files, with the trailing separator
  std::string HelpDocument;        // the manual Help opens
  bool BesideProgram = true;       // false once an installed program's places were chosen
};

extern ShellState Shell;

// The executable's folder without its trailing separators (the root stays "/").
std::string ExeFolderNoSeparator();

// Sets ExeFolder, ExeName and every place beside the executable (LogFile, SettingsFile,
// the default TempFolder, ...) from the path of an executable (start-up passes the running
// one; tests pass their own).
void SetProgramLocation(const std::string& executable_path);

// The temporary folder to keep for a loaded or picked `candidate`, trimmed of blanks and
// NULs: the candidate itself when it is an absolute path; otherwise (empty, or relative to
// whatever the working folder happens to be) FallbackTempFolder, with a log line saying so.
std::string UsableTempFolder(std::string_view candidate);

// `name` (such as "tempKRun.bat") as this instance names its own helper file: unchanged
// for the sole instance, else with ".<pid>" before the extension.
std::string InstanceFileName(const std::string& name);
// Where this instance keeps its helper file `name`: HelperFolder + InstanceFileName(name).
std::string InstanceFilePath(const std::string& name);

// Path of one of the program's tools: ToolFolder + name + the system's program suffix
// (".exe" on Windows).
std::string ToolPath(const std::string& tool_name);

}  // namespace zqr
