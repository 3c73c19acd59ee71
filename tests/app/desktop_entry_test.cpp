// The desktop entry offers the program for every kind of file its open dialog lists: each
// extension of the dialog's filters has, in the shared MIME database (with the package's
// own addition), a type the entry names; and the packaging's files agree on the id and
// the licence.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include "core/numbers.h"
#include "tests/support/test_support.h"
#include "video/load.h"

namespace zqr {
namespace {

const std::string kMimeFolder = "/usr/share/mime";

std::set<std::string> Split(const std::string& text, char separator) {
  std::set<std::string> parts;
  std::stringstream stream(text);
  std::string part;
  while (std::getline(stream, part, separator)) {
    if (!part.empty()) parts.insert(part);
  }
  return parts;
}

TEST(DesktopEntry, NamesATypeForEveryExtensionOfTheOpenDialog) {
  if (!std::filesystem::exists(kMimeFolder + "/globs")) {
    GTEST_SKIP() << "no shared MIME database";
  }
  const std::string packaging = std::string(ZQR_SOURCE_DIR) + "/packaging/";
  const std::string entry = test::ReadFile(packaging + "io.github.kavelund_zqr.zqrstereo.desktop");
  std::smatch line;
  ASSERT_TRUE(std::regex_search(entry, line, std::regex("\nMimeType=([^\n]*)")));
  const std::set<std::string> named = Split(line[1], ';');

  // Extension -> canonical type; alias -> canonical type.
  std::multimap<std::string, std::string> types;
  std::stringstream globs(test::ReadFile(kMimeFolder + "/globs"));
  for (std::string glob; std::getline(globs, glob);) {
    const size_t at = glob.find(":*.");
    if (glob.starts_with('#') || at == std::string::npos) continue;
    types.emplace(ToLowerAscii(glob.substr(at + 3)), glob.substr(0, at));
  }
  const std::string added = test::ReadFile(packaging + "zqrstereo-mime.xml");
  const std::regex added_glob(
      "<mime-type type=\"([^\"]+)\">\\s*<glob pattern=\"\\*\\.([a-z0-9]+)\"");
  for (std::sregex_iterator it(added.begin(), added.end(), added_glob), end; it != end; ++it) {
    types.emplace((*it)[2], (*it)[1]);
  }
  std::map<std::string, std::string> canonical;
  std::stringstream aliases(test::ReadFile(kMimeFolder + "/aliases"));
  for (std::string alias, type; aliases >> alias >> type;) canonical[alias] = type;
  std::set<std::string> named_canonical;
  for (const std::string& type : named) {
    named_canonical.insert(canonical.contains(type) ? canonical[type] : type);
  }

  for (const auto& [description, patterns] : OpenDialogFilters()) {
    for (const std::string& pattern : Split(patterns, ';')) {
      ASSERT_TRUE(pattern.starts_with("*.")) << pattern;
      const std::string extension = pattern.substr(2);
      bool found = false;
      for (auto [it, end] = types.equal_range(extension); it != end; ++it) {
        found = found || named_canonical.contains(it->second);
      }
      EXPECT_TRUE(found) << description << ": no type of " << pattern << " in " << line[1];
    }
  }
}

// A desktop finds the entry, its icon and the AppStream data by one id, so a rename that
// misses one of them leaves a menu entry without icon or a software centre without the
// program; the licence the AppStream data declares must be the one the package ships.
TEST(DesktopEntry, EntryIconAndAppStreamDataShareOneIdAndLicence) {
  const std::string source = std::string(ZQR_SOURCE_DIR) + "/";
  std::smatch found;
  std::string id;
  for (const auto& entry : std::filesystem::directory_iterator(source + "packaging")) {
    const std::string name = entry.path().filename().string();
    if (!name.ends_with(".metainfo.xml")) continue;
    ASSERT_TRUE(id.empty()) << "a second metainfo file: " << name;
    id = name.substr(0, name.size() - std::string(".metainfo.xml").size());
  }
  ASSERT_FALSE(id.empty()) << "no metainfo file in packaging/";
  EXPECT_FALSE(id.starts_with("org.example.")) << id;

  const std::string metainfo = test::ReadFile(source + "packaging/" + id + ".metainfo.xml");
  ASSERT_TRUE(std::regex_search(metainfo, found, std::regex("<id>([^<]*)</id>")));
  EXPECT_EQ(found[1], id);
  ASSERT_TRUE(
      std::regex_search(metainfo, found, std::regex("<launchable type=\"desktop-id\">([^<]*)<")));
  EXPECT_EQ(found[1], id + ".desktop");
  const std::string entry = test::ReadFile(source + "packaging/" + id + ".desktop");
  ASSERT_TRUE(std::regex_search(entry, found, std::regex("\nIcon=([^\n]*)")));
  EXPECT_EQ(found[1], id);
  const std::string install = test::ReadFile(source + "cmake/Install.cmake");
  ASSERT_TRUE(std::regex_search(install, found, std::regex("set\\(ZQR_APP_ID ([^)]*)\\)")));
  EXPECT_EQ(found[1], id);

  ASSERT_TRUE(
      std::regex_search(metainfo, found, std::regex("<project_license>([^<]*)</project_license>")));
  EXPECT_EQ(found[1], "GPL-3.0-or-later");
  const std::string copyright = test::ReadFile(source + "packaging/copyright");
  EXPECT_TRUE(std::regex_search(copyright, std::regex("Files: \\*\n[^\n]*\nLicense: GPL-3\\+\n")))
      << copyright;
  const size_t grant = copyright.find("\n\nLicense: GPL-3+\n ");
  ASSERT_NE(grant, std::string::npos) << "no GPL-3+ paragraph";
  EXPECT_NE(copyright.find("either version 3 of the License", grant), std::string::npos);
  EXPECT_NE(copyright.find("/usr/share/common-licenses/GPL-3", grant), std::string::npos);
  const std::string licence = test::ReadFile(source + "LICENSE");
  EXPECT_TRUE(
      std::regex_search(licence, std::regex("^\\s*GNU GENERAL PUBLIC LICENSE\\s+Version 3,")))
      << licence.substr(0, 120);
}

}  // namespace
}  // namespace zqr
