#include "tools/stream_lines.h"

namespace zqr::tools {

namespace {
size_t DigitsAt(std::string_view text, size_t at) {
  size_t end = at;
  while (end < text.size() && text[end] >= '0' && text[end] <= '9') ++end;
  return end - at;
}
}  // namespace

std::string WithPointStreamNumbers(std::string_view line) {
  std::string out(line);
  constexpr std::string_view kHead = "Stream #";
  size_t at = line.find_first_not_of(" \t");
  if (at == std::string_view::npos || line.substr(at, kHead.size()) != kHead) return out;
  size_t file = at + kHead.size();
  size_t colon = file + DigitsAt(line, file);
  if (colon == file || colon >= line.size() || line[colon] != ':') return out;
  if (DigitsAt(line, colon + 1) == 0) return out;
  out[colon] = '.';
  return out;
}

}  // namespace zqr::tools
