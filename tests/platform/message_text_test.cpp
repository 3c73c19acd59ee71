// The wrap of a message box's long lines: a long name comes back whole, in lines no
// wider than the box, and short messages are left as they are.
#include <gtest/gtest.h>

#include <sstream>

#include "platform/ui.h"

namespace zqr::platform {
namespace {

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

std::string Joined(const std::vector<std::string>& lines, size_t first) {
  std::string whole;
  for (size_t i = first; i < lines.size(); ++i) whole += lines[i];
  return whole;
}

TEST(WrapLongLines, ALongNameComesBackWholeInLinesOfTheBoxWidth) {
  const std::string folder = "/media/videos/" + std::string(40, 'a') + "/";
  const std::string name = folder + std::string(250, 'n') + ".mp4";
  const std::string wrapped =
      WrapLongLines("The name is too long:\r\n" + name + "\r\nChoose a shorter one.", 72);
  const std::vector<std::string> lines = Lines(wrapped);
  ASSERT_GE(lines.size(), 6u);
  EXPECT_EQ(lines.front(), "The name is too long:");
  EXPECT_EQ(lines.back(), "Choose a shorter one.");
  for (const std::string& line : lines) EXPECT_LE(line.size(), 72u) << line;
  std::vector<std::string> middle(lines.begin() + 1, lines.end() - 1);
  EXPECT_EQ(Joined(middle, 0), name);
  // Broken after a folder's slash where one is in reach, not at a fixed column.
  EXPECT_EQ(lines[1], folder);
  EXPECT_EQ(wrapped.find('\r'), std::string::npos);
}

TEST(WrapLongLines, ShortLinesStayAndCharactersAreNotSplit) {
  EXPECT_EQ(WrapLongLines("Note\r\nshort", 72), "Note\nshort");
  EXPECT_EQ(WrapLongLines("", 72), "");
  // Two-byte characters count once and are never cut in half.
  std::string umlauts;
  for (int i = 0; i < 10; ++i) umlauts += "\xC3\xBC";
  const std::vector<std::string> lines = Lines(WrapLongLines(umlauts, 4));
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[0], "\xC3\xBC\xC3\xBC\xC3\xBC\xC3\xBC");
  EXPECT_EQ(lines[2], "\xC3\xBC\xC3\xBC");
  // Prose breaks after a blank.
  EXPECT_EQ(WrapLongLines("aaaa bbbb cccc", 10), "aaaa bbbb \ncccc");
}

}  // namespace
}  // namespace zqr::platform
