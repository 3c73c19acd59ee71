// The places of the program's files: beside the executable where its folder is its own,
// the user's XDG folders for an installed program or a folder it may not write, the tools
// and the manual found from the executable's own place; and the settling of those places
// on a real installed layout in a scratch folder.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>

#include <filesystem>

#include "core/places.h"
#include "core/run_log.h"
#include "core/shell_state.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

PlaceFacts BuildFolder() {
  PlaceFacts facts;
  facts.exe_folder = "/work/build/";
  facts.exe_name = "zqrstereo";
  facts.home = "/home/ann";
  return facts;
}

PlaceFacts Installed() {
  PlaceFacts facts = BuildFolder();
  facts.exe_folder = "/opt/zqr/bin/";
  facts.folder_writable = false;
  facts.tools_beside = false;
  facts.tools_installed = true;
  facts.help_beside = false;
  facts.help_installed = true;
  return facts;
}

TEST(Places, AFolderOfItsOwnKeepsEverythingBesideTheExecutable) {
  test::ProgramLocationGuard guard;
  SetProgramLocation("/work/build/zqrstereo");
  for (bool tools_beside : {true, false}) {  // a copy of the executable alone counts too
    PlaceFacts facts = BuildFolder();
    facts.tools_beside = tools_beside;
    facts.config_home = "/elsewhere/config";
    const ProgramPlaces places = ChoosePlaces(facts);
    EXPECT_TRUE(places.beside);
    EXPECT_EQ(places.settings_file, Shell.SettingsFile);
    EXPECT_EQ(places.log_file, Shell.LogFile);
    EXPECT_EQ(places.temp_folder, Shell.TempFolder);
    EXPECT_EQ(places.tool_folder, Shell.ToolFolder);
    EXPECT_EQ(places.helper_folder, Shell.HelperFolder);
    EXPECT_EQ(places.help_document, Shell.HelpDocument);
    EXPECT_TRUE(PlaceLines(places, places.log_file).empty());
  }
  EXPECT_EQ(Shell.SettingsFile, "/work/build/zqrstereo.ini");
  EXPECT_EQ(ToolPath("ffmpeg_III"), "/work/build/PLUG-IN/ffmpeg_III");
}

