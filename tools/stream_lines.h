// The stream numbering of ffmpeg's error stream, as the probe reads it.
#pragma once

#include <string>
#include <string_view>

namespace zqr::tools {

// A line that begins (after blanks) with "Stream #F:S" gets "Stream #F.S"; any other text
// comes back unchanged.
std::string WithPointStreamNumbers(std::string_view line);

}  // namespace zqr::tools
