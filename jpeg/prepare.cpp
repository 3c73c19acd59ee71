// Picture preparation: draws the caller's bottom-up 16-, 24- or 32-bit pixel array into the
// 24-bit working picture, whose width and height are rounded up to whole 8 x 8 blocks. The
// input lands in the top-left corner; the padding columns and rows stay black. The drawing
// goes one band of 8 rows at a time, so the encoder can keep just one band in the cache.
#include <cstring>

#include "jpeg/jpeg_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>
#endif

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

int32_t CheckInput(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel) {
  if (pixels == nullptr) return 0;
  if (width < 1 || height < 1 || width > kMaxDimension || height > kMaxDimension) return 0;
  return NormaliseBitsPerPixel(bits_per_pixel);
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

#if defined(__x86_64__) || defined(__i386__)
// Four pixels per shuffle; each store writes 16 bytes of which 12 count, the next store
// overwriting the rest (the band has slack after its last row).
__attribute__((target("avx2"))) void CopyRow32Avx2(const uint8_t* src, uint8_t* dst,
                                                   int32_t width) {
  const __m128i drop_fourth = _mm_setr_epi8(0, 1, 2, 4, 5, 6, 8, 9, 10, 12, 13, 14, -1, -1, -1, -1);
  int32_t x = 0;
  for (; x + 4 <= width; x += 4) {
    __m128i px = _mm_loadu_si128(reinterpret_cast<const __m128i*>(src + 4 * x));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 3 * x), _mm_shuffle_epi8(px, drop_fourth));
  }
  CopyRow32(src + 4 * x, dst + 3 * x, width - x);
}
#endif

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

void PrepareBand(const uint8_t* pixels, int32_t width, int32_t height, int32_t depth, int32_t band,
                 uint8_t* out, size_t stride, Kernel kernel) {
  size_t src_stride = InputRowBytes(width, depth);
  size_t used = static_cast<size_t>(width) * 3;
  size_t row_bytes = static_cast<size_t>((width + 7) & ~7) * 3;
  for (int32_t i = 0; i < 8; ++i) {
    int32_t y = band * 8 + i;
    uint8_t* dst = out + static_cast<size_t>(i) * stride;
    if (y >= height) {
      std::memset(dst, 0, row_bytes);
      continue;
    }
    // Input rows run bottom-up; the working picture keeps the top row first.
    const uint8_t* src = pixels + static_cast<size_t>(height - 1 - y) * src_stride;
    if (depth == 32) {
#if defined(__x86_64__) || defined(__i386__)
      if (kernel == Kernel::kAvx2) {
        CopyRow32Avx2(src, dst, width);
      } else {
        CopyRow32(src, dst, width);
      }
#else
      (void)kernel;
      CopyRow32(src, dst, width);
#endif
    } else if (depth == 24) {
      std::memcpy(dst, src, used);
    } else {
      CopyRow16(src, dst, width);
    }
    std::memset(dst + used, 0, row_bytes - used);
  }
}

bool PreparePicture(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                    WorkPicture& picture) {
  int32_t depth = CheckInput(pixels, width, height, bits_per_pixel);
  if (depth == 0) return false;
  picture.width = width;
  picture.height = height;
  picture.width8 = (width + 7) & ~7;
  picture.height8 = (height + 7) & ~7;
  picture.stride = static_cast<size_t>(picture.width8) * 3;
  // The slack lets the vector kernels load 16 bytes from the last pixels of the last row.
  if (!picture.bgr.Allocate(picture.stride * static_cast<size_t>(picture.height8) + 16, false)) {
    return false;
  }
  Kernel kernel = SelectKernel();
  for (int32_t band = 0; band < picture.height8 / 8; ++band) {
    PrepareBand(pixels, width, height, depth, band,
                picture.bgr.data() + static_cast<size_t>(band) * 8 * picture.stride, picture.stride,
                kernel);
  }
  std::memset(picture.bgr.data() + picture.stride * static_cast<size_t>(picture.height8), 0, 16);
  return true;
}

}  // namespace zqr::jpeg