TEST(Places, AnInstalledProgramUsesTheXdgFoldersAndFindsItsToolsUnderItsPrefix) {
  PlaceFacts facts = Installed();
  facts.config_home = "/x/config/";
  facts.state_home = "/x/state";
  facts.cache_home = "/x/cache";
  facts.runtime_dir = "/run/user/1000";
  const ProgramPlaces places = ChoosePlaces(facts);
  EXPECT_FALSE(places.beside);
  EXPECT_EQ(places.settings_file, "/x/config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(places.log_file, "/x/state/zqrstereo/zqrstereo.log");
  EXPECT_EQ(places.temp_folder, "/x/cache/zqrstereo/TEMP");
  EXPECT_EQ(places.helper_folder, "/run/user/1000/zqrstereo/");
  EXPECT_EQ(places.tool_folder, "/opt/zqr/lib/zqrstereo/");
  EXPECT_EQ(places.help_document, "/opt/zqr/share/doc/zqrstereo/zqrstereo.pdf");
  const std::vector<std::string> lines = PlaceLines(places, "/x/state/zqrstereo/zqrstereo.77.log");
  ASSERT_EQ(lines.size(), 6u);
  EXPECT_EQ(lines[0], "Settings file: /x/config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(lines[1], "Run log: /x/state/zqrstereo/zqrstereo.77.log");
  EXPECT_EQ(lines[2], "Default temp folder: /x/cache/zqrstereo/TEMP");

  // Root may write /usr/bin, but an installed layout is never written into.
  facts.folder_writable = true;
  EXPECT_FALSE(ChoosePlaces(facts).beside);
}

TEST(Places, UnsetOrRelativeXdgVariablesFallBackToTheHomeFolder) {
  PlaceFacts facts = Installed();
  facts.config_home = "relative/config";
  facts.runtime_dir = "run";
  const ProgramPlaces places = ChoosePlaces(facts);
  EXPECT_EQ(places.settings_file, "/home/ann/.config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(places.log_file, "/home/ann/.local/state/zqrstereo/zqrstereo.log");
  EXPECT_EQ(places.temp_folder, "/home/ann/.cache/zqrstereo/TEMP");
  EXPECT_EQ(places.helper_folder, "/home/ann/.cache/zqrstereo/probe/");
}

TEST(Places, AReadOnlyCopyWritesToTheUserButRunsItsOwnTools) {
  PlaceFacts facts = BuildFolder();
  facts.folder_writable = false;
  const ProgramPlaces places = ChoosePlaces(facts);
  EXPECT_FALSE(places.beside);
  EXPECT_EQ(places.settings_file, "/home/ann/.config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(places.tool_folder, "/work/build/PLUG-IN/");
  EXPECT_EQ(places.help_document, "/work/build/zqrstereo.pdf");
  // Nowhere else to go: no home and no variables.
  facts.home.clear();
  EXPECT_TRUE(ChoosePlaces(facts).beside);
}

// The environment of one test, put back when it ends.
class ScopedVariable {
 public:
  ScopedVariable(const char* name, const std::string& value) : name_(name) {
    if (const char* old = getenv(name)) {
      had_ = true;
      old_ = old;
    }
    setenv(name, value.c_str(), 1);
  }
  ~ScopedVariable() {
    if (had_) {
      setenv(name_, old_.c_str(), 1);
    } else {
      unsetenv(name_);
    }
  }
  ScopedVariable(const ScopedVariable&) = delete;
  ScopedVariable& operator=(const ScopedVariable&) = delete;

 private:
  const char* name_;
  bool had_ = false;
  std::string old_;
};

TEST(Places, SettlingAnInstalledLayoutMakesTheUsersFoldersAndAPrivateHelperFolder) {
  test::ScratchDir dir;
  test::ProgramLocationGuard guard;
  const std::string prefix = dir.File("prefix");
  std::filesystem::create_directories(prefix + "/bin");
  std::filesystem::create_directories(prefix + "/lib/zqrstereo");
  ASSERT_TRUE(test::WriteFile(prefix + "/lib/zqrstereo/ffmpeg_III", ""));
  const std::string home = dir.File("home");
  ScopedVariable home_variable("HOME", home);
  ScopedVariable config("XDG_CONFIG_HOME", dir.File("config"));
  ScopedVariable state("XDG_STATE_HOME", "");
  ScopedVariable cache("XDG_CACHE_HOME", "");
  ScopedVariable runtime("XDG_RUNTIME_DIR", "");

  SetProgramLocation(prefix + "/bin/zqrstereo");
  SettleProgramPlaces();
  EXPECT_FALSE(Shell.BesideProgram);
  EXPECT_EQ(Shell.SettingsFile, dir.File("config/zqrstereo/zqrstereo.ini"));
  EXPECT_EQ(LogFilePath(), home + "/.local/state/zqrstereo/zqrstereo.log");
  EXPECT_EQ(ToolPath("ffmpeg_III"), prefix + "/lib/zqrstereo/ffmpeg_III");
  EXPECT_EQ(InstanceFilePath("tempKRun.bat"), home + "/.cache/zqrstereo/probe/tempKRun.bat");
  // The helpers' folder is the user's alone; the settings and log folders exist to be
  // written when they are first needed.
  struct stat info {};
  ASSERT_EQ(stat((home + "/.cache/zqrstereo/probe").c_str(), &info), 0);
  EXPECT_EQ(info.st_mode & 0777, 0700u);
  EXPECT_TRUE(std::filesystem::is_directory(dir.File("config/zqrstereo")));
  EXPECT_TRUE(std::filesystem::is_directory(home + "/.local/state/zqrstereo"));
  // An empty temporary folder from the settings becomes the user's, not the prefix's.
  EXPECT_EQ(UsableTempFolder(""), home + "/.cache/zqrstereo/TEMP");
  SetLogFile("");
}

}  // namespace
}  // namespace zqr
