// Writing a file from pieces that lie apart in memory (a header, then rows of a wider
// frame), so a cropped frame goes to disk without first being copied into one block.
#pragma once

#include <cstddef>
#include <span>
#include <string>

namespace zqr::platform {

struct FilePiece {
  const void* data = nullptr;
  std::size_t bytes = 0;
};

// Creates `path`, or truncates it when it exists, and writes the pieces one after the
// other. False when the file could not be created or written completely (a short file may
// remain).
bool WriteFilePieces(const std::string& path, std::span<const FilePiece> pieces);

}  // namespace zqr::platform
