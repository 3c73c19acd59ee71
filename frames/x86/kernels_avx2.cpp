// AVX2 kernels: the SSE2 ones on 256-bit registers, plus gathers for the 3D Depth
// displacement. Built with -mavx2; installed only after a run-time check of the CPU.
#include <immintrin.h>

#include <algorithm>

#include "frames/brightness_contrast.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "frames/x86/kernels_x86.h"
#include "frames/x86/smooth_ymm.h"
#include "frames/yuv420.h"

namespace zqr::frames {

namespace {

using ymm::Load;
using ymm::Store;
// A store of the stereo output: past the cache when asked and aligned for it.
void StoreOut(uint32_t* p, __m256i v, bool stream) {
  if (stream && (reinterpret_cast<uintptr_t>(p) & 31) == 0) {
    _mm256_stream_si256(reinterpret_cast<__m256i*>(p), v);
  } else {
    Store(p, v);
  }
}
// Unpacking and packing both work within each 128-bit half, so Lo/Hi followed by packus
// gives the pixels back in order: Lo holds pixels 0, 1, 4, 5 and Hi pixels 2, 3, 6, 7.
__m256i Lo(__m256i v) {
  return _mm256_unpacklo_epi8(v, _mm256_setzero_si256());
}
__m256i Hi(__m256i v) {
  return _mm256_unpackhi_epi8(v, _mm256_setzero_si256());
}

// Smoothing (frames/x86/smooth_ymm.h), each block's chain right after its sums.
void SmoothRangeFrom(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                     int64_t end) {
  smooth_ymm::SmoothRangeFrom<false>(src, frame, width, begin, end);
}

void SmoothRange(uint32_t* frame, int32_t width, int64_t begin, int64_t end) {
  SmoothRangeFrom(frame, frame, width, begin, end);
}

void BrightnessContrast(uint32_t* frame, int64_t count, const BrightnessContrastParams& params) {
  const __m256i up = _mm256_set1_epi8(static_cast<char>(params.offset > 0 ? params.offset : 0));
  const __m256i down = _mm256_set1_epi8(static_cast<char>(params.offset < 0 ? -params.offset : 0));
  const __m256i pivot = _mm256_set1_epi64x(0x0000008000800080LL);
  const __m256i colour = _mm256_set1_epi64x(0x0000FFFFFFFFFFFFLL);
  const __m256i contrast = _mm256_set1_epi16(static_cast<int16_t>(params.contrast));
  auto scale = [&](__m256i v) {
    const __m256i product = _mm256_mullo_epi16(_mm256_sub_epi16(v, pivot), contrast);
    const __m256i shifted =
        _mm256_or_si256(_mm256_and_si256(colour, _mm256_srai_epi16(product, 7)),
                        _mm256_andnot_si256(colour, _mm256_srli_epi16(product, 7)));
    return _mm256_add_epi16(shifted, pivot);
  };
  int64_t i = 0;
  for (; i + 8 <= count; i += 8) {
    __m256i v = Load(frame + i);
    if (params.brightness_on) v = _mm256_subs_epu8(_mm256_adds_epu8(v, up), down);
    if (params.contrast_on) v = _mm256_packus_epi16(scale(Lo(v)), scale(Hi(v)));
    Store(frame + i, v);
  }
  BrightnessContrastScalar(frame + i, count - i, params);
}

// floor((a + b) / 2) for each byte: the rounded-up average less the bit it added.
__m256i HalfSum(__m256i a, __m256i b) {
  return _mm256_sub_epi8(_mm256_avg_epu8(a, b),
                         _mm256_and_si256(_mm256_xor_si256(a, b), _mm256_set1_epi8(1)));
}

// Sharpen with byte-pair products: maddubs multiplies interleaved unsigned bytes by signed
// byte weights and adds each pair into a 16-bit lane, so (4a + 1) o - a (l + r + u + d)
// takes three of them per half and no widening of its own; packus clamps it to 0..255
// exactly as the plain kernel, and (s + (2^r - 1) o) >> r is one more product per half.
// Every sum stays far inside 16 bits (at most 21 x 255), so no product saturates.
void SharpenRange(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin, int64_t end,
                  int32_t amount, int32_t radius) {
  const int64_t w = width;
  const int32_t shift = (radius >= 0 && radius <= 2) ? radius : 3;
  auto pair = [](int32_t first, int32_t second) {
    return _mm256_set1_epi16(static_cast<int16_t>((first & 0xFF) | ((second & 0xFF) << 8)));
  };
  const __m256i centre_left = pair(4 * amount + 1, -amount);
  const __m256i sides = pair(-amount, -amount);
  const __m256i last = pair(-amount, 0);
  const __m256i blend = pair(1, (1 << shift) - 1);
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m256i zero = _mm256_setzero_si256();
  int64_t i = begin;
  for (; i + 8 <= end; i += 8) {
    PrefetchPixels(dst + i);
    __m256i o = Load(src + i);
    __m256i l = Load(src + i - 1);
    __m256i r = Load(src + i + 1);
    __m256i u = Load(src + i - w);
    __m256i d = Load(src + i + w);
    KeepLoaded(o, l, r, u, d);
    const __m256i s_lo = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(o, l), centre_left),
                         _mm256_maddubs_epi16(_mm256_unpacklo_epi8(r, u), sides)),
        _mm256_maddubs_epi16(_mm256_unpacklo_epi8(d, zero), last));
    const __m256i s_hi = _mm256_add_epi16(
        _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(o, l), centre_left),
                         _mm256_maddubs_epi16(_mm256_unpackhi_epi8(r, u), sides)),
        _mm256_maddubs_epi16(_mm256_unpackhi_epi8(d, zero), last));
    const __m256i s = _mm256_packus_epi16(s_lo, s_hi);
    if (shift == 0) {
      Store(dst + i, s);
      continue;
    }
    if (shift <= 2) {
      // (s + o) >> 1 and (s + 3o) >> 2 = ((s + o) >> 1 + o) >> 1, on the bytes themselves.
      const __m256i q = HalfSum(s, o);
      Store(dst + i, shift == 1 ? q : HalfSum(q, o));
      continue;
    }
    const __m256i q_lo =
        _mm256_srl_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(s, o), blend), count);
    const __m256i q_hi =
        _mm256_srl_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(s, o), blend), count);
    Store(dst + i, _mm256_packus_epi16(q_lo, q_hi));
  }
  SharpenRangeScalar(src, dst, width, i, end, amount, radius);
}

