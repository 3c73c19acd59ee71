// SSE2 kernels of the output layouts. The luma anaglyphs take pmaddwd on the (blue, red)
// and (green, fourth) words of each pixel, the squeezes pavgb, which is the rounded mean
// of the plain kernels. Dubois's sums run four pixels at a time; without a gather its
// table lookups stay scalar. The views keep the plain kernel: copies without 3D Depth, and
// no gather for the displacement.
#include <emmintrin.h>

#include <cstdint>

#include "frames/colour_anaglyphs.h"
#include "frames/squeeze.h"
#include "frames/stereo_views.h"
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

namespace {

__m128i Load(const uint32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
void Store(uint32_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}

// The luma of each pixel in its 32-bit lane.
__m128i Luma(__m128i v) {
  const __m128i blue_red = _mm_set1_epi32(kFullLumaR << 16 | kFullLumaB);
  const __m128i green = _mm_set1_epi32(kFullLumaG);
  const __m128i round = _mm_set1_epi32(1 << (kFullLumaShift - 1));
  const __m128i sum =
      _mm_add_epi32(_mm_madd_epi16(_mm_and_si128(v, _mm_set1_epi32(0x00FF00FF)), blue_red),
                    _mm_madd_epi16(_mm_srli_epi16(v, 8), green));
  return _mm_srli_epi32(_mm_add_epi32(sum, round), kFullLumaShift);
}

void HalfColour(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m128i cyan = _mm_set1_epi32(0x0000FFFF);
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i l = Load(left + i);
    const __m128i r = Load(right + i);
    Store(out + i, _mm_or_si128(_mm_or_si128(_mm_and_si128(l, fourth), _mm_slli_epi32(Luma(l), 16)),
                                _mm_and_si128(r, cyan)));
  }
  HalfColourScalar(left + i, right + i, out + i, count - i);
}

void Grey(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m128i twice = _mm_set1_epi32(0x0101);
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i l = Load(left + i);
    const __m128i cyan = _mm_mullo_epi16(Luma(Load(right + i)), twice);
    Store(out + i,
          _mm_or_si128(_mm_or_si128(_mm_and_si128(l, fourth), _mm_slli_epi32(Luma(l), 16)), cyan));
  }
  GreyScalar(left + i, right + i, out + i, count - i);
}

void Dubois(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  __m128 c[3][6];
  for (int32_t row = 0; row < 3; ++row) {
    for (int32_t column = 0; column < 6; ++column)
      c[row][column] = _mm_set1_ps(DuboisCoefficient(row, column));
  }
  const __m128 zero = _mm_setzero_ps();
  const __m128 one = _mm_set1_ps(1.0f);
  const __m128 steps = _mm_set1_ps(static_cast<float>(kLinearSteps));
  const __m128 half = _mm_set1_ps(0.5f);
  auto linear = [](const uint32_t* p, int32_t shift) {
    return _mm_setr_ps(kSrgbToLinear[(p[0] >> shift) & 0xFF], kSrgbToLinear[(p[1] >> shift) & 0xFF],
                       kSrgbToLinear[(p[2] >> shift) & 0xFF],
                       kSrgbToLinear[(p[3] >> shift) & 0xFF]);
  };
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128 in[6] = {linear(left + i, 16),  linear(left + i, 8),  linear(left + i, 0),
                          linear(right + i, 16), linear(right + i, 8), linear(right + i, 0)};
    alignas(16) int32_t step[3][4];
    for (int32_t row = 0; row < 3; ++row) {
      __m128 sum = _mm_mul_ps(c[row][0], in[0]);
      for (int32_t column = 1; column < 6; ++column) {
        sum = _mm_add_ps(sum, _mm_mul_ps(c[row][column], in[column]));
      }
      const __m128 clipped = _mm_min_ps(_mm_max_ps(sum, zero), one);
      _mm_store_si128(reinterpret_cast<__m128i*>(step[row]),
                      _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(clipped, steps), half)));
    }
    for (int32_t j = 0; j < 4; ++j) {
      out[i + j] = (left[i + j] & 0xFF000000u) | uint32_t{kLinearToSrgb[step[0][j]]} << 16 |
                   uint32_t{kLinearToSrgb[step[1][j]]} << 8 | kLinearToSrgb[step[2][j]];
    }
  }
  DuboisScalar(left + i, right + i, out + i, count - i);
}

void HalveColumns(const uint32_t* row, int32_t width, int32_t count, uint32_t* out) {
  int32_t x = 0;
  for (; x + 4 <= count && 2 * x + 8 <= width; x += 4) {
    const __m128 a = _mm_castsi128_ps(Load(row + 2 * x));
    const __m128 b = _mm_castsi128_ps(Load(row + 2 * x + 4));
    const __m128i even = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m128i odd = _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    Store(out + x, _mm_avg_epu8(even, odd));
  }
  HalveColumnsScalar(row + 2 * x, width - 2 * x, count - x, out + x);
}

void AverageRows(const uint32_t* a, const uint32_t* b, uint32_t* out, int64_t count) {
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) Store(out + i, _mm_avg_epu8(Load(a + i), Load(b + i)));
  AverageRowsScalar(a + i, b + i, out + i, count - i);
}

}  // namespace

LayoutKernels Sse2LayoutKernels() {
  return {StereoViewsScalar, Dubois, HalfColour, Grey, HalveColumns, AverageRows};
}

}  // namespace zqr::frames
