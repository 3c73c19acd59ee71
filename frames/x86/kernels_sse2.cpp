// SSE2 kernels, the x86-64 baseline: four bytes of a pixel in 16-bit lanes, two pixels
// per register.
#include <emmintrin.h>

#include <algorithm>
#include <cstdint>

#include "frames/brightness_contrast.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "frames/x86/kernels_x86.h"
#include "frames/yuv420.h"

namespace zqr::frames {

namespace {

using xmm::Load;
using xmm::Store;
// A store of the stereo output: past the cache when asked and aligned for it.
void StoreOut(uint32_t* p, __m128i v, bool stream) {
  if (stream && (reinterpret_cast<uintptr_t>(p) & 15) == 0) {
    _mm_stream_si128(reinterpret_cast<__m128i*>(p), v);
  } else {
    Store(p, v);
  }
}
__m128i Lo(__m128i v) {
  return _mm_unpacklo_epi8(v, _mm_setzero_si128());
}
__m128i Hi(__m128i v) {
  return _mm_unpackhi_epi8(v, _mm_setzero_si128());
}

// Smoothing. Pixel i of a pass is x_i = (P_i + x_{i-1}) >> 3, P_i being the seven samples
// other than i - 1. Only x_{i-1} is serial; the sums P come four pixels at a time. The
// chain is halved by taking two steps at once: floor((P_i + floor((P_{i-1} + x_{i-2}) / 8)) / 8)
// = floor((8 P_i + P_{i-1} + x_{i-2}) / 64), so with Q_i = 8 P_i + P_{i-1} (at most 16 065)
// pixels i and i + 1 follow from i - 2 and i - 1 by one add and one shift in 16-bit lanes.
// `src` holds the pixels not yet replaced: `frame` itself, or the frame being copied.
void SmoothRangeFrom(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                     int64_t end) {
  const int64_t w = width;
  if (width < kMinVectorWidth) return SmoothRangeFromScalar(src, frame, width, begin, end);
  // Chain state before the first pixel: x_{begin-2}, x_{begin-1} (already final), and a
  // stand-in for P_{begin-1} that makes Q_begin + x_{begin-2} = 8 (P_begin + x_{begin-1}).
  __m128i x_prev = Lo(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame + begin - 2)));
  const __m128i x_last = _mm_srli_si128(x_prev, 8);
  __m128i p_prev = _mm_slli_si128(_mm_sub_epi16(_mm_slli_epi16(x_last, 3), x_prev), 8);
  int64_t j = begin;
  for (; j + 4 <= end; j += 4) {
    PrefetchPixels(src + j + w);
    PrefetchPixels(frame + j);
    const __m128i a = Load(src + j);            // old i
    const __m128i b = Load(src + j + 1);        // old i + 1
    const __m128i c = Load(frame + j - w);      // new i - W
    const __m128i d = Load(frame + j - w + 1);  // new i - W + 1
    const __m128i e = Load(src + j + w - 1);    // old row after
    const __m128i f = Load(src + j + w);
    const __m128i g = Load(src + j + w + 1);
    const __m128i p01 =
        _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(Lo(a), Lo(b)), _mm_add_epi16(Lo(c), Lo(d))),
                      _mm_add_epi16(_mm_add_epi16(Lo(e), Lo(f)), Lo(g)));
    const __m128i p23 =
        _mm_add_epi16(_mm_add_epi16(_mm_add_epi16(Hi(a), Hi(b)), _mm_add_epi16(Hi(c), Hi(d))),
                      _mm_add_epi16(_mm_add_epi16(Hi(e), Hi(f)), Hi(g)));
    // P_{i-1} beside each P_i: the previous register's upper pixel, then our lower one.
    const __m128i before01 = _mm_or_si128(_mm_srli_si128(p_prev, 8), _mm_slli_si128(p01, 8));
    const __m128i before23 = _mm_or_si128(_mm_srli_si128(p01, 8), _mm_slli_si128(p23, 8));
    const __m128i q01 = _mm_add_epi16(_mm_slli_epi16(p01, 3), before01);
    const __m128i q23 = _mm_add_epi16(_mm_slli_epi16(p23, 3), before23);
    p_prev = p23;
    const __m128i x01 = _mm_srli_epi16(_mm_add_epi16(q01, x_prev), 6);
    const __m128i x23 = _mm_srli_epi16(_mm_add_epi16(q23, x01), 6);
    x_prev = x23;
    Store(frame + j, _mm_packus_epi16(x01, x23));
  }
  SmoothRangeFromScalar(src, frame, width, j, end);
}

void SmoothRange(uint32_t* frame, int32_t width, int64_t begin, int64_t end) {
  SmoothRangeFrom(frame, frame, width, begin, end);
}

