// Sharpen: a four-neighbour Laplacian of chosen strength, blended with the unsharpened
// picture in a chosen proportion.
#pragma once

#include <cstdint>

namespace zqr::frames {

// Amount as the kernels use it: 0 stays 0 (no sharpening), 1..5 stay, anything else is 1.
int32_t EffectiveSharpenAmount(int32_t amount);

// Reference kernel: rows 1 .. height - 2 of `src` sharpened into the same rows of `dst`
// (`src` unchanged). Per byte: s = m x P[i] - a x (P[i - W] + P[i + W] + P[i - 1] + P[i + 1]),
// m = 4a + 1, clamped to 0..255, then blended with the old byte o by the radius r:
// s, (s + o) / 2, (s + 3o) / 4, or (s + 7o) / 8 for r = 3 and any other value.
// `amount` must be 1..5 (see EffectiveSharpenAmount).
void SharpenRowsScalar(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height,
                       int32_t amount, int32_t radius);

// The reference kernel over pixels begin .. end - 1 only (rows 1 .. height - 2 lie in
// width .. width x (height - 1) - 1); the vector kernels finish their rows with it.
void SharpenRangeScalar(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin,
                        int64_t end, int32_t amount, int32_t radius);

// Rows 1 .. height - 2 by a range kernel (the pixels width .. width x (height - 1) - 1);
// nothing for frames of fewer than three rows. Every kernel set's rows kernel is this.
template <void (*Range)(const uint32_t*, uint32_t*, int32_t, int64_t, int64_t, int32_t, int32_t)>
void SharpenRowsBy(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height,
                   int32_t amount, int32_t radius) {
  const int64_t w = width;
  if (width < 1 || w * height - w <= w) return;
  Range(src, dst, width, w, w * height - w, amount, radius);
}

// The sharpen step in place on `source` (width x height pixels), with `scratch` of the same
// size receiving the sharpened rows before they are copied back. Amount 0 leaves the frame
// unchanged. This is the reference form; the frame callback uses SharpenCopy.
void SharpenFrame(int32_t width, int32_t height, uint32_t* source, uint32_t* scratch,
                  int32_t amount, int32_t radius);

// Copy and sharpen in one pass: `dst` (width x rows pixels, rows >= height) becomes `src`
// with rows 1 .. height - 2 sharpened, exactly what a copy followed by SharpenFrame gives.
// Amount 0 gives a plain copy.
void SharpenCopy(const uint32_t* src, uint32_t* dst, int32_t width, int32_t height, int32_t rows,
                 int32_t amount, int32_t radius);

}  // namespace zqr::frames
