// File names are UTF-8 text throughout the program. A std::filesystem::path made from a
// std::string, or read back with string(), goes through the C library's narrow encoding,
// which on Windows is not UTF-8: a name with "é" would name another file. These two go
// through char8_t instead, which is UTF-8 on Windows and a plain copy of the bytes on POSIX
// (so a name that is not valid UTF-8 there still names its file).
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace zqr::platform {

inline std::filesystem::path PathOf(std::string_view utf8) {
  return std::filesystem::path(
      std::u8string_view(reinterpret_cast<const char8_t*>(utf8.data()), utf8.size()));
}

inline std::string PathText(const std::filesystem::path& path) {
  const std::u8string text = path.u8string();
  return std::string(text.begin(), text.end());
}

}  // namespace zqr::platform