void BrightnessContrast(uint32_t* frame, int64_t count, const BrightnessContrastParams& params) {
  const __m128i up = _mm_set1_epi8(static_cast<char>(params.offset > 0 ? params.offset : 0));
  const __m128i down = _mm_set1_epi8(static_cast<char>(params.offset < 0 ? -params.offset : 0));
  // Colour lanes pivot on 128 and shift arithmetically; the fourth byte has no pivot and
  // its product (up to 65 025) is shifted as unsigned.
  const __m128i pivot = _mm_set_epi16(0, 128, 128, 128, 0, 128, 128, 128);
  const __m128i colour = _mm_set_epi16(0, -1, -1, -1, 0, -1, -1, -1);
  const __m128i contrast = _mm_set1_epi16(static_cast<int16_t>(params.contrast));
  auto scale = [&](__m128i v) {
    const __m128i product = _mm_mullo_epi16(_mm_sub_epi16(v, pivot), contrast);
    const __m128i shifted = _mm_or_si128(_mm_and_si128(colour, _mm_srai_epi16(product, 7)),
                                         _mm_andnot_si128(colour, _mm_srli_epi16(product, 7)));
    return _mm_add_epi16(shifted, pivot);
  };
  int64_t i = 0;
  for (; i + 4 <= count; i += 4) {
    __m128i v = Load(frame + i);
    if (params.brightness_on) v = _mm_subs_epu8(_mm_adds_epu8(v, up), down);
    if (params.contrast_on) v = _mm_packus_epi16(scale(Lo(v)), scale(Hi(v)));
    Store(frame + i, v);
  }
  BrightnessContrastScalar(frame + i, count - i, params);
}

void SharpenRange(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin, int64_t end,
                  int32_t amount, int32_t radius) {
  const int64_t w = width;
  const int32_t shift = (radius >= 0 && radius <= 2) ? radius : 3;
  const __m128i centre = _mm_set1_epi16(static_cast<int16_t>(4 * amount + 1));
  const __m128i side = _mm_set1_epi16(static_cast<int16_t>(amount));
  const __m128i keep = _mm_set1_epi16(static_cast<int16_t>((1 << shift) - 1));
  const __m128i count = _mm_cvtsi32_si128(shift);
  const __m128i zero = _mm_setzero_si128();
  const __m128i full = _mm_set1_epi16(255);
  auto half = [&](__m128i o, __m128i n) {
    __m128i s = _mm_sub_epi16(_mm_mullo_epi16(o, centre), _mm_mullo_epi16(n, side));
    s = _mm_min_epi16(_mm_max_epi16(s, zero), full);
    return _mm_srl_epi16(_mm_add_epi16(s, _mm_mullo_epi16(o, keep)), count);
  };
  int64_t i = begin;
  for (; i + 4 <= end; i += 4) {
    PrefetchPixels(dst + i);
    const __m128i o = Load(src + i);
    const __m128i l = Load(src + i - 1);
    const __m128i r = Load(src + i + 1);
    const __m128i u = Load(src + i - w);
    const __m128i d = Load(src + i + w);
    const __m128i n_lo = _mm_add_epi16(_mm_add_epi16(Lo(l), Lo(r)), _mm_add_epi16(Lo(u), Lo(d)));
    const __m128i n_hi = _mm_add_epi16(_mm_add_epi16(Hi(l), Hi(r)), _mm_add_epi16(Hi(u), Hi(d)));
    Store(dst + i, _mm_packus_epi16(half(Lo(o), n_lo), half(Hi(o), n_hi)));
  }
  SharpenRangeScalar(src, dst, width, i, end, amount, radius);
}

// The merge without displacement in vectors; with 3D Depth the baseline keeps the plain
// kernel (no gather before AVX2).
void StereoRange(const StereoPassArgs& args, int64_t range_begin, int64_t range_end) {
  if (args.displacement) return StereoPassScalarRange(args, range_begin, range_end);
  const int64_t begin = std::clamp(kStereoMergeStart, range_begin, range_end);
  const int64_t end =
      std::clamp(std::min(args.picture + kStereoMergeStart, args.total), begin, range_end);
  const __m128i low = _mm_set1_epi32(static_cast<int32_t>(kLowHalf));
  StereoPassScalarRange(args, range_begin, begin);
  int64_t i = begin;
  for (; i + 4 <= end; i += 4) {
    PrefetchPixels(args.second + i);
    const __m128i own = Load(args.current + i);
    const __m128i other = Load(args.second + i + args.shift);
    StoreOut(args.out + i, _mm_or_si128(_mm_and_si128(own, low), _mm_andnot_si128(low, other)),
             args.stream_out);
  }
  StereoPassScalarRange(args, i, range_end);
}

void StereoPass(const StereoPassArgs& args) {
  StereoRange(args, 0, args.total);
}

