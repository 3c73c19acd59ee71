// The pictures and the sound embedded in the executable, by their resource names
// ("b_load1", "TITLE", "tick", ...). Drawn at build time by resources/draw.sh.
#pragma once

#include <cstdint>
#include <span>
#include <string_view>

namespace zqr::resources {

// The bytes of a PNG picture or a WAVE sound; empty for an unknown name.
std::span<const uint8_t> Find(std::string_view name);

}  // namespace zqr::resources
