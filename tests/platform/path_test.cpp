// A file whose name goes beyond ASCII, as users name theirs ("été", "película", "動画"):
// written, found, measured, listed and read back under the same UTF-8 name. Windows reads a
// narrow name in its own code page, so there this fails unless every path goes through
// PathOf and PathText.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "platform/files.h"
#include "platform/path.h"
#include "tests/support/test_support.h"

namespace zqr::platform {
namespace {

TEST(Path, ANameBeyondAsciiNamesTheSameFileEverywhere) {
  const test::ScratchDir dir;
  const std::string name = "clip \xC3\xA9t\xC3\xA9 \xE5\x8B\x95\xE7\x94\xBB.mp4";
  const std::string path = dir.File(name);
  EXPECT_EQ(PathText(PathOf(path)), path);

  std::FILE* file = OpenFile(path, "wb");
  ASSERT_NE(file, nullptr);
  ASSERT_EQ(std::fwrite("12345", 1, 5, file), 5u);
  std::fclose(file);

  std::error_code error;
  EXPECT_TRUE(std::filesystem::is_regular_file(PathOf(path), error));
  EXPECT_EQ(std::filesystem::file_size(PathOf(path), error), 5u);
  std::string listed;
  for (const auto& entry : std::filesystem::directory_iterator(PathOf(dir.path()))) {
    listed += PathText(entry.path().filename());
  }
  EXPECT_EQ(listed, name);
  std::string text;
  EXPECT_TRUE(ReadRegularFile(path, text, 100));
  EXPECT_EQ(text, "12345");
  EXPECT_EQ(PathText(PathOf(path).parent_path()), PathText(PathOf(dir.path())));
}

}  // namespace
}  // namespace zqr::platform