// Displacement of eight pixels: round(byte x k) in single precision (the conversion rounds
// to nearest, ties to even, as the plain kernel's nearbyint), 0 outside the rows that
// the displacement covers.
__m256i Displacement(__m256i byte, __m256 k, __m256i index, __m256i first, __m256i past) {
  const __m256i moved = _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(byte), k));
  const __m256i inside =
      _mm256_andnot_si256(_mm256_cmpgt_epi32(first, index), _mm256_cmpgt_epi32(past, index));
  return _mm256_and_si256(moved, inside);
}

// Pixels p[lane + offset[lane]] for offsets 0..23, from the 24 pixels at p: three
// in-register permutes and two blends instead of a gather, which is several times slower.
__m256i Pick24(const uint32_t* p, __m256i offset) {
  const __m256i a = _mm256_permutevar8x32_epi32(Load(p), offset);
  const __m256i b = _mm256_permutevar8x32_epi32(Load(p + 8), offset);
  const __m256i c = _mm256_permutevar8x32_epi32(Load(p + 16), offset);
  const __m256i ab = _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi32(offset, _mm256_set1_epi32(7)));
  return _mm256_blendv_epi8(ab, c, _mm256_cmpgt_epi32(offset, _mm256_set1_epi32(15)));
}

// The 3D Depth merge of pixels [i, end) while no displacement exceeds 8 pixels: the
// sources lie within 16 pixels, two permutes and a blend per view. Blocks whose eight
// pixels and eight targets all lie in the displaced rows need no masks (the usual case:
// all but the first and last row of the frame). Returns where it stopped.
int64_t StereoDepthWithin8(const StereoPassArgs& args, int64_t i, int64_t end) {
  const __m256i low = _mm256_set1_epi32(static_cast<int32_t>(kLowHalf));
  const __m256 k = _mm256_set1_ps(args.displacement_factor);
  const __m256i first = _mm256_set1_epi32(args.width);  // first displaced pixel
  const __m256i past = _mm256_set1_epi32(static_cast<int32_t>(args.picture - args.width));
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i shift = _mm256_set1_epi32(args.shift);
  const int64_t inside_begin = std::max(args.width, args.width - args.shift);
  const int64_t inside_end =
      std::min(args.picture - args.width, args.picture - args.width - args.shift) - 8;
  const __m256i eight = _mm256_set1_epi32(8);
  const __m256i red_byte =
      _mm256_setr_epi8(2, -1, -1, -1, 6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1, 2, -1, -1, -1,
                       6, -1, -1, -1, 10, -1, -1, -1, 14, -1, -1, -1);
  const __m256i green_byte =
      _mm256_setr_epi8(1, -1, -1, -1, 5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1, 1, -1, -1, -1,
                       5, -1, -1, -1, 9, -1, -1, -1, 13, -1, -1, -1);
  auto moved = [&](__m256i value) {
    return _mm256_cvtps_epi32(_mm256_mul_ps(_mm256_cvtepi32_ps(value), k));
  };
  auto pick16 = [](const uint32_t* p, __m256i offset) {
    const __m256i a = _mm256_permutevar8x32_epi32(Load(p), offset);
    const __m256i b = _mm256_permutevar8x32_epi32(Load(p + 8), offset);
    return _mm256_blendv_epi8(a, b, _mm256_cmpgt_epi32(offset, _mm256_set1_epi32(7)));
  };
  for (; i + 8 <= end; i += 8) {
    PrefetchPixels(args.second + i);
    __m256i dr = moved(_mm256_shuffle_epi8(Load(args.current + i), red_byte));
    __m256i dg = moved(_mm256_shuffle_epi8(Load(args.current + i + args.shift), green_byte));
    if (i < inside_begin || i > inside_end) {
      const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(i)), lanes);
      const __m256i target = _mm256_add_epi32(index, shift);
      auto inside = [&](__m256i at) {
        return _mm256_andnot_si256(_mm256_cmpgt_epi32(first, at), _mm256_cmpgt_epi32(past, at));
      };
      dr = _mm256_and_si256(dr, inside(index));
      dg = _mm256_and_si256(dg, inside(target));
    }
    const __m256i view1 = pick16(args.current + i, _mm256_add_epi32(lanes, dr));
    const __m256i view2 = pick16(args.second + i + args.shift - 8,
                                 _mm256_sub_epi32(_mm256_add_epi32(lanes, eight), dg));
    StoreOut(args.out + i,
             _mm256_or_si256(_mm256_and_si256(view1, low), _mm256_andnot_si256(low, view2)),
             args.stream_out);
  }
  return i;
}

