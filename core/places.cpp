// The places of the program's files. Beside the executable they are what they have always
// been; an installed program cannot write there (and as root must not), so its places are
// the user's own (the XDG folders, or Windows' application-data folders, as the system
// names them), and it finds its tools and its manual under the prefix its executable
// stands in, wherever that prefix was moved.
#include "core/places.h"

#include <filesystem>
#include <initializer_list>
#include <string_view>
#include <system_error>

#include "core/run_log.h"
#include "core/shell_state.h"
#include "platform/files.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

namespace {

constexpr char kSeparator = platform::kPathSeparator;

bool Absolute(const std::string& path) {
  return !path.empty() && platform::PathOf(path).is_absolute();
}

// `folder` and the names after it, each behind the system's separator.
std::string Joined(std::string folder, std::initializer_list<std::string_view> names) {
  for (const std::string_view name : names) {
    folder += kSeparator;
    folder += name;
  }
  return folder;
}

// The folder bin/ stands in: "/usr/bin/" gives "/usr".
std::string PrefixOf(const std::string& exe_folder) {
  const std::filesystem::path bin(platform::PathOf(WithoutTrailingSeparators(exe_folder)));
  return WithoutTrailingSeparators(platform::PathText(bin.parent_path()));
}

// A base folder of the user's: the system's name for it when that is an absolute path,
// else `fallback` inside the home folder; empty when there is no home folder either.
std::string BaseFolder(const std::string& named, const std::string& home,
                       std::initializer_list<std::string_view> fallback) {
  if (Absolute(named)) return WithoutTrailingSeparators(named);
  if (!Absolute(home)) return std::string();
  return Joined(WithoutTrailingSeparators(home), fallback);
}

ProgramPlaces& Chosen() {
  static ProgramPlaces places;
  return places;
}

}  // namespace

std::string WithoutTrailingSeparators(std::string folder) {
  // Windows takes "/" as well as "\\".
  while (folder.size() > 1 && std::string_view(platform::kPathSeparators).find(folder.back()) !=
                                  std::string_view::npos) {
    folder.pop_back();
  }
  return folder;
}

ProgramPlaces ChoosePlaces(const PlaceFacts& facts) {
  ProgramPlaces places;
  const std::string folder = WithoutTrailingSeparators(facts.exe_folder);
  const std::string prefix = PrefixOf(facts.exe_folder);
  const bool tools_from_prefix = !facts.tools_beside && facts.tools_installed;
  places.tool_folder = tools_from_prefix ? Joined(prefix, {"lib", "zqrstereo", ""})
                                         : Joined(folder, {"PLUG-IN", ""});
  places.help_document = !facts.help_beside && facts.help_installed
                             ? Joined(prefix, {"share", "doc", "zqrstereo", "zqrstereo.pdf"})
                             : facts.exe_folder + facts.exe_name + ".pdf";

  const std::string config = BaseFolder(facts.config_home, facts.home, {".config"});
  const std::string state = BaseFolder(facts.state_home, facts.home, {".local", "state"});
  const std::string cache = BaseFolder(facts.cache_home, facts.home, {".cache"});
  // Without a home to go to, the executable's folder is still the best there is.
  places.beside = (facts.folder_writable && !tools_from_prefix) || config.empty() ||
                  state.empty() || cache.empty();
  if (places.beside) {
    places.settings_file = facts.exe_folder + facts.exe_name + ".ini";
    places.log_file = facts.exe_folder + facts.exe_name + ".log";
    places.temp_folder = Joined(folder, {"TEMP"});
    places.helper_folder = facts.exe_folder;
    return places;
  }
  places.settings_file = Joined(config, {"zqrstereo", facts.exe_name + ".ini"});
  places.log_file = Joined(state, {"zqrstereo", facts.exe_name + ".log"});
  places.temp_folder = Joined(cache, {"zqrstereo", "TEMP"});
  // The runtime folder is the user's alone and emptied at log-out; the cache is the
  // next best.
  places.helper_folder =
      Absolute(facts.runtime_dir)
          ? Joined(WithoutTrailingSeparators(facts.runtime_dir), {"zqrstereo", ""})
          : Joined(cache, {"zqrstereo", "probe", ""});
  return places;
}

PlaceFacts GatherPlaceFacts(const std::string& exe_folder, const std::string& exe_name) {
  std::error_code error;
  PlaceFacts facts;
  facts.exe_folder = exe_folder;
  facts.exe_name = exe_name;
  const std::string folder = WithoutTrailingSeparators(exe_folder);
  const std::string prefix = PrefixOf(exe_folder);
  facts.folder_writable = platform::FolderWritable(folder);
  facts.tools_beside =
      std::filesystem::is_directory(platform::PathOf(Joined(folder, {"PLUG-IN"})), error);
  facts.tools_installed = std::filesystem::is_regular_file(
      platform::PathOf(Joined(
          prefix, {"lib", "zqrstereo", std::string("ffmpeg_III") + platform::kExecutableSuffix})),
      error);
  facts.help_beside =
      std::filesystem::is_regular_file(platform::PathOf(exe_folder + exe_name + ".pdf"), error);
  facts.help_installed = std::filesystem::is_regular_file(
      platform::PathOf(Joined(prefix, {"share", "doc", "zqrstereo", "zqrstereo.pdf"})), error);
  const platform::UserFolders user = platform::UserDataFolders();
  facts.home = user.home;
  facts.config_home = user.config;
  facts.state_home = user.state;
  facts.cache_home = user.cache;
  facts.runtime_dir = user.runtime;
  return facts;
}

void SettleProgramPlaces() {
  const ProgramPlaces places = ChoosePlaces(GatherPlaceFacts(Shell.ExeFolder, Shell.ExeName));
  Chosen() = places;
  Shell.BesideProgram = places.beside;
  Shell.SettingsFile = places.settings_file;
  Shell.LogFile = places.log_file;
  Shell.TempFolder = places.temp_folder;
  Shell.FallbackTempFolder = places.beside ? ExeFolderNoSeparator() : places.temp_folder;
  Shell.ToolFolder = places.tool_folder;
  Shell.HelperFolder = places.helper_folder;
  Shell.HelpDocument = places.help_document;
  SetLogFile(Shell.LogFile);
  if (places.beside) return;
  std::error_code error;
  const std::filesystem::path settings(platform::PathOf(places.settings_file));
  const std::filesystem::path log(platform::PathOf(places.log_file));
  std::filesystem::create_directories(settings.parent_path(), error);
  std::filesystem::create_directories(log.parent_path(), error);
  std::filesystem::create_directories(platform::PathOf(places.helper_folder), error);
  std::filesystem::permissions(platform::PathOf(places.helper_folder),
                               std::filesystem::perms::owner_all,
                               std::filesystem::perm_options::replace, error);
}

std::vector<std::string> PlaceLines(const ProgramPlaces& places, const std::string& log_file) {
  if (places.beside) return {};
  return {
      "Settings file: " + places.settings_file,
      "Run log: " + log_file,
      "Default temp folder: " + places.temp_folder,
      "Probe files: " + places.helper_folder,
      "Tools: " + places.tool_folder,
      "Help document: " + places.help_document,
  };
}

void LogProgramPlaces() {
  for (const std::string& line : PlaceLines(Chosen(), LogFilePath())) LogLine(line);
}

}  // namespace zqr
