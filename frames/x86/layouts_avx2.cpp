// AVX2 kernels of the output layouts: the SSE2 ones on 256-bit registers, with permutes
// for Dubois's encoding and gathers for the 3D Depth displacement of the views. Built with
// -mavx2; installed only after a run-time check of the CPU.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "frames/colour_anaglyphs.h"
#include "frames/squeeze.h"
#include "frames/stereo_views.h"
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

namespace {

using ymm::Load;
using ymm::Store;

// The views with 3D Depth, eight pixels a block, in blocks whose own pixels and whose
// shifted ones with the eight before them lie in the picture (the rest goes to the plain
// kernel). Displacements of at most 8 pixels keep every source of a block within sixteen
// pixels, picked by two permutes; larger ones are gathered, their sources held within the
// picture as the plain kernel holds them.
void StereoViews(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* left,
                 uint32_t* right) {
  if (!args.displacement) return StereoViewsScalar(args, begin, end, left, right);
  const int64_t n = args.picture;
  const int64_t s = args.shift;
  const int64_t first_block = std::clamp<int64_t>(std::max<int64_t>(8 - s, 0), begin, end);
  const int64_t last_block = std::min(n - 16, n - 8 - s);
  StereoViewsScalar(args, begin, first_block, left, right);
  const __m256 k = _mm256_set1_ps(args.displacement_factor);
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i eight = _mm256_set1_epi32(8);
  const __m256i first = _mm256_set1_epi32(args.width);  // first displaced pixel
  const __m256i past = _mm256_set1_epi32(static_cast<int32_t>(n - args.width));
  const __m256i last = _mm256_set1_epi32(static_cast<int32_t>(n - 1));
  auto moved = [&](__m256i value) {
    return _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(value), k));
  };
  auto displaced = [&](__m256i at) {
    return _mm256_andnot_si256(_mm256_cmpgt_epi32(first, at), _mm256_cmpgt_epi32(past, at));
  };
  auto pick16 = [](const uint32_t* p, __m256i offset) {
    const __m256i a = _mm256_permutevar8x32_epi32(Load(p), offset);
    const __m256i b = _mm256_permutevar8x32_epi32(Load(p + 8), offset);
    return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi32(offset, _mm256_set1_epi32(7)));
  };
  const bool near = ColourDisplacement(255, args.displacement_factor) <= 8;
  // Blocks whose pixels and shifted pixels all lie in the displaced rows need no masks
  // (all but the first and last row of the frame).
  const int64_t inside_begin = std::max<int64_t>(args.width, args.width - s);
  const int64_t inside_end = std::min<int64_t>(n - args.width, n - args.width - s) - 8;
  const __m256i red_byte =
      _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1, 2, -1, -1, -1,
                       6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  const __m256i green_byte =
      _mm256_setr_epi8(1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1, 1, -1, -1, -1,
                       5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1);
  const int* current = reinterpret_cast<const int*>(args.current);
  const int* second = reinterpret_cast<const int*>(args.second);
  int64_t i = first_block;
  for (; i + 8 <= end && i <= last_block; i += 8) {
    PrefetchPixels(args.second + i);
    __m256i dr = moved(_mm256_shuffle_epi8(Load(args.current + i), red_byte));
    __m256i dg = moved(_mm256_shuffle_epi8(Load(args.current + i + s), green_byte));
    const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(i)), lanes);
    const __m256i target = _mm256_add_epi32(index, _mm256_set1_epi32(static_cast<int32_t>(s)));
    if (i < inside_begin || i > inside_end) {
      dr = _mm256_and_si256(dr, displaced(index));
      dg = _mm256_and_si256(dg, displaced(target));
    }
    __m256i own;
    __m256i other;
    if (near) {
      own = pick16(args.current + i, _mm256_add_epi32(lanes, dr));
      other = pick16(args.second + i + s - 8, _mm256_sub_epi32(_mm256_add_epi32(lanes, eight), dg));
    } else {
      own = _mm256_i32gather_epi32(current, _mm256_min_epi32(_mm256_add_epi32(index, dr), last), 4);
      other = _mm256_i32gather_epi32(
          second, _mm256_max_epi32(_mm256_sub_epi32(target, dg), _mm256_setzero_si256()), 4);
    }
    Store(right + (i - begin), own);
    Store(left + (i - begin), other);
  }
  StereoViewsScalar(args, i, end, left + (i - begin), right + (i - begin));
}

__m256i Luma(__m256i v) {
  const __m256i blue_red = _mm256_set1_epi32(kFullLumaR << 16 | kFullLumaB);
  const __m256i green = _mm256_set1_epi32(kFullLumaG);
  const __m256i round = _mm256_set1_epi32(1 << (kFullLumaShift - 1));
  const __m256i sum = _mm256_add_epi32(
      _mm256_madd_epi16(_mm256_and_si256(v, _mm256_set1_epi32(0x00FF00FF)), blue_red),
      _mm256_madd_epi16(_mm256_srli_epi16(v, 8), green));
  return _mm256_srli_epi32(_mm256_add_epi32(sum, round), kFullLumaShift);
}

