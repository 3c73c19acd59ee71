// The installed program as a user meets it: `cmake --install` into a scratch prefix, made
// read-only, then batch conversions run with HOME (and, in a second run, the XDG
// variables) in a scratch folder. Root writes anywhere, so under root the program runs as
// the user "nobody", for whom the read-only prefix really is read-only. The settings file
// is read from the configuration folder, the run log and the temporary folder land in the
// state and cache folders, and nothing under the prefix changes.
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <sstream>
#include <vector>

#include "core/settings.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

namespace fs = std::filesystem;

const char* kSetpriv = "/usr/bin/setpriv";
const char* kAppId = "io.github.kavelund_zqr.zqrstereo";

// Every name under `folder` with the size of the files, to compare before and after.
std::map<std::string, uintmax_t> Listing(const std::string& folder) {
  std::map<std::string, uintmax_t> names;
  std::error_code error;
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, error)) {
    names[entry.path().string()] = entry.is_regular_file() ? entry.file_size() : 0;
  }
  return names;
}

void SetWritable(const std::string& folder, bool writable) {
  const fs::perms write = fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write;
  std::error_code error;
  fs::permissions(folder, writable ? fs::perms::owner_write : write,
                  writable ? fs::perm_options::add : fs::perm_options::remove, error);
  for (const fs::directory_entry& entry : fs::recursive_directory_iterator(folder, error)) {
    if (entry.is_symlink()) continue;
    fs::permissions(entry.path(), writable ? fs::perms::owner_write : write,
                    writable ? fs::perm_options::add : fs::perm_options::remove, error);
  }
}

