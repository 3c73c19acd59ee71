// The depth a picture is given when nothing else says how far its parts are: lower in the
// picture is nearer, as the ground in front of a camera is, from the farthest level at the
// top row to the nearest at the bottom one.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zqr::frames {

// The plane of a width x height picture, stored bottom row first (rows `stride` bytes apart).
void FillVerticalDepthPrior(uint8_t* plane, std::ptrdiff_t stride, int32_t width, int32_t height);

}  // namespace zqr::frames
