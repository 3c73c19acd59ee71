// SSE2 kernels of the output layouts. The luma anaglyphs take pmaddwd on the (blue, red)
// and (green, fourth) words of each pixel, the squeezes pavgb, which is the rounded mean
// of the plain kernels. Dubois's sums and encoding run four pixels at a time; without a
// variable permute its table lookups stay scalar. The views keep the plain kernel: copies without
// 3D Depth, and no gather for the displacement.
#include <emmintrin.h>

#include <array>
#include <cstdint>

#include "frames/colour_anaglyphs.h"
#include "frames/squeeze.h"
#include "frames/stereo_views.h"
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

namespace {

using xmm::Load;
using xmm::Store;

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

// Red from the left view's luma beside its fourth byte; green and blue from the right
// view (half-colour) or its luma (grey).
template <bool kGrey>
void ColourAnaglyph(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m128i cyan = _mm_set1_epi32(0x0000FFFF);
  const __m128i twice = _mm_set1_epi32(0x0101);
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i l = Load(left + i);
    const __m128i r = Load(right + i);
    const __m128i green_blue = kGrey ? _mm_mullo_epi16(Luma(r), twice) : _mm_and_si128(r, cyan);
    Store(out + i, _mm_or_si128(_mm_or_si128(_mm_and_si128(l, fourth), _mm_slli_epi32(Luma(l), 16)),
                                green_blue));
  }
  (kGrey ? GreyScalar : HalfColourScalar)(left + i, right + i, out + i, count - i);
}

// The word pair (kSrgbToLinear of byte `a` of p, of byte `b` of q) of a multiply-add.
int32_t LinearPair(uint32_t p, int32_t a, uint32_t q, int32_t b) {
  const auto low = static_cast<uint16_t>(kSrgbToLinear[(p >> a) & 0xFF]);
  const auto high = static_cast<uint16_t>(kSrgbToLinear[(q >> b) & 0xFF]);
  return static_cast<int32_t>(low | uint32_t{high} << 16);
}

__m128i CoefficientPair(size_t row, size_t first, size_t second) {
  const auto low = static_cast<uint16_t>(kDuboisWords[row][first]);
  const auto high = static_cast<uint16_t>(kDuboisWords[row][second]);
  return _mm_set1_epi32(static_cast<int32_t>(low | uint32_t{high} << 16));
}

// Dubois four pixels at a time: the decoding and the encoding's pieces are looked up one
// by one (SSE2 has no variable permute), the sums and the rest of the encoding are vector
// ones, as DuboisScalar takes them.
void Dubois(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  __m128i c[3][3];
  for (size_t row = 0; row < 3; ++row) {
    c[row][0] = CoefficientPair(row, 0, 1);
    c[row][1] = CoefficientPair(row, 2, 3);
    c[row][2] = CoefficientPair(row, 4, 5);
  }
  const __m128i bias = _mm_set1_epi32(kDuboisBias);
  const __m128 floor = _mm_set1_ps(static_cast<float>(kDuboisBias));
  const __m128i byte = _mm_set1_epi32(0x00FF0000);
  const __m128i steps = _mm_set1_epi32(kDuboisSteps - 1);
  const __m128i start_unit = _mm_set1_epi32(kDuboisStartUnit << 16);
  const __m128i fourth = _mm_set1_epi32(static_cast<int32_t>(0xFF000000u));
  auto pairs = [](const uint32_t* a, int32_t a_shift, const uint32_t* b, int32_t b_shift) {
    return _mm_setr_epi32(
        LinearPair(a[0], a_shift, b[0], b_shift), LinearPair(a[1], a_shift, b[1], b_shift),
        LinearPair(a[2], a_shift, b[2], b_shift), LinearPair(a[3], a_shift, b[3], b_shift));
  };
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    const __m128i in[3] = {pairs(left + i, 16, left + i, 8), pairs(left + i, 0, right + i, 16),
                           pairs(right + i, 8, right + i, 0)};
    __m128i pixel = _mm_and_si128(Load(left + i), fourth);
    for (size_t row = 0; row < 3; ++row) {
      const __m128i sum = _mm_add_epi32(
          _mm_add_epi32(_mm_madd_epi16(in[0], c[row][0]), _mm_madd_epi16(in[1], c[row][1])),
          _mm_add_epi32(_mm_madd_epi16(in[2], c[row][2]), bias));
      const __m128i bits = _mm_castps_si128(_mm_max_ps(_mm_cvtepi32_ps(sum), floor));
      alignas(16) uint32_t piece[4];
      _mm_store_si128(reinterpret_cast<__m128i*>(piece), _mm_srli_epi32(bits, kDuboisPieceShift));
      const __m128i entries =
          _mm_setr_epi32(static_cast<int32_t>(kLinearToSrgb[piece[0] & (kDuboisPieces - 1)]),
                         static_cast<int32_t>(kLinearToSrgb[piece[1] & (kDuboisPieces - 1)]),
                         static_cast<int32_t>(kLinearToSrgb[piece[2] & (kDuboisPieces - 1)]),
                         static_cast<int32_t>(kLinearToSrgb[piece[3] & (kDuboisPieces - 1)]));
      const __m128i step =
          _mm_or_si128(_mm_and_si128(_mm_srli_epi32(bits, kDuboisStepShift), steps), start_unit);
      const __m128i value = _mm_madd_epi16(entries, step);
      pixel = _mm_or_si128(pixel, _mm_srl_epi32(_mm_and_si128(value, byte),
                                                _mm_cvtsi32_si128(8 * static_cast<int32_t>(row))));
    }
    Store(out + i, pixel);
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
  return {StereoViewsScalar,    Dubois,       ColourAnaglyph<false>,
          ColourAnaglyph<true>, HalveColumns, AverageRows};
}

}  // namespace zqr::frames