void StereoRange(const StereoPassArgs& args, int64_t range_begin, int64_t range_end) {
  const int64_t begin = std::clamp(kStereoMergeStart, range_begin, range_end);
  const int64_t end =
      std::clamp(std::min(args.picture + kStereoMergeStart, args.total), begin, range_end);
  const __m256i low = _mm256_set1_epi32(static_cast<int32_t>(kLowHalf));
  StereoPassScalarRange(args, range_begin, begin);
  int64_t i = begin;
  if (!args.displacement) {
    for (; i + 8 <= end; i += 8) {
      PrefetchPixels(args.second + i);
      const __m256i own = Load(args.current + i);
      const __m256i other = Load(args.second + i + args.shift);
      StoreOut(args.out + i,
               _mm256_or_si256(_mm256_and_si256(own, low), _mm256_andnot_si256(low, other)),
               args.stream_out);
    }
  } else {
    const __m256 k = _mm256_set1_ps(args.displacement_factor);
    const __m256i byte = _mm256_set1_epi32(0xFF);
    const __m256i first = _mm256_set1_epi32(args.width);  // first displaced pixel
    const __m256i past = _mm256_set1_epi32(static_cast<int32_t>(args.picture - args.width));
    const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
    const __m256i shift = _mm256_set1_epi32(args.shift);
    const int* current = reinterpret_cast<const int*>(args.current);
    const int* second = reinterpret_cast<const int*>(args.second);
    // Displacements grow with the byte, so 255 gives the largest. Up to 16 pixels the
    // sources of eight pixels lie within 24 pixels and permutes replace the gathers.
    const int32_t reach = ColourDisplacement(255, args.displacement_factor);
    if (reach <= 8) i = StereoDepthWithin8(args, i, end);
    if (reach <= 16) {
      const __m256i sixteen = _mm256_set1_epi32(16);
      for (; i + 8 <= end; i += 8) {
        PrefetchPixels(args.second + i);
        const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(i)), lanes);
        const __m256i own = Load(args.current + i);
        const __m256i red = _mm256_and_si256(_mm256_srli_epi32(own, 16), byte);
        const __m256i dr = Displacement(red, k, index, first, past);
        const __m256i view1 = Pick24(args.current + i, _mm256_add_epi32(lanes, dr));
        const __m256i target = _mm256_add_epi32(index, shift);
        const __m256i at_target = Load(args.current + i + args.shift);
        const __m256i green = _mm256_and_si256(_mm256_srli_epi32(at_target, 8), byte);
        const __m256i dg = Displacement(green, k, target, first, past);
        const __m256i view2 = Pick24(args.second + i + args.shift - 16,
                                     _mm256_sub_epi32(_mm256_add_epi32(lanes, sixteen), dg));
        StoreOut(args.out + i,
                 _mm256_or_si256(_mm256_and_si256(view1, low), _mm256_andnot_si256(low, view2)),
                 args.stream_out);
      }
    }
    for (; i + 8 <= end; i += 8) {
      PrefetchPixels(args.second + i);
      const __m256i index = _mm256_add_epi32(_mm256_set1_epi32(static_cast<int32_t>(i)), lanes);
      const __m256i own = Load(args.current + i);
      const __m256i red = _mm256_and_si256(_mm256_srli_epi32(own, 16), byte);
      const __m256i dr = Displacement(red, k, index, first, past);
      const __m256i view1 = _mm256_i32gather_epi32(current, _mm256_add_epi32(index, dr), 4);
      const __m256i target = _mm256_add_epi32(index, shift);
      const __m256i at_target = Load(args.current + i + args.shift);
      const __m256i green = _mm256_and_si256(_mm256_srli_epi32(at_target, 8), byte);
      const __m256i dg = Displacement(green, k, target, first, past);
      const __m256i view2 = _mm256_i32gather_epi32(second, _mm256_sub_epi32(target, dg), 4);
      StoreOut(args.out + i,
               _mm256_or_si256(_mm256_and_si256(view1, low), _mm256_andnot_si256(low, view2)),
               args.stream_out);
    }
  }
  StereoPassScalarRange(args, i, range_end);
}

