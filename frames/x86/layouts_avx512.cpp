// AVX-512 kernels of the output layouts: the AVX2 set with the views' 3D Depth
// displacement and Dubois's table lookups made in registers. VBMI's two-register byte
// permute looks up 64 bytes of a 128-byte table at a time, so the 16-bit sRGB decoding is
// two 256-byte tables (its low and its high bytes), and the encoding's 32 pieces are one
// 32-bit permute. The views are the stereo merge's (views_zmm.h). Built with the AVX-512
// flags; installed only after a run-time check of the CPU.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "frames/colour_anaglyphs.h"
#include "frames/stereo.h"
#include "frames/stereo_views.h"
#include "frames/x86/kernels_x86.h"
#include "frames/x86/views_zmm.h"

namespace zqr::frames {

// GCC 12 takes the undefined pass-through operand inside some AVX-512 intrinsics
// (_mm512_cvtepi32_ps, _mm512_max_ps, _mm512_srli_epi32) for an uninitialized variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

// Byte k of each 64-byte row: byte kSource[k] of the pair of registers given to a
// two-register permute (64 and up: the second register).
using ByteOrder = std::array<uint8_t, 64>;

// The index bytes of one kind of word pair, `first` and `second` being the bytes within a
// pixel, for the 32 pixels of two registers (a two-register permute's 0 .. 127): 128-bit
// lane k holds the pairs of pixels 4k .. 4k + 3 and then of 16 + 4k .. 16 + 4k + 3, so
// that the byte unpacks of the decoded low and high bytes give the words of pixels 0 .. 15
// and of 16 .. 31 in order.
constexpr ByteOrder PairIndices(int32_t first, int32_t second) {
  ByteOrder order{};
  for (int32_t lane = 0; lane < 4; ++lane) {
    for (int32_t j = 0; j < 8; ++j) {
      const int32_t pixel = j < 4 ? 4 * lane + j : 16 + 4 * lane + j - 4;
      const auto at = static_cast<size_t>(lane) * 16 + static_cast<size_t>(j) * 2;
      order[at] = static_cast<uint8_t>(4 * pixel + first);
      order[at + 1] = static_cast<uint8_t>(4 * pixel + second);
    }
  }
  return order;
}

// Green and blue: byte 2 of each pixel of the first and the second register into bytes 1
// and 0; red, already in byte 2, and the fourth byte are blended in afterwards.
constexpr ByteOrder GreenBlue() {
  ByteOrder order{};
  for (size_t p = 0; p < 16; ++p) {
    order[4 * p] = static_cast<uint8_t>(64 + 4 * p + 2);
    order[4 * p + 1] = static_cast<uint8_t>(4 * p + 2);
  }
  return order;
}

constexpr ByteOrder EveryOther(int32_t start) {
  ByteOrder order{};
  for (int32_t k = 0; k < 64; ++k)
    order[static_cast<size_t>(k)] = static_cast<uint8_t>(2 * k + start);
  return order;
}

alignas(64) constexpr ByteOrder kRedGreenPairs = PairIndices(2, 1);
alignas(64) constexpr ByteOrder kBlueRedPairs = PairIndices(0, 2);
alignas(64) constexpr ByteOrder kGreenBluePairs = PairIndices(1, 0);
alignas(64) constexpr ByteOrder kGreenBlueOut = GreenBlue();
alignas(64) constexpr ByteOrder kLowBytes = EveryOther(0);
alignas(64) constexpr ByteOrder kHighBytes = EveryOther(1);

__m512i LoadOrder(const ByteOrder& order) {
  return _mm512_load_si512(order.data());
}

// Calls block(i, views) for the sixteen-pixel blocks of picture pixels begin .. end - 1
// whose sources (own pixels up to 31 on, shifted ones from 8 before to 23 after) lie in the
// picture, with displacements of at most 8, and rest(from, to) for the pixels before and
// after them, or for all of them when the displacements are larger.
template <typename Block, typename Rest>
[[gnu::always_inline]] inline void ForEachViewBlock(const StereoViewArgs& args, int64_t begin,
                                                    int64_t end, Block block, Rest rest) {
  __m512i table[4];
  if (!args.displacement || zmm::DisplacementTableRegisters(args.displacement_table,
                                                            args.displacement_factor, table) > 8) {
    return rest(begin, end);
  }
  const int64_t n = args.picture;
  const int64_t s = args.shift;
  const int64_t first_block = std::clamp<int64_t>(std::max<int64_t>(8 - s, 0), begin, end);
  const int64_t last_block = std::min(n - 32, n - 24 - s);
  rest(begin, first_block);
  const zmm::ViewConstants k(args.width, n);
  const uint32_t* const current = args.current;
  const uint32_t* const second = args.second;
  // Blocks whose pixels and shifted pixels all lie in the displaced rows need no masks.
  const int64_t inside_begin = std::max<int64_t>(args.width, args.width - s);
  const int64_t inside_end = std::min<int64_t>(n - args.width, n - args.width - s) - 16;
  int64_t i = first_block;
  for (; i + 16 <= end && i <= last_block; i += 16) {
    PrefetchPixels(second + i);
    block(i, zmm::ViewBlock(k, table, current, second, i, s, i < inside_begin || i > inside_end));
  }
  rest(i, end);
}

// The views with 3D Depth; what the blocks cannot take goes to the AVX2 kernel.
void StereoViews(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* left,
                 uint32_t* right) {
  const auto fallback = Avx2LayoutKernels().stereo_views;
  ForEachViewBlock(
      args, begin, end,
      [&](int64_t i, const zmm::ViewPairZmm& views) {
        _mm512_storeu_si512(right + (i - begin), views.own);
        _mm512_storeu_si512(left + (i - begin), views.other);
      },
      [&](int64_t from, int64_t to) {
        fallback(args, from, to, left + (from - begin), right + (from - begin));
      });
}

// Full-range luma of sixteen pixels, as LumaOf does it, in the low byte of each lane.
__m512i Luma(__m512i v) {
  const __m512i blue_red = _mm512_set1_epi32(kFullLumaR << 16 | kFullLumaB);
  const __m512i green = _mm512_set1_epi32(kFullLumaG);
  const __m512i round = _mm512_set1_epi32(1 << (kFullLumaShift - 1));
  const __m512i sum = _mm512_add_epi32(
      _mm512_madd_epi16(_mm512_and_si512(v, _mm512_set1_epi32(0x00FF00FF)), blue_red),
      _mm512_madd_epi16(_mm512_srli_epi16(v, 8), green));
  return _mm512_srli_epi32(_mm512_add_epi32(sum, round), kFullLumaShift);
}

// The half-colour or grey anaglyph of picture pixels begin .. end - 1 with 3D Depth, each
// block's views kept in registers: through the caller's band the views cost a store and a
// load of both. What the blocks cannot take goes through the AVX2 kernels by a small band
// of its own.
template <bool kGrey>
void ColourViews(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* out) {
  const LayoutKernels avx2 = Avx2LayoutKernels();
  const auto colour = kGrey ? avx2.grey : avx2.half_colour;
  auto through_band = [&](int64_t from, int64_t to) {
    constexpr int64_t kBand = 256;
    alignas(64) std::array<uint32_t, 2 * kBand> room;
    for (int64_t a = from; a < to; a += kBand) {
      const int64_t b = std::min(to, a + kBand);
      avx2.stereo_views(args, a, b, room.data(), room.data() + kBand);
      colour(room.data(), room.data() + kBand, out + (a - begin), b - a);
    }
  };
  const __m512i fourth = _mm512_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m512i cyan = _mm512_set1_epi32(0x0000FFFF);
  const __m512i twice = _mm512_set1_epi32(0x0101);
  ForEachViewBlock(
      args, begin, end,
      [&](int64_t i, const zmm::ViewPairZmm& views) {
        // Red from the left view's luma beside its fourth byte; green and blue from the
        // right view.
        const __m512i red = _mm512_or_si512(_mm512_and_si512(views.other, fourth),
                                            _mm512_slli_epi32(Luma(views.other), 16));
        const __m512i green_blue =
            kGrey ? _mm512_mullo_epi16(Luma(views.own), twice) : _mm512_and_si512(views.own, cyan);
        _mm512_storeu_si512(out + (i - begin), _mm512_or_si512(red, green_blue));
      },
      through_band);
}

// The half-height squeeze of two lines' views with 3D Depth, the views kept in registers
// (the byte mean rounded up is the squeeze's mean). What the blocks cannot take goes
// through the AVX2 kernels by a small band of its own.
void AverageRowsViews(const StereoViewArgs& args, int64_t a, int64_t b, int64_t count,
                      uint32_t* left_out, uint32_t* right_out) {
  const LayoutKernels avx2 = Avx2LayoutKernels();
  auto through_band = [&](int64_t from, int64_t to) {
    constexpr int64_t kBand = 128;
    alignas(64) std::array<uint32_t, 4 * kBand> room;
    uint32_t* const left_a = room.data();
    uint32_t* const right_a = left_a + kBand;
    uint32_t* const left_b = right_a + kBand;
    uint32_t* const right_b = left_b + kBand;
    for (int64_t x = from; x < to; x += kBand) {
      const int64_t m = std::min(to - x, kBand);
      avx2.stereo_views(args, a + x, a + x + m, left_a, right_a);
      avx2.stereo_views(args, b + x, b + x + m, left_b, right_b);
      avx2.average_rows(left_a, left_b, left_out + x, m);
      if (right_out != nullptr) avx2.average_rows(right_a, right_b, right_out + x, m);
    }
  };
  __m512i table[4];
  if (!args.displacement || zmm::DisplacementTableRegisters(args.displacement_table,
                                                            args.displacement_factor, table) > 8) {
    return through_band(0, count);
  }
  const int64_t n = args.picture;
  const int64_t s = args.shift;
  const int64_t first_block = std::max<int64_t>(8 - s, 0);
  const int64_t last_block = std::min(n - 32, n - 24 - s);
  const int64_t start = std::clamp<int64_t>(first_block - std::min(a, b), 0, count);
  through_band(0, start);
  const zmm::ViewConstants k(args.width, n);
  const uint32_t* const current = args.current;
  const uint32_t* const second = args.second;
  const int64_t inside_begin = std::max<int64_t>(args.width, args.width - s);
  const int64_t inside_end = std::min<int64_t>(n - args.width, n - args.width - s) - 16;
  auto edge = [&](int64_t i) { return i < inside_begin || i > inside_end; };
  int64_t x = start;
  for (; x + 16 <= count && std::max(a, b) + x <= last_block; x += 16) {
    PrefetchPixels(second + a + x);
    PrefetchPixels(second + b + x);
    const zmm::ViewPairZmm va = zmm::ViewBlock(k, table, current, second, a + x, s, edge(a + x));
    const zmm::ViewPairZmm vb = zmm::ViewBlock(k, table, current, second, b + x, s, edge(b + x));
    _mm512_storeu_si512(left_out + x, _mm512_avg_epu8(va.other, vb.other));
    if (right_out != nullptr) _mm512_storeu_si512(right_out + x, _mm512_avg_epu8(va.own, vb.own));
  }
  through_band(x, count);
}

__m512i CoefficientPair(size_t row, size_t first, size_t second) {
  const auto low = static_cast<uint16_t>(kDuboisWords[row][first]);
  const auto high = static_cast<uint16_t>(kDuboisWords[row][second]);
  return _mm512_set1_epi32(static_cast<int32_t>(low | uint32_t{high} << 16));
}

struct DuboisConstants {
  __m512i c[3][3];
  __m512i bias;
  __m512 floor;
  __m512i pieces[2];
  __m512i steps;
  __m512i start_unit;
  __m512i green_blue_out;
};

// One colour of sixteen pixels from their word pairs (left red, left green), (left blue,
// right red), (right green, right blue): three VNNI multiply-adds onto the bias, and the sums
// encoded as DuboisEncode does it, the bytes in bits 16 .. 23.
[[gnu::always_inline]] inline __m512i DuboisColour(const DuboisConstants& k, size_t row, __m512i a,
                                                   __m512i b, __m512i c) {
  const __m512i sum = _mm512_dpwssd_epi32(
      _mm512_dpwssd_epi32(_mm512_dpwssd_epi32(k.bias, a, k.c[row][0]), b, k.c[row][1]), c,
      k.c[row][2]);
  const __m512i bits = _mm512_castps_si512(_mm512_max_ps(_mm512_cvtepi32_ps(sum), k.floor));
  const __m512i piece = _mm512_permutex2var_epi32(
      k.pieces[0], _mm512_srli_epi32(bits, kDuboisPieceShift), k.pieces[1]);
  // (step, kDuboisStartUnit): (a & b) | c.
  const __m512i step = _mm512_ternarylogic_epi32(_mm512_srli_epi32(bits, kDuboisStepShift), k.steps,
                                                 k.start_unit, 0xEA);
  return _mm512_madd_epi16(piece, step);
}

// Sixteen output pixels: the encoded red, green and blue bytes with the left view's fourth.
[[gnu::always_inline]] inline __m512i DuboisPixels(const DuboisConstants& k, __m512i a, __m512i b,
                                                   __m512i c, __m512i left) {
  const __mmask64 red_bytes = 0x4444444444444444ull;
  const __mmask64 fourth_bytes = 0x8888888888888888ull;
  const __m512i green_blue = _mm512_permutex2var_epi8(DuboisColour(k, 1, a, b, c), k.green_blue_out,
                                                      DuboisColour(k, 2, a, b, c));
  const __m512i colour = _mm512_mask_blend_epi8(red_bytes, green_blue, DuboisColour(k, 0, a, b, c));
  return _mm512_mask_blend_epi8(fourth_bytes, colour, left);
}

// Thirty-two pixels a step. The six colour bytes of the pixels are gathered by permutes
// into three registers of index pairs (no lookup is spent on the fourth bytes), each is
// decoded into its low and high bytes, and byte unpacks make the words.
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
  DuboisConstants k;
  for (size_t row = 0; row < 3; ++row) {
    k.c[row][0] = CoefficientPair(row, 0, 1);
    k.c[row][1] = CoefficientPair(row, 2, 3);
    k.c[row][2] = CoefficientPair(row, 4, 5);
  }
  k.bias = _mm512_set1_epi32(kDuboisBias);
  k.floor = _mm512_set1_ps(static_cast<float>(kDuboisBias));
  k.pieces[0] = _mm512_loadu_si512(kLinearToSrgb.data());
  k.pieces[1] = _mm512_loadu_si512(kLinearToSrgb.data() + 16);
  k.steps = _mm512_set1_epi32(kDuboisSteps - 1);
  k.start_unit = _mm512_set1_epi32(kDuboisStartUnit << 16);
  k.green_blue_out = LoadOrder(kGreenBlueOut);
  const __m512i red_green = LoadOrder(kRedGreenPairs);
  const __m512i blue_red = LoadOrder(kBlueRedPairs);
  const __m512i green_blue = LoadOrder(kGreenBluePairs);
  const __mmask64 odd_bytes = 0xAAAAAAAAAAAAAAAAull;
  auto decode = [&](__m512i index, __m512i& low_bytes, __m512i& high_bytes) {
    const __mmask64 top = _mm512_movepi8_mask(index);
    low_bytes = zmm::Lookup(index, top, low);
    high_bytes = zmm::Lookup(index, top, high);
  };
  int64_t i = 0;
  for (; i + 32 <= count; i += 32) {
    PrefetchPixels(left + i);
    PrefetchPixels(left + i + 16);
    PrefetchPixels(right + i);
    PrefetchPixels(right + i + 16);
    const __m512i l0 = _mm512_loadu_si512(left + i);
    const __m512i l1 = _mm512_loadu_si512(left + i + 16);
    const __m512i r0 = _mm512_loadu_si512(right + i);
    const __m512i r1 = _mm512_loadu_si512(right + i + 16);
    __m512i lo0, hi0, lo1, hi1, lo2, hi2;
    decode(_mm512_permutex2var_epi8(l0, red_green, l1), lo0, hi0);
    decode(_mm512_mask_blend_epi8(odd_bytes, _mm512_permutex2var_epi8(l0, blue_red, l1),
                                  _mm512_permutex2var_epi8(r0, blue_red, r1)),
           lo1, hi1);
    decode(_mm512_permutex2var_epi8(r0, green_blue, r1), lo2, hi2);
    _mm512_storeu_si512(
        out + i, DuboisPixels(k, _mm512_unpacklo_epi8(lo0, hi0), _mm512_unpacklo_epi8(lo1, hi1),
                              _mm512_unpacklo_epi8(lo2, hi2), l0));
    _mm512_storeu_si512(out + i + 16, DuboisPixels(k, _mm512_unpackhi_epi8(lo0, hi0),
                                                   _mm512_unpackhi_epi8(lo1, hi1),
                                                   _mm512_unpackhi_epi8(lo2, hi2), l1));
  }
  DuboisScalar(left + i, right + i, out + i, count - i);
}

}  // namespace

#pragma GCC diagnostic pop

LayoutKernels Avx512LayoutKernels() {
  LayoutKernels kernels = Avx2LayoutKernels();
  kernels.stereo_views = StereoViews;
  kernels.dubois = Dubois;
  kernels.half_colour_views = ColourViews<false>;
  kernels.grey_views = ColourViews<true>;
  kernels.average_rows_views = AverageRowsViews;
  return kernels;
}

}  // namespace zqr::frames
