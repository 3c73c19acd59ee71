// The input checks with the standard library's files alone, so they serve every platform.
#include "platform/ffmpeg/input_file.h"
#include "platform/files.h"
#include "platform/path.h"

#include <array>
#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <limits>
#include <memory>
#include <system_error>

namespace zqr::platform::ffmpeg {
namespace {

struct FileCloser {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using FilePtr = std::unique_ptr<std::FILE, FileCloser>;

// The bytes at `offset`, as many as there are up to `count`.
size_t ReadAt(std::FILE* file, uint64_t offset, uint8_t* bytes, size_t count) {
  if (offset > static_cast<uint64_t>(std::numeric_limits<long>::max())) return 0;
  if (std::fseek(file, static_cast<long>(offset), SEEK_SET) != 0) return 0;
  return std::fread(bytes, 1, count, file);
}

uint64_t BigEndian(const uint8_t* bytes, int count) {
  uint64_t value = 0;
  for (int i = 0; i < count; ++i) value = value << 8 | bytes[i];
  return value;
}

// Box types are four printable characters ("ftyp", "moov", "mdat", "free", ...).
bool BoxType(const uint8_t* type) {
  for (int i = 0; i < 4; ++i) {
    if (type[i] < 0x20 || type[i] > 0x7e) return false;
  }
  return true;
}

// Walks the top-level boxes: an ISO media file starts with one (ftyp, or for an old
// QuickTime file moov, mdat, wide, free, skip), and its index is the moov box.
bool IsoFileLacksIndex(std::FILE* file, uint64_t size) {
  std::array<uint8_t, 16> header{};
  if (ReadAt(file, 0, header.data(), 8) < 8 || !BoxType(&header[4])) return false;
  const std::string_view first(reinterpret_cast<const char*>(&header[4]), 4);
  if (first != "ftyp" && first != "moov" && first != "mdat" && first != "wide" && first != "free" &&
      first != "skip") {
    return false;
  }
  uint64_t offset = 0;
  while (offset + 8 <= size) {
    if (ReadAt(file, offset, header.data(), 16) < 8 || !BoxType(&header[4])) return false;
    if (std::string_view(reinterpret_cast<const char*>(&header[4]), 4) == "moov") return false;
    uint64_t box = BigEndian(header.data(), 4);
    if (box == 1) box = BigEndian(&header[8], 8);  // a 64-bit size follows the type
    if (box == 0) break;                           // the last box runs to the end
    if (box < 8) return false;
    offset += box;
  }
  return true;
}

}  // namespace

std::string InputFileProblem(const std::string& path) {
  std::error_code error;
  const std::filesystem::file_status status =
      std::filesystem::status(platform::PathOf(path), error);
  if (error || !std::filesystem::exists(status)) return {};
  switch (status.type()) {
    case std::filesystem::file_type::regular:
      break;
    case std::filesystem::file_type::directory:
      return "it is a folder, not a file";
    case std::filesystem::file_type::fifo:
      return "it is a named pipe (FIFO), not a file";
    case std::filesystem::file_type::socket:
      return "it is a socket, not a file";
    default:
      return "it is a device, not a file";
  }
  errno = 0;
  const FilePtr file(platform::OpenFile(path, "rb"));
  if (file == nullptr) {
    const int cause = errno;
    return cause == EACCES || cause == EPERM
               ? "it cannot be read (no permission to read it)"
               : "it cannot be read (" + std::generic_category().message(cause) + ")";
  }
  if (std::filesystem::file_size(platform::PathOf(path), error) == 0 && !error)
    return "the file is empty";
  return {};
}

std::string UnreadableContent(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(platform::PathOf(path), error)) return {};
  const uint64_t size = std::filesystem::file_size(platform::PathOf(path), error);
  if (error) return {};
  const FilePtr file(platform::OpenFile(path, "rb"));
  if (file == nullptr) return {};
  if (IsoFileLacksIndex(file.get(), size)) {
    return "it is an MP4 or MOV file without its index (no moov box), as a recording that was "
           "never finished leaves it";
  }
  std::array<uint8_t, 4096> head{};
  const size_t count = ReadAt(file.get(), 0, head.data(), head.size());
  if (count > 0 && LooksLikeText({reinterpret_cast<const char*>(head.data()), count})) {
    return "it holds text, not a video";
  }
  return {};
}

bool LooksLikeText(std::string_view head) {
  if (head.empty()) return false;
  for (const char c : head) {
    const auto byte = static_cast<unsigned char>(c);
    const bool control =
        byte < 0x20 && byte != '\t' && byte != '\n' && byte != '\r' && byte != '\f';
    if (control || byte == 0x7f) return false;
  }
  return true;
}

}  // namespace zqr::platform::ffmpeg
