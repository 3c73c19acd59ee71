// The 4:2:0 conversion: the plain kernel over two lines, and the per-frame entry that
// walks a bottom-up frame file top line first.
#include "frames/yuv420.h"

#include "frames/kernels.h"

namespace zqr::frames {

Yuv420Size Yuv420SizeFor(int32_t width, int32_t height) {
  Yuv420Size size;
  size.width = width > 0 ? width & ~1 : 0;
  size.height = height > 0 ? height & ~1 : 0;
  size.bytes = int64_t{size.width} * size.height * 3 / 2;
  return size;
}

void Yuv420RowPairScalar(const uint8_t* upper, const uint8_t* lower, int32_t pairs,
                         uint8_t* luma_upper, uint8_t* luma_lower, uint8_t* blue_diff,
                         uint8_t* red_diff) {
  constexpr int32_t kLumaRound = (16 << kYuvShift) + (1 << (kYuvShift - 1));
  // Chroma comes from sums of four pixels: two more bits of scale.
  constexpr int32_t kChromaShift = kYuvShift + 2;
  constexpr int32_t kChromaRound = (128 << kChromaShift) + (1 << (kChromaShift - 1));
  auto luma = [](const uint8_t* p) {
    return static_cast<uint8_t>((kLumaB * p[0] + kLumaG * p[1] + kLumaR * p[2] + kLumaRound) >>
                                kYuvShift);
  };
  for (int32_t k = 0; k < pairs; ++k) {
    const uint8_t* a = upper + 8 * k;
    const uint8_t* b = lower + 8 * k;
    luma_upper[2 * k] = luma(a);
    luma_upper[2 * k + 1] = luma(a + 4);
    luma_lower[2 * k] = luma(b);
    luma_lower[2 * k + 1] = luma(b + 4);
    const int32_t blue = a[0] + a[4] + b[0] + b[4];
    const int32_t green = a[1] + a[5] + b[1] + b[5];
    const int32_t red = a[2] + a[6] + b[2] + b[6];
    blue_diff[k] = static_cast<uint8_t>(
        (kBlueDiffB * blue + kBlueDiffG * green + kBlueDiffR * red + kChromaRound) >> kChromaShift);
    red_diff[k] = static_cast<uint8_t>(
        (kRedDiffB * blue + kRedDiffG * green + kRedDiffR * red + kChromaRound) >> kChromaShift);
  }
}

void BottomUpBgraToYuv420(const uint8_t* rows, int32_t width, int32_t height, uint8_t* out) {
  BottomUpBgraToYuv420(rows, width, height, width, out);
}

void BottomUpBgraToYuv420(const uint8_t* rows, int32_t width, int32_t height, int32_t stride,
                          uint8_t* out) {
  const Yuv420Size size = Yuv420SizeFor(width, height);
  if (size.bytes == 0) return;
  const int64_t row_bytes = int64_t{stride} * 4;
  uint8_t* luma = out;
  uint8_t* blue_diff = luma + int64_t{size.width} * size.height;
  uint8_t* red_diff = blue_diff + int64_t{size.width / 2} * (size.height / 2);
  const auto row_pair = ActiveKernels().yuv420_row_pair;
  for (int32_t line = 0; line < size.height; line += 2) {
    // Picture line `line` is the file's row height - 1 - line.
    const uint8_t* upper = rows + (height - 1 - line) * row_bytes;
    const int64_t chroma_row = int64_t{line / 2} * (size.width / 2);
    row_pair(upper, upper - row_bytes, size.width / 2, luma + int64_t{line} * size.width,
             luma + int64_t{line + 1} * size.width, blue_diff + chroma_row, red_diff + chroma_row);
  }
}

}  // namespace zqr::frames