// Red from the left view's luma beside its fourth byte; green and blue from the right
// view (half-colour) or its luma (grey).
template <bool kGrey>
void ColourAnaglyph(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  const __m256i cyan = _mm256_set1_epi32(0x0000FFFF);
  const __m256i twice = _mm256_set1_epi32(0x0101);
  int64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    const __m256i l = Load(left + i);
    const __m256i r = Load(right + i);
    const __m256i green_blue =
        kGrey ? _mm256_mullo_epi16(Luma(r), twice) : _mm256_and_si256(r, cyan);
    Store(out + i, _mm256_or_si256(
                       _mm256_or_si256(_mm256_and_si256(l, fourth), _mm256_slli_epi32(Luma(l), 16)),
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

__m256i CoefficientPair(size_t row, size_t first, size_t second) {
  const auto low = static_cast<uint16_t>(kDuboisWords[row][first]);
  const auto high = static_cast<uint16_t>(kDuboisWords[row][second]);
  return _mm256_set1_epi32(static_cast<int32_t>(low | uint32_t{high} << 16));
}

// The encoding's piece for each lane: four eight-entry permutes, chosen by bits 3 and 4
// of the piece number.
struct PieceTable {
  __m256i part[4];
  PieceTable() {
    for (size_t k = 0; k < 4; ++k) {
      part[k] = _mm256_loadu_si256(reinterpret_cast<const __m256i*>(kLinearToSrgb.data() + 8 * k));
    }
  }
  __m256i operator()(__m256i piece) const {
    const __m256 bit3 = _mm256_castsi256_ps(_mm256_slli_epi32(piece, 28));
    const __m256 bit4 = _mm256_castsi256_ps(_mm256_slli_epi32(piece, 27));
    auto pick = [&](size_t k) {
      return _mm256_castsi256_ps(_mm256_permutevar8x32_epi32(part[k], piece));
    };
    const __m256 low = _mm256_blendv_ps(pick(0), pick(1), bit3);
    const __m256 high = _mm256_blendv_ps(pick(2), pick(3), bit3);
    return _mm256_castps_si256(_mm256_blendv_ps(low, high, bit4));
  }
};

// Dubois, eight pixels at a time: the decoding is looked up byte by byte (a gather is
// slower on some CPUs than these loads), the sums and the encoding are vector ones, as
// DuboisScalar takes them.
void Dubois(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  __m256i c[3][3];
  for (size_t row = 0; row < 3; ++row) {
    c[row][0] = CoefficientPair(row, 0, 1);
    c[row][1] = CoefficientPair(row, 2, 3);
    c[row][2] = CoefficientPair(row, 4, 5);
  }
  const PieceTable pieces;
  const __m256i steps = _mm256_set1_epi32(kDuboisSteps - 1);
  const __m256i start_unit = _mm256_set1_epi32(kDuboisStartUnit << 16);
  const __m256i bias = _mm256_set1_epi32(kDuboisBias);
  const __m256 floor = _mm256_set1_ps(static_cast<float>(kDuboisBias));
  const __m256i byte = _mm256_set1_epi32(0x00FF0000);
  const __m256i fourth = _mm256_set1_epi32(static_cast<int32_t>(0xFF000000u));
  int64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    alignas(32) int32_t pairs[3][8];
    for (int64_t p = 0; p < 8; ++p) {
      const uint32_t l = left[i + p], r = right[i + p];
      pairs[0][p] = LinearPair(l, 16, l, 8);
      pairs[1][p] = LinearPair(l, 0, r, 16);
      pairs[2][p] = LinearPair(r, 8, r, 0);
    }
    __m256i in[3];
    for (size_t k = 0; k < 3; ++k) {
      in[k] = _mm256_load_si256(reinterpret_cast<const __m256i*>(pairs[k]));
    }
    __m256i pixel = _mm256_and_si256(Load(left + i), fourth);
    for (size_t row = 0; row < 3; ++row) {
      const __m256i sum =
          _mm256_add_epi32(_mm256_add_epi32(_mm256_madd_epi16(in[0], c[row][0]),
                                            _mm256_madd_epi16(in[1], c[row][1])),
                           _mm256_add_epi32(_mm256_madd_epi16(in[2], c[row][2]), bias));
      const __m256i bits = _mm256_castps_si256(_mm256_max_ps(_mm256_cvtepi32_ps(sum), floor));
      const __m256i step = _mm256_or_si256(
          _mm256_and_si256(_mm256_srli_epi32(bits, kDuboisStepShift), steps), start_unit);
      const __m256i value =
          _mm256_madd_epi16(pieces(_mm256_srli_epi32(bits, kDuboisPieceShift)), step);
      pixel = _mm256_or_si256(pixel,
                              _mm256_srl_epi32(_mm256_and_si256(value, byte),
                                               _mm_cvtsi32_si128(8 * static_cast<int32_t>(row))));
    }
    Store(out + i, pixel);
  }
  DuboisScalar(left + i, right + i, out + i, count - i);
}

void HalveColumns(const uint32_t* row, int32_t width, int32_t count, uint32_t* out) {
  int32_t x = 0;
  for (; x + 8 <= count && 2 * x + 16 <= width; x += 8) {
    const __m256 a = _mm256_castsi256_ps(Load(row + 2 * x));
    const __m256 b = _mm256_castsi256_ps(Load(row + 2 * x + 8));
    // Within each 128-bit half: pixels 0, 2 of a then 0, 2 of b; the quarters put in order.
    const __m256i even = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0)));
    const __m256i odd = _mm256_castps_si256(_mm256_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1)));
    Store(out + x, _mm256_permute4x64_epi64(_mm256_avg_epu8(even, odd), _MM_SHUFFLE(3, 1, 2, 0)));
  }
  HalveColumnsScalar(row + 2 * x, width - 2 * x, count - x, out + x);
}

void AverageRows(const uint32_t* a, const uint32_t* b, uint32_t* out, int64_t count) {
  int64_t i = 0;
  for (; i + 8 <= count; i += 8) Store(out + i, _mm256_avg_epu8(Load(a + i), Load(b + i)));
  AverageRowsScalar(a + i, b + i, out + i, count - i);
}

}  // namespace

LayoutKernels Avx2LayoutKernels() {
  return {StereoViews,          Dubois,       ColourAnaglyph<false>,
          ColourAnaglyph<true>, HalveColumns, AverageRows};
}

}  // namespace zqr::frames
