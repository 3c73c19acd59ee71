// The desktop entry offers the program for every kind of file its open dialog lists: each
// extension of the dialog's filters has, in the shared MIME database (with the package's
// own addition), a type the entry names.
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
  const std::string entry =
      test::ReadFile(packaging + "org.example.kavelund_zqr.zqrstereo.desktop");
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

}  // namespace
}  // namespace zqr
