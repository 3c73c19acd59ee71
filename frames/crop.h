// The crop into the file frame: the 16 rightmost columns of the output frame are dropped.
// The frame-file writers crop on the way to the disk, or while they take a copy.
#pragma once

#include <cstdint>

namespace zqr::frames {

// Columns dropped at the right-hand end of each row of a frame file.
inline constexpr int32_t kCropColumns = 16;

// Copies the first `dst_width` pixels of each of `rows` rows of `src` (rows of
// `src_width` pixels) into `dst` (rows of `dst_width` pixels). Each row is one block copy.
void CropFrame(const uint32_t* src, int32_t src_width, uint32_t* dst, int32_t dst_width,
               int32_t rows);

}  // namespace zqr::frames
