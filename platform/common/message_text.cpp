// The wrap of a message box's long lines. A window's message box grows as wide as its
// longest line, so one long path without a blank (a refused output name of 300
// characters) would make it wider than the screen.
#include <string_view>

#include "platform/ui.h"

namespace zqr::platform {

namespace {

bool Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// Appends `line` to `out`, broken into pieces of at most `columns` characters (UTF-8
// sequences are counted and kept whole).
void AppendWrapped(std::string_view line, size_t columns, std::string& out) {
  while (!line.empty()) {
    // Byte offset after `columns` characters, and the last break point up to there.
    size_t end = 0, characters = 0, last_break = 0;
    while (end < line.size() && characters < columns) {
      const char c = line[end++];
      while (end < line.size() && Continuation(line[end])) ++end;
      ++characters;
      if (c == '/' || c == '\\' || c == ' ') last_break = end;
    }
    if (end == line.size()) {
      out.append(line);
      return;
    }
    // A break far back would leave a short line and a ragged box: cut at the width then.
    const size_t cut = last_break * 2 >= end ? last_break : end;
    out.append(line.substr(0, cut));
    out.push_back('\n');
    line.remove_prefix(cut);
  }
}

}  // namespace

std::string WrapLongLines(const std::string& text, size_t columns) {
  if (columns == 0) columns = 1;
  std::string out;
  std::string_view rest = text;
  for (;;) {
    const size_t end = rest.find('\n');
    std::string_view line = rest.substr(0, end);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    AppendWrapped(line, columns, out);
    if (end == std::string_view::npos) break;
    out.push_back('\n');
    rest.remove_prefix(end + 1);
  }
  return out;
}

}  // namespace zqr::platform
