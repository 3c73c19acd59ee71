// AVX-512 kernels: the AVX2 set with brightness/contrast and the 3D Depth displacement as
// table lookups, and sharpen on 512-bit registers. Both controls act on each byte on its
// own, so the whole adjustment is one table of 256 bytes for the colour bytes and one for
// the fourth byte, and a displacement is a table of the byte too; VBMI's two-register byte
// permute looks up 64 bytes at a time. Sharpen has no serial chain, so twice the pixels
// per instruction pay even where the core runs 512-bit operations in two halves (a quarter
// off the kernel on frames in the cache). The smoothing pass is the AVX2 set's 256-bit code
// built with these flags, whose 32 vector registers let it form the next block's sums
// before each block's chain. Built with the AVX-512 flags; installed only after a run-time
// check.
#include <immintrin.h>

#include <algorithm>
#include <array>
#include <cstdint>

#include "frames/brightness_contrast.h"
#include "frames/sharpen.h"
#include "frames/stereo.h"
#include "frames/x86/kernels_x86.h"
#include "frames/x86/smooth_ymm.h"
#include "frames/x86/views_zmm.h"

namespace zqr::frames {

namespace {

// The two tables of one setting, kept for the next call (the frame step calls once per
// strip with the same setting).
struct Tables {
  BrightnessContrastParams params;
  bool valid = false;
  alignas(64) std::array<uint8_t, 256> colour;
  alignas(64) std::array<uint8_t, 256> fourth;
};

bool SameParams(const BrightnessContrastParams& a, const BrightnessContrastParams& b) {
  return a.brightness_on == b.brightness_on && a.offset == b.offset &&
         a.contrast_on == b.contrast_on && a.contrast == b.contrast;
}

const Tables& TablesFor(const BrightnessContrastParams& params) {
  thread_local Tables tables;
  if (!tables.valid || !SameParams(tables.params, params)) {
    // The plain kernel itself fills the tables: pixel v holds v in all four bytes.
    std::array<uint32_t, 256> pixels;
    for (uint32_t v = 0; v < 256; ++v) pixels[v] = v * 0x01010101u;
    BrightnessContrastScalar(pixels.data(), 256, params);
    for (uint32_t v = 0; v < 256; ++v) {
      tables.colour[v] = static_cast<uint8_t>(pixels[v] & 0xFF);
      tables.fourth[v] = static_cast<uint8_t>(pixels[v] >> 24);
    }
    tables.params = params;
    tables.valid = true;
  }
  return tables;
}

void BrightnessContrast(uint32_t* frame, int64_t count, const BrightnessContrastParams& params) {
  const Tables& tables = TablesFor(params);
  __m512i colour[4];
  __m512i fourth[4];
  for (int k = 0; k < 4; ++k) {
    colour[k] = _mm512_load_si512(tables.colour.data() + 64 * k);
    fourth[k] = _mm512_load_si512(tables.fourth.data() + 64 * k);
  }
  const __mmask64 fourth_bytes = 0x8888888888888888ULL;
  int64_t i = 0;
  for (; i + 16 <= count; i += 16) {
    const __m512i v = _mm512_loadu_si512(frame + i);
    _mm512_storeu_si512(frame + i, _mm512_mask_blend_epi8(fourth_bytes, zmm::Lookup(v, colour),
                                                          zmm::Lookup(v, fourth)));
  }
  if (i < count) {
    const __mmask64 rest = (__mmask64{1} << (4 * (count - i))) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(rest, frame + i);
    _mm512_mask_storeu_epi8(
        frame + i, rest,
        _mm512_mask_blend_epi8(fourth_bytes, zmm::Lookup(v, colour), zmm::Lookup(v, fourth)));
  }
}

// Stereo with 3D Depth displacements of at most 8 pixels, sixteen pixels at a time: the
// displacement of every byte by a table lookup, and each view's sixteen sources, which lie
// within 24 pixels, by one two-register permute. `kStream` stores past the cache.
template <bool kStream>
int64_t StereoBlocks(const StereoPassArgs& args, const __m512i table[4], int64_t i, int64_t end) {
  const zmm::ViewConstants k(args.width, args.picture);
  const __m512i low = _mm512_set1_epi32(static_cast<int32_t>(kLowHalf));
  // Locals, so that the stores, which might alias the arguments for all the compiler knows,
  // do not make it read them again every block.
  const int64_t shift = args.shift;
  const uint32_t* const current = args.current;
  const uint32_t* const second = args.second;
  uint32_t* const out = args.out;
  // Blocks whose pixels and targets all lie in the displaced rows need no masks.
  const int64_t inside_begin = std::max<int64_t>(args.width, args.width - shift);
  const int64_t inside_end =
      std::min(args.picture - args.width, args.picture - args.width - shift) - 16;
  for (; i + 16 <= end; i += 16) {
    PrefetchPixels(second + i);
    const zmm::ViewPairZmm views =
        zmm::ViewBlock(k, table, current, second, i, shift, i < inside_begin || i > inside_end);
    // Blue and green of the first view, red and the fourth byte of the second.
    const __m512i merged = _mm512_ternarylogic_epi32(low, views.own, views.other, 0xCA);
    if constexpr (kStream) {
      _mm512_stream_si512(reinterpret_cast<__m512i*>(out + i), merged);
    } else {
      _mm512_storeu_si512(out + i, merged);
    }
  }
  return i;
}

void StereoRange(const StereoPassArgs& args, int64_t range_begin, int64_t range_end) {
  __m512i table[4];
  if (!args.displacement || zmm::DisplacementTableRegisters(args.displacement_table,
                                                            args.displacement_factor, table) > 8) {
    return Avx2StereoRange(args, range_begin, range_end);
  }
  const int64_t begin = std::clamp(kStereoMergeStart, range_begin, range_end);
  const int64_t end =
      std::clamp(std::min(args.picture + kStereoMergeStart, args.total), begin, range_end);
  Avx2StereoRange(args, range_begin, begin);
  int64_t i = begin;
  if (args.stream_out) {
    // Whole 64-byte lines past the cache: the pixels before the first line boundary by the
    // AVX2 kernel.
    const auto line_offset = static_cast<int64_t>(reinterpret_cast<uintptr_t>(args.out + i) & 63);
    const int64_t aligned = std::min(end, i + ((64 - line_offset) & 63) / 4);
    Avx2StereoRange(args, i, aligned);
    i = StereoBlocks<true>(args, table, aligned, end);
  } else {
    i = StereoBlocks<false>(args, table, i, end);
  }
  Avx2StereoRange(args, i, range_end);
}

void StereoPass(const StereoPassArgs& args) {
  StereoRange(args, 0, args.total);
}

// Sharpen as the AVX2 kernel does it (see there), sixteen pixels at a time; radius 1 and 2
// only, whose blend is one or two byte half-sums.
void SharpenRange(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin, int64_t end,
                  int32_t amount, int32_t radius) {
  if (radius != 1 && radius != 2) {
    return Avx2SharpenRange(src, dst, width, begin, end, amount, radius);
  }
  const int64_t w = width;
  auto pair = [](int32_t first, int32_t second) {
    return _mm512_set1_epi16(static_cast<int16_t>((first & 0xFF) | ((second & 0xFF) << 8)));
  };
  const __m512i centre_left = pair(4 * amount + 1, -amount);
  const __m512i sides = pair(-amount, -amount);
  const __m512i last = pair(-amount, 0);
  const __m512i zero = _mm512_setzero_si512();
  const __m512i ones = _mm512_set1_epi8(1);
  // floor((a + b) / 2): the rounded-up average less the bit it added ((a ^ b) & 1).
  auto half_sum = [&](__m512i a, __m512i b) {
    return _mm512_sub_epi8(_mm512_avg_epu8(a, b), _mm512_ternarylogic_epi32(a, b, ones, 0x28));
  };
  int64_t i = begin;
  for (; i + 16 <= end; i += 16) {
    PrefetchPixels(dst + i);
    __m512i o = _mm512_loadu_si512(src + i);
    __m512i l = _mm512_loadu_si512(src + i - 1);
    __m512i r = _mm512_loadu_si512(src + i + 1);
    __m512i u = _mm512_loadu_si512(src + i - w);
    __m512i d = _mm512_loadu_si512(src + i + w);
    KeepLoaded(o, l, r, u, d);
    const __m512i s_lo = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_maddubs_epi16(_mm512_unpacklo_epi8(o, l), centre_left),
                         _mm512_maddubs_epi16(_mm512_unpacklo_epi8(r, u), sides)),
        _mm512_maddubs_epi16(_mm512_unpacklo_epi8(d, zero), last));
    const __m512i s_hi = _mm512_add_epi16(
        _mm512_add_epi16(_mm512_maddubs_epi16(_mm512_unpackhi_epi8(o, l), centre_left),
                         _mm512_maddubs_epi16(_mm512_unpackhi_epi8(r, u), sides)),
        _mm512_maddubs_epi16(_mm512_unpackhi_epi8(d, zero), last));
    const __m512i q = half_sum(_mm512_packus_epi16(s_lo, s_hi), o);
    _mm512_storeu_si512(dst + i, radius == 1 ? q : half_sum(q, o));
  }
  Avx2SharpenRange(src, dst, width, i, end, amount, radius);
}

// Smoothing (frames/x86/smooth_ymm.h) with the next block's sums formed before each
// block's chain, which these flags' 32 vector registers hold without spilling.
void SmoothRangeFrom(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                     int64_t end) {
  smooth_ymm::SmoothRangeFrom<true>(src, frame, width, begin, end);
}

void SmoothRange(uint32_t* frame, int32_t width, int64_t begin, int64_t end) {
  SmoothRangeFrom(frame, frame, width, begin, end);
}

}  // namespace

FrameKernels Avx512Kernels() {
  FrameKernels kernels = Avx2Kernels();
  kernels.smooth_range = SmoothRange;
  kernels.smooth_range_from = SmoothRangeFrom;
  kernels.stereo_range = StereoRange;
  kernels.sharpen_range = SharpenRange;
  kernels.sharpen_rows = SharpenRowsBy<SharpenRange>;
  kernels.stereo_pass = StereoPass;
  kernels.brightness_contrast = BrightnessContrast;
  kernels.layouts = Avx512LayoutKernels();
  kernels.name = "avx512";
  return kernels;
}

}  // namespace zqr::frames
