// AVX-512 kernels of the output layouts: the AVX2 set with Dubois's table lookups made in
// registers. VBMI's two-register byte permute looks up 64 bytes of a 128-byte table at a
// time, so the 16-bit sRGB decoding is two 256-byte tables (its low and its high bytes),
// and the encoding's 32 pieces are two single-precision permutes. Built with the AVX-512
// flags; installed only after a run-time check of the CPU.
#include <immintrin.h>

#include <array>
#include <cstdint>

#include "frames/colour_anaglyphs.h"
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

namespace {

// Byte k of each 64-byte row: byte kSource[k] of the pair of registers given to a
// two-register permute (64 and up: the second register).
using ByteOrder = std::array<uint8_t, 64>;

// For each pixel p, two words from the low (first register) and high (second register)
// bytes of the decoded pixel: the bytes at `first` and `second` within the pixel.
constexpr ByteOrder WordPairs(int32_t first, int32_t second) {
  ByteOrder order{};
  for (int32_t p = 0; p < 16; ++p) {
    order[4 * p + 0] = static_cast<uint8_t>(4 * p + first);
    order[4 * p + 1] = static_cast<uint8_t>(64 + 4 * p + first);
    order[4 * p + 2] = static_cast<uint8_t>(4 * p + second);
    order[4 * p + 3] = static_cast<uint8_t>(64 + 4 * p + second);
  }
  return order;
}

// Red from the first register's lowest byte of each pixel, green from the second's; the
// blue and fourth bytes are blended in afterwards.
constexpr ByteOrder RedGreen() {
  ByteOrder order{};
  for (int32_t p = 0; p < 16; ++p) {
    order[4 * p + 0] = static_cast<uint8_t>(4 * p);
    order[4 * p + 1] = static_cast<uint8_t>(64 + 4 * p);
    order[4 * p + 2] = static_cast<uint8_t>(4 * p);
    order[4 * p + 3] = static_cast<uint8_t>(4 * p);
  }
  return order;
}

constexpr ByteOrder EveryOther(int32_t start) {
  ByteOrder order{};
  for (int32_t k = 0; k < 64; ++k)
    order[static_cast<size_t>(k)] = static_cast<uint8_t>(2 * k + start);
  return order;
}

alignas(64) constexpr ByteOrder kRedGreenLeft = WordPairs(2, 1);
alignas(64) constexpr ByteOrder kBlueRed = WordPairs(0, 2);
alignas(64) constexpr ByteOrder kGreenBlueRight = WordPairs(1, 0);
alignas(64) constexpr ByteOrder kRedGreenOut = RedGreen();
alignas(64) constexpr ByteOrder kLowBytes = EveryOther(0);
alignas(64) constexpr ByteOrder kHighBytes = EveryOther(1);

__m512i LoadOrder(const ByteOrder& order) {
  return _mm512_load_si512(order.data());
}

// table[v] for every byte v of `v` (`top`: the bytes of 128 and up).
__m512i Lookup(__m512i v, __mmask64 top, const __m512i t[4]) {
  const __m512i low = _mm512_permutex2var_epi8(t[0], v, t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t[2], v, t[3]);
  return _mm512_mask_blend_epi8(top, low, high);
}

// Two coefficients of a row as the word pair of a multiply-add.
__m512i CoefficientPair(size_t row, size_t first, size_t second) {
  const auto low = static_cast<uint16_t>(kDuboisWords[row][first]);
  const auto high = static_cast<uint16_t>(kDuboisWords[row][second]);
  return _mm512_set1_epi32(static_cast<int32_t>(low | uint32_t{high} << 16));
}

// GCC 12 takes the undefined pass-through operand inside _mm512_cvtepi32_ps, _mm512_max_ps
// and _mm512_srli_epi32 for an uninitialized variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"

// Sixteen pixels a step: the decoded words arranged as (left red, left green), (left blue,
// right red) and (right green, right blue) pairs, three multiply-adds per output colour,
// and the encoding of each colour's sums as DuboisEncode does it.
void Dubois(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  __m512i low[4];
  __m512i high[4];
  {
    const auto* words = reinterpret_cast<const uint8_t*>(kSrgbToLinear.data());
    const __m512i low_bytes = LoadOrder(kLowBytes);
    const __m512i high_bytes = LoadOrder(kHighBytes);
    for (int32_t k = 0; k < 4; ++k) {
      const __m512i a = _mm512_loadu_si512(words + 128 * k);
      const __m512i b = _mm512_loadu_si512(words + 128 * k + 64);
      low[k] = _mm512_permutex2var_epi8(a, low_bytes, b);
      high[k] = _mm512_permutex2var_epi8(a, high_bytes, b);
    }
  }
  __m512i c[3][3];
  for (size_t row = 0; row < 3; ++row) {
    c[row][0] = CoefficientPair(row, 0, 1);
    c[row][1] = CoefficientPair(row, 2, 3);
    c[row][2] = CoefficientPair(row, 4, 5);
  }
  const __m512i red_green_left = LoadOrder(kRedGreenLeft);
  const __m512i blue_red = LoadOrder(kBlueRed);
  const __m512i green_blue_right = LoadOrder(kGreenBlueRight);
  const __m512i red_green_out = LoadOrder(kRedGreenOut);
  const __m512i bias = _mm512_set1_epi32(kDuboisBias);
  const __m512 floor = _mm512_set1_ps(static_cast<float>(kDuboisBias));
  const __m512 slope0 = _mm512_loadu_ps(kLinearToSrgb.slope.data());
  const __m512 slope1 = _mm512_loadu_ps(kLinearToSrgb.slope.data() + 16);
  const __m512 offset0 = _mm512_loadu_ps(kLinearToSrgb.offset.data());
  const __m512 offset1 = _mm512_loadu_ps(kLinearToSrgb.offset.data() + 16);
  const __mmask64 right_half = 0xCCCCCCCCCCCCCCCCull;
  const __mmask64 blue_bytes = 0x1111111111111111ull;
  const __mmask64 fourth_bytes = 0x8888888888888888ull;
  int64_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m512i l = _mm512_loadu_si512(left + i);
    const __m512i r = _mm512_loadu_si512(right + i);
    const __mmask64 l_top = _mm512_movepi8_mask(l);
    const __mmask64 r_top = _mm512_movepi8_mask(r);
    const __m512i l_low = Lookup(l, l_top, low);
    const __m512i l_high = Lookup(l, l_top, high);
    const __m512i r_low = Lookup(r, r_top, low);
    const __m512i r_high = Lookup(r, r_top, high);
    const __m512i pairs[3] = {
        _mm512_permutex2var_epi8(l_low, red_green_left, l_high),
        _mm512_mask_blend_epi8(right_half, _mm512_permutex2var_epi8(l_low, blue_red, l_high),
                               _mm512_permutex2var_epi8(r_low, blue_red, r_high)),
        _mm512_permutex2var_epi8(r_low, green_blue_right, r_high)};
    __m512i encoded[3];
    for (size_t row = 0; row < 3; ++row) {
      const __m512i sum =
          _mm512_add_epi32(_mm512_add_epi32(_mm512_madd_epi16(pairs[0], c[row][0]),
                                            _mm512_madd_epi16(pairs[1], c[row][1])),
                           _mm512_add_epi32(_mm512_madd_epi16(pairs[2], c[row][2]), bias));
      const __m512 x = _mm512_max_ps(_mm512_cvtepi32_ps(sum), floor);
      const __m512i piece = _mm512_srli_epi32(_mm512_castps_si512(x), kDuboisPieceShift);
      const __m512 product = _mm512_mul_ps(_mm512_permutex2var_ps(slope0, piece, slope1), x);
      encoded[row] = _mm512_castps_si512(
          _mm512_add_ps(product, _mm512_permutex2var_ps(offset0, piece, offset1)));
    }
    const __m512i red_green = _mm512_permutex2var_epi8(encoded[0], red_green_out, encoded[1]);
    const __m512i colour = _mm512_mask_blend_epi8(blue_bytes, red_green, encoded[2]);
    _mm512_storeu_si512(out + i, _mm512_mask_blend_epi8(fourth_bytes, colour, l));
  }
  DuboisScalar(left + i, right + i, out + i, count - i);
}

#pragma GCC diagnostic pop

}  // namespace

LayoutKernels Avx512LayoutKernels() {
  LayoutKernels kernels = Avx2LayoutKernels();
  kernels.dubois = Dubois;
  return kernels;
}

}  // namespace zqr::frames
