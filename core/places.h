// Where the program keeps what it writes and finds what it runs. A program in a folder of
// its own (a build folder, a portable copy: writable, and not laid out as an install)
// keeps everything beside its executable. An installed one (bin/ beside lib/zqrstereo/),
// or one whose folder it may not write, follows the user's folders as the system names
// them (the XDG base directories; on Windows %APPDATA% and %LOCALAPPDATA%): settings in
// the configuration folder, the run log in the state folder, the temporary folder in the
// cache folder, and the probe's helper files in a private folder of their own.
#pragma once

#include <string>
#include <vector>

namespace zqr {

// `folder` without the separators at its end; the root stays the root.
std::string WithoutTrailingSeparators(std::string folder);

// What the choice depends on, read once at start-up (tests give their own).
struct PlaceFacts {
  std::string exe_folder;  // with its trailing separator
  std::string exe_name;    // without extension
  bool folder_writable = true;
  bool tools_beside = true;      // PLUG-IN/ in the executable's folder
  bool tools_installed = false;  // the tools in <prefix>/lib/zqrstereo/, prefix = bin/'s parent
  bool help_beside = true;       // <exe_name>.pdf in the executable's folder
  bool help_installed = false;   // <prefix>/share/doc/zqrstereo/zqrstereo.pdf
  // The user's folders as the system names them; empty when unset. Ones that are not
  // absolute count as unset.
  std::string home, config_home, state_home, cache_home, runtime_dir;
};

struct ProgramPlaces {
  bool beside = true;  // everything beside the executable, as in a build folder
  std::string settings_file;
  std::string log_file;
  std::string temp_folder;    // the default temporary folder, no trailing separator
  std::string helper_folder;  // the probe's helper files, with a trailing separator
  std::string tool_folder;    // the PLUG-IN tools, with a trailing separator
  std::string help_document;
};

ProgramPlaces ChoosePlaces(const PlaceFacts& facts);

// The facts of the executable in `exe_folder` and of this process's environment.
PlaceFacts GatherPlaceFacts(const std::string& exe_folder, const std::string& exe_name);

// For the executable SetProgramLocation recorded: chooses the places, makes the folders
// an installed program writes into (the helper folder private to the user), and points
// the shell's state and the run log at them.
void SettleProgramPlaces();

// Writes the lines naming the places chosen into the run log, for an installed program
// (beside the executable, where the places are plain to see, there are none).
void LogProgramPlaces();

// The lines LogProgramPlaces writes for `places`, the run log being at `log_file`.
std::vector<std::string> PlaceLines(const ProgramPlaces& places, const std::string& log_file);

}  // namespace zqr