// The prefix is made writable again before the scratch folder is removed.
struct WritableAtEnd {
  std::string folder;
  ~WritableAtEnd() { SetWritable(folder, true); }
};

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::stringstream stream(text);
  for (std::string line; std::getline(stream, line);) {
    if (line.ends_with('\r')) line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

bool AsRoot() {
  return geteuid() == 0;
}

// A command run with only the given environment, as "nobody" when the tests run as root.
test::RunResult RunAsUser(std::vector<std::string> environment,
                          const std::vector<std::string>& argv) {
  environment.push_back(std::string("PATH=") + std::getenv("PATH"));
  for (const char* sanitizer : {"ASAN_OPTIONS", "UBSAN_OPTIONS", "TSAN_OPTIONS"}) {
    if (const char* value = std::getenv(sanitizer)) {
      environment.push_back(std::string(sanitizer) + "=" + value);
    }
  }
  std::vector<std::string> command = {"env", "-i"};
  command.insert(command.end(), environment.begin(), environment.end());
  if (AsRoot()) {
    command.insert(command.end(),
                   {kSetpriv, "--reuid=65534", "--regid=65534", "--clear-groups", "--"});
  }
  command.insert(command.end(), argv.begin(), argv.end());
  return test::Run(command);
}

// A folder the user the program runs as may write.
void MakeUsersFolder(const std::string& folder) {
  fs::create_directories(folder);
  fs::permissions(folder, fs::perms::owner_all);
  if (AsRoot()) {
    ASSERT_EQ(test::Run({"chown", "-R", "65534:65534", folder}).exit_code, 0);
  }
}

TEST(InstalledProgram, KeepsItsFilesInTheUsersFoldersAndNothingBesideItself) {
  if (AsRoot() && !fs::exists(kSetpriv)) GTEST_SKIP() << "no setpriv to leave root with";
  test::ScratchDir dir;
  fs::permissions(dir.path(), fs::perms::owner_all | fs::perms::group_read | fs::perms::group_exec |
                                  fs::perms::others_read | fs::perms::others_exec);
  const std::string prefix = dir.File("prefix");
  test::RunResult install =
      test::Run({ZQR_CMAKE_COMMAND, "--install", test::BinDir(), "--prefix", prefix});
  ASSERT_EQ(install.exit_code, 0) << install.output << install.errors;
  WritableAtEnd writable_at_end{prefix};

  const std::string share = prefix + "/share/";
  for (const std::string& file :
       {prefix + "/bin/zqrstereo", prefix + "/lib/zqrstereo/ffmpeg",
        prefix + "/lib/zqrstereo/ffmpeg_III", prefix + "/include/zqrstereo/jpeg/jpegmain.h",
        share + "man/man1/zqrstereo.1.gz", share + "doc/zqrstereo/zqrstereo.pdf",
        share + "applications/" + kAppId + ".desktop",
        share + "metainfo/" + kAppId + ".metainfo.xml",
        share + "icons/hicolor/48x48/apps/" + kAppId + ".png",
        share + "icons/hicolor/128x128/apps/" + kAppId + ".png",
        share + "icons/hicolor/256x256/apps/" + kAppId + ".png",
        share + "icons/hicolor/scalable/apps/" + kAppId + ".svg"}) {
    EXPECT_TRUE(fs::is_regular_file(file)) << file;
  }
  int libraries = 0, pkgconfig = 0;
  for (const auto& [name, size] : Listing(prefix)) {
    libraries += name.ends_with("/libzqrjpeg.so.5") ? 1 : 0;
    pkgconfig += name.ends_with("/pkgconfig/zqrjpeg.pc") ? 1 : 0;
  }
  EXPECT_EQ(libraries, 1);
  EXPECT_EQ(pkgconfig, 1);

  SetWritable(prefix, false);
  const std::map<std::string, uintmax_t> before = Listing(prefix);
  EXPECT_NE(RunAsUser({}, {"touch", prefix + "/bin/written"}).exit_code, 0)
      << "the prefix must be read-only for the user the program runs as";

  const std::string clip = dir.File("clip.mp4");
  ASSERT_TRUE(test::MakeClip(clip, "testsrc2=size=160x120:rate=10", 1.0));
  const std::string home = dir.File("home");
  MakeUsersFolder(home);
  const std::string program = prefix + "/bin/zqrstereo";

  // HOME alone: the XDG folders' defaults.
  test::RunResult first =
      RunAsUser({"HOME=" + home}, {program, "--convert", clip, home + "/first.mp4"});
  EXPECT_EQ(first.exit_code, 0) << first.errors;
  EXPECT_GT(test::FileSize(home + "/first.mp4"), 0);
  const std::vector<std::string> log =
      Lines(test::ReadFile(home + "/.local/state/zqrstereo/zqrstereo.log"));
  ASSERT_GE(log.size(), 8u);
  EXPECT_EQ(log[2], "Settings file: " + home + "/.config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(log[3], "Run log: " + home + "/.local/state/zqrstereo/zqrstereo.log");
  EXPECT_EQ(log[4], "Default temp folder: " + home + "/.cache/zqrstereo/TEMP");
  EXPECT_EQ(log[5], "Probe files: " + home + "/.cache/zqrstereo/probe/");
  EXPECT_EQ(log[6], "Tools: " + prefix + "/lib/zqrstereo/");
  EXPECT_EQ(log[7], "Help document: " + share + "doc/zqrstereo/zqrstereo.pdf");
  const std::string all = test::ReadFile(home + "/.local/state/zqrstereo/zqrstereo.log");
  EXPECT_NE(all.find("Batch temporary folder " + home + "/.cache/zqrstereo/TEMP/"),
            std::string::npos)
      << all;
  EXPECT_TRUE(fs::is_directory(home + "/.cache/zqrstereo/TEMP"));
  EXPECT_TRUE(fs::is_empty(home + "/.cache/zqrstereo/probe")) << "the probe's files stayed";

  // The XDG variables, and a settings file waiting in the configuration folder whose
  // temporary folder the run takes.
  const std::string xdg = dir.File("xdg");
  const std::string work = xdg + "/work";
  for (const char* folder : {"config/zqrstereo", "runtime", "work"}) {
    MakeUsersFolder(xdg + "/" + folder);
  }
  MakeUsersFolder(xdg);
  ResetSettingsToStartValues();
  ASSERT_TRUE(test::WriteFile(xdg + "/config/zqrstereo/zqrstereo.ini",
                              SettingsFileText(Settings, work, home)));
  test::RunResult second = RunAsUser(
      {"HOME=" + home, "XDG_CONFIG_HOME=" + xdg + "/config", "XDG_STATE_HOME=" + xdg + "/state",
       "XDG_CACHE_HOME=" + xdg + "/cache", "XDG_RUNTIME_DIR=" + xdg + "/runtime"},
      {program, "--convert", clip, home + "/second.mp4"});
  EXPECT_EQ(second.exit_code, 0) << second.errors;
  EXPECT_GT(test::FileSize(home + "/second.mp4"), 0);
  const std::string second_log = test::ReadFile(xdg + "/state/zqrstereo/zqrstereo.log");
  const std::vector<std::string> lines = Lines(second_log);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines[2], "Settings file: " + xdg + "/config/zqrstereo/zqrstereo.ini");
  EXPECT_EQ(lines[4], "Default temp folder: " + xdg + "/cache/zqrstereo/TEMP");
  EXPECT_EQ(lines[5], "Probe files: " + xdg + "/runtime/zqrstereo/");
  EXPECT_NE(second_log.find("Batch temporary folder " + work + "/"), std::string::npos)
      << second_log;

  EXPECT_EQ(Listing(prefix), before) << "something was written under the prefix";
}

}  // namespace
}  // namespace zqr