void StereoPass(const StereoPassArgs& args) {
  StereoRange(args, 0, args.total);
}

// A pair of 16-bit coefficients in every 32-bit lane.
__m256i CoefficientPair(int32_t low, int32_t high) {
  return _mm256_set1_epi32(
      static_cast<int32_t>(static_cast<uint32_t>(high) << 16 | static_cast<uint16_t>(low)));
}

// 4:2:0 over 32 pixels of each line at a time. A mask and a shift split each pixel into
// the 16-bit words (B, R) and (G, A), so madd against (B, R) and (G, 0) coefficients gives
// each pixel's 32-bit sum in place. The chroma blocks are summed first in those words (at
// most 1020, never carrying into the next word, so 32-bit adds serve), then take the same
// products; as the scalar code, the same rounding and arithmetic shifts.
void Yuv420RowPair(const uint8_t* upper, const uint8_t* lower, int32_t pairs, uint8_t* luma_upper,
                   uint8_t* luma_lower, uint8_t* blue_diff, uint8_t* red_diff) {
  constexpr int32_t kChromaShift = kYuvShift + 2;
  const __m256i words = _mm256_set1_epi32(0x00FF00FF);
  const __m256i luma_br = CoefficientPair(kLumaB, kLumaR), luma_g = CoefficientPair(kLumaG, 0);
  const __m256i blue_br = CoefficientPair(kBlueDiffB, kBlueDiffR);
  const __m256i blue_g = CoefficientPair(kBlueDiffG, 0);
  const __m256i red_br = CoefficientPair(kRedDiffB, kRedDiffR);
  const __m256i red_g = CoefficientPair(kRedDiffG, 0);
  const __m256i luma_round = _mm256_set1_epi32((16 << kYuvShift) + (1 << (kYuvShift - 1)));
  const __m256i chroma_round = _mm256_set1_epi32((128 << kChromaShift) + (1 << (kChromaShift - 1)));
  // The packs work within 128-bit halves: luma comes out as pixels 0-3, 8-11, 16-19, 24-27 |
  // 4-7, 12-15, 20-23, 28-31; chroma, after a permute, with blue in the low half and red in
  // the high one, each as blocks 0, 1, 4, 5, 8, 9, 12, 13, 2, 3, 6, 7, 10, 11, 14, 15.
  const __m256i luma_order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  const __m256i chroma_order =
      _mm256_setr_epi8(0, 1, 8, 9, 2, 3, 10, 11, 4, 5, 12, 13, 6, 7, 14, 15, 0, 1, 8, 9, 2, 3, 10,
                       11, 4, 5, 12, 13, 6, 7, 14, 15);
  auto scaled = [](__m256i br, __m256i g, __m256i br_coefficients, __m256i g_coefficients,
                   __m256i round, int32_t shift) {
    const __m256i sum = _mm256_add_epi32(_mm256_madd_epi16(br, br_coefficients),
                                         _mm256_madd_epi16(g, g_coefficients));
    return _mm256_srai_epi32(_mm256_add_epi32(sum, round), shift);
  };
  int32_t k = 0;
  for (; k + 16 <= pairs; k += 16) {
    const __m256i* a = reinterpret_cast<const __m256i*>(upper + 8 * k);
    const __m256i* b = reinterpret_cast<const __m256i*>(lower + 8 * k);
    __m256i luma_a[4], luma_b[4], br[4], g[4];
    for (int j = 0; j < 4; ++j) {
      const __m256i u = _mm256_loadu_si256(a + j);
      const __m256i l = _mm256_loadu_si256(b + j);
      const __m256i br_u = _mm256_and_si256(u, words), g_u = _mm256_srli_epi16(u, 8);
      const __m256i br_l = _mm256_and_si256(l, words), g_l = _mm256_srli_epi16(l, 8);
      luma_a[j] = scaled(br_u, g_u, luma_br, luma_g, luma_round, kYuvShift);
      luma_b[j] = scaled(br_l, g_l, luma_br, luma_g, luma_round, kYuvShift);
      br[j] = _mm256_add_epi32(br_u, br_l);
      g[j] = _mm256_add_epi32(g_u, g_l);
    }
    auto luma_bytes = [&](const __m256i* luma) {
      const __m256i bytes = _mm256_packus_epi16(_mm256_packs_epi32(luma[0], luma[1]),
                                                _mm256_packs_epi32(luma[2], luma[3]));
      return _mm256_permutevar8x32_epi32(bytes, luma_order);
    };
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma_upper + 2 * k), luma_bytes(luma_a));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(luma_lower + 2 * k), luma_bytes(luma_b));
    // Blocks 0, 1, 4, 5 | 2, 3, 6, 7 and 8, 9, 12, 13 | 10, 11, 14, 15.
    const __m256i br_low = _mm256_hadd_epi32(br[0], br[1]), g_low = _mm256_hadd_epi32(g[0], g[1]);
    const __m256i br_high = _mm256_hadd_epi32(br[2], br[3]), g_high = _mm256_hadd_epi32(g[2], g[3]);
    const __m256i blue =
        _mm256_packs_epi32(scaled(br_low, g_low, blue_br, blue_g, chroma_round, kChromaShift),
                           scaled(br_high, g_high, blue_br, blue_g, chroma_round, kChromaShift));
    const __m256i red =
        _mm256_packs_epi32(scaled(br_low, g_low, red_br, red_g, chroma_round, kChromaShift),
                           scaled(br_high, g_high, red_br, red_g, chroma_round, kChromaShift));
    const __m256i bytes = _mm256_permute4x64_epi64(_mm256_packus_epi16(blue, red), 0xD8);
    const __m256i ordered = _mm256_shuffle_epi8(bytes, chroma_order);
    _mm_storeu_si128(reinterpret_cast<__m128i*>(blue_diff + k), _mm256_castsi256_si128(ordered));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(red_diff + k),
                     _mm256_extracti128_si256(ordered, 1));
  }
  Yuv420RowPairScalar(upper + 8 * k, lower + 8 * k, pairs - k, luma_upper + 2 * k,
                      luma_lower + 2 * k, blue_diff + k, red_diff + k);
}

}  // namespace

void Avx2StereoRange(const StereoPassArgs& args, int64_t range_begin, int64_t range_end) {
  StereoRange(args, range_begin, range_end);
}

void Avx2SharpenRange(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin, int64_t end,
                      int32_t amount, int32_t radius) {
  SharpenRange(src, dst, width, begin, end, amount, radius);
}

FrameKernels Avx2Kernels() {
  return {SmoothRange,
          SmoothRangeFrom,
          BrightnessContrast,
          SharpenRowsBy<SharpenRange>,
          StereoPass,
          SharpenRange,
          StereoRange,
          StreamFence,
          Yuv420RowPair,
          Avx2LayoutKernels(),
          "avx2"};
}

}  // namespace zqr::frames