// 4:2:0 over 16 pixels of each line at a time, as the AVX2 kernel does it: (B, R) and
// (G, A) words by a mask and a shift, madd against their coefficients, the 2 x 2 sums
// formed in those words before the products. Without lanes to cross, the packs come out in
// order.
void Yuv420RowPair(const uint8_t* upper, const uint8_t* lower, int32_t pairs, uint8_t* luma_upper,
                   uint8_t* luma_lower, uint8_t* blue_diff, uint8_t* red_diff) {
  constexpr int32_t kChromaShift = kYuvShift + 2;
  auto pair = [](int32_t low, int32_t high) {
    return _mm_set1_epi32(
        static_cast<int32_t>(static_cast<uint32_t>(high) << 16 | static_cast<uint16_t>(low)));
  };
  const __m128i words = _mm_set1_epi32(0x00FF00FF);
  const __m128i luma_br = pair(kLumaB, kLumaR), luma_g = pair(kLumaG, 0);
  const __m128i blue_br = pair(kBlueDiffB, kBlueDiffR), blue_g = pair(kBlueDiffG, 0);
  const __m128i red_br = pair(kRedDiffB, kRedDiffR), red_g = pair(kRedDiffG, 0);
  const __m128i luma_round = _mm_set1_epi32((16 << kYuvShift) + (1 << (kYuvShift - 1)));
  const __m128i chroma_round = _mm_set1_epi32((128 << kChromaShift) + (1 << (kChromaShift - 1)));
  auto scaled = [](__m128i br, __m128i g, __m128i br_coefficients, __m128i g_coefficients,
                   __m128i round, int32_t shift) {
    const __m128i sum =
        _mm_add_epi32(_mm_madd_epi16(br, br_coefficients), _mm_madd_epi16(g, g_coefficients));
    return _mm_srai_epi32(_mm_add_epi32(sum, round), shift);
  };
  // Pixels 0 + 1 and 2 + 3 of `first`, then of `second`.
  auto across = [](__m128i first, __m128i second) {
    const __m128 a = _mm_castsi128_ps(first), b = _mm_castsi128_ps(second);
    return _mm_add_epi32(_mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(2, 0, 2, 0))),
                         _mm_castps_si128(_mm_shuffle_ps(a, b, _MM_SHUFFLE(3, 1, 3, 1))));
  };
  int32_t k = 0;
  for (; k + 8 <= pairs; k += 8) {
    const __m128i* a = reinterpret_cast<const __m128i*>(upper + 8 * k);
    const __m128i* b = reinterpret_cast<const __m128i*>(lower + 8 * k);
    __m128i luma_a[4], luma_b[4], br[4], g[4];
    for (int j = 0; j < 4; ++j) {
      const __m128i u = _mm_loadu_si128(a + j);
      const __m128i l = _mm_loadu_si128(b + j);
      const __m128i br_u = _mm_and_si128(u, words), g_u = _mm_srli_epi16(u, 8);
      const __m128i br_l = _mm_and_si128(l, words), g_l = _mm_srli_epi16(l, 8);
      luma_a[j] = scaled(br_u, g_u, luma_br, luma_g, luma_round, kYuvShift);
      luma_b[j] = scaled(br_l, g_l, luma_br, luma_g, luma_round, kYuvShift);
      br[j] = _mm_add_epi32(br_u, br_l);
      g[j] = _mm_add_epi32(g_u, g_l);
    }
    auto luma_bytes = [](const __m128i* luma) {
      return _mm_packus_epi16(_mm_packs_epi32(luma[0], luma[1]), _mm_packs_epi32(luma[2], luma[3]));
    };
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma_upper + 2 * k), luma_bytes(luma_a));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(luma_lower + 2 * k), luma_bytes(luma_b));
    const __m128i br_low = across(br[0], br[1]), g_low = across(g[0], g[1]);
    const __m128i br_high = across(br[2], br[3]), g_high = across(g[2], g[3]);
    const __m128i blue =
        _mm_packs_epi32(scaled(br_low, g_low, blue_br, blue_g, chroma_round, kChromaShift),
                        scaled(br_high, g_high, blue_br, blue_g, chroma_round, kChromaShift));
    const __m128i red =
        _mm_packs_epi32(scaled(br_low, g_low, red_br, red_g, chroma_round, kChromaShift),
                        scaled(br_high, g_high, red_br, red_g, chroma_round, kChromaShift));
    const __m128i bytes = _mm_packus_epi16(blue, red);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(blue_diff + k), bytes);
    _mm_storel_epi64(reinterpret_cast<__m128i*>(red_diff + k), _mm_srli_si128(bytes, 8));
  }
  Yuv420RowPairScalar(upper + 8 * k, lower + 8 * k, pairs - k, luma_upper + 2 * k,
                      luma_lower + 2 * k, blue_diff + k, red_diff + k);
}

}  // namespace

void StreamFence() {
  _mm_sfence();
}

FrameKernels Sse2Kernels() {
  return {SmoothRange,
          SmoothRangeFrom,
          BrightnessContrast,
          SharpenRowsBy<SharpenRange>,
          StereoPass,
          SharpenRange,
          StereoRange,
          StreamFence,
          Yuv420RowPair,
          Sse2LayoutKernels(),
          "sse2"};
}

}  // namespace zqr::frames
