// Picture preparation: draws the caller's bottom-up 16-, 24- or 32-bit pixel array into the
// 24-bit working picture, whose width and height are rounded up to whole 8 x 8 blocks. The
// input lands in the top-left corner; the padding columns and rows stay black.
#include <cstring>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

int32_t NormaliseBitsPerPixel(int32_t bits_per_pixel) {
  if (bits_per_pixel == 0) return 32;
  if (bits_per_pixel == 16 || bits_per_pixel == 24 || bits_per_pixel == 32) return bits_per_pixel;
  return 0;
}

size_t InputRowBytes(int32_t width, int32_t bits_per_pixel) {
  uint64_t bits = static_cast<uint64_t>(width) * static_cast<uint64_t>(bits_per_pixel);
  return static_cast<size_t>((bits + 31) / 32 * 4);
}

namespace {

// A 5-bit channel widened to 8 bits by repeating its high bits, so 31 becomes 255.
inline uint8_t Widen5(uint32_t v) {
  return static_cast<uint8_t>((v << 3) | (v >> 2));
}

void CopyRow32(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    dst[0] = src[0];
    dst[1] = src[1];
    dst[2] = src[2];
    src += 4;
    dst += 3;
  }
}

void CopyRow16(const uint8_t* src, uint8_t* dst, int32_t width) {
  for (int32_t x = 0; x < width; ++x) {
    uint32_t v = static_cast<uint32_t>(src[0]) | static_cast<uint32_t>(src[1]) << 8;
    dst[0] = Widen5(v & 31);
    dst[1] = Widen5((v >> 5) & 31);
    dst[2] = Widen5((v >> 10) & 31);
    src += 2;
    dst += 3;
  }
}

}  // namespace

bool PreparePicture(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                    WorkPicture& picture) {
  int32_t depth = NormaliseBitsPerPixel(bits_per_pixel);
  if (depth == 0 || pixels == nullptr) return false;
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return false;
  picture.width = width;
  picture.height = height;
  picture.width8 = (width + 7) & ~7;
  picture.height8 = (height + 7) & ~7;
  picture.stride = static_cast<size_t>(picture.width8) * 3;
  // The slack lets the vector kernels load 16 bytes from the last pixels of the last row.
  if (!picture.bgr.Allocate(picture.stride * static_cast<size_t>(picture.height8) + 16, true)) {
    return false;
  }
  size_t src_stride = InputRowBytes(width, depth);
  for (int32_t y = 0; y < height; ++y) {
    // Input rows run bottom-up; the working picture keeps the top row first.
    const uint8_t* src = pixels + static_cast<size_t>(height - 1 - y) * src_stride;
    uint8_t* dst = picture.bgr.data() + static_cast<size_t>(y) * picture.stride;
    if (depth == 32) {
      CopyRow32(src, dst, width);
    } else if (depth == 24) {
      std::memcpy(dst, src, static_cast<size_t>(width) * 3);
    } else {
      CopyRow16(src, dst, width);
    }
  }
  return true;
}

}  // namespace zqr::jpeg
