// The smoothing pass on 256-bit registers, for the AVX2 set and the AVX-512 set. Each of
// the two kernel files includes it and compiles its own copy with its own flags (the
// functions have internal linkage, so the linker never mixes the two).
//
// The sums of eight pixels need nothing of the serial chain but the row above, which is
// final; only the chain waits on the block before. With the 32 vector registers of AVX-512
// the loop forms the next block's sums before this block's chain, so that the out-of-order
// core always has independent work beside the chain (7 % off the pass at 1920x1080). With
// the 16 registers of AVX2 the same order spills the chain's value to the stack and is a
// third slower, so that set keeps each block's chain right after its sums.
#pragma once

#include <immintrin.h>

#include <cstdint>

#include "frames/smooth.h"
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {
namespace {
namespace smooth_ymm {

inline __m256i Load(const uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}

// Q = 8 P_i + P_{i-1} of eight pixels: lo holds pixels 0, 1 | 4, 5 and hi 2, 3 | 6, 7.
struct Sums {
  __m256i lo;
  __m256i hi;
};

// The sums of the block at j (see the SSE2 kernel for the algebra). `hi_prev` carries the
// previous block's hi from call to call.
inline Sums BlockSums(const uint32_t* src, const uint32_t* frame, int64_t w, int64_t j,
                      __m256i& hi_prev) {
  const __m256i ones = _mm256_set1_epi8(1);
  const __m256i zero = _mm256_setzero_si256();
  __m256i a = Load(src + j);
  __m256i b = Load(src + j + 1);
  __m256i c = Load(frame + j - w);
  __m256i d = Load(frame + j - w + 1);
  __m256i e = Load(src + j + w - 1);
  __m256i f = Load(src + j + w);
  __m256i g = Load(src + j + w + 1);
  KeepLoaded(a, b, c, d, e, f, g);
  // Pairs of samples interleaved and added by one byte-pair product each (weights 1, 1).
  // Unpacking works within each 128-bit half, which gives the lo / hi order above.
  const __m256i lo =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(a, b), ones),
                                        _mm256_maddubs_epi16(_mm256_unpacklo_epi8(c, d), ones)),
                       _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpacklo_epi8(e, f), ones),
                                        _mm256_unpacklo_epi8(g, zero)));
  const __m256i hi =
      _mm256_add_epi16(_mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(a, b), ones),
                                        _mm256_maddubs_epi16(_mm256_unpackhi_epi8(c, d), ones)),
                       _mm256_add_epi16(_mm256_maddubs_epi16(_mm256_unpackhi_epi8(e, f), ones),
                                        _mm256_unpackhi_epi8(g, zero)));
  // The pixels before hi's are lo's (one alignr per lane); those before lo's are the
  // previous hi's last and this hi's first half.
  const __m256i before_lo = _mm256_alignr_epi8(lo, _mm256_permute2x128_si256(hi_prev, hi, 0x21), 8);
  const __m256i before_hi = _mm256_alignr_epi8(hi, lo, 8);
  hi_prev = hi;
  return {_mm256_add_epi16(_mm256_slli_epi16(lo, 3), before_lo),
          _mm256_add_epi16(_mm256_slli_epi16(hi, 3), before_hi)};
}

// The serial chain of the block at j, two pixels per step: x = (Q + x two pixels back)
// >> 6. Returns the last two pixels for the next block.
inline __m128i BlockChain(const Sums& q, uint32_t* frame, int64_t j, __m128i x_in) {
  const __m128i x01 = _mm_srli_epi16(_mm_add_epi16(_mm256_castsi256_si128(q.lo), x_in), 6);
  const __m128i x23 = _mm_srli_epi16(_mm_add_epi16(_mm256_castsi256_si128(q.hi), x01), 6);
  const __m128i x45 = _mm_srli_epi16(_mm_add_epi16(_mm256_extracti128_si256(q.lo, 1), x23), 6);
  const __m128i x67 = _mm_srli_epi16(_mm_add_epi16(_mm256_extracti128_si256(q.hi, 1), x45), 6);
  _mm_storeu_si128(reinterpret_cast<__m128i*>(frame + j), _mm_packus_epi16(x01, x23));
  _mm_storeu_si128(reinterpret_cast<__m128i*>(frame + j + 4), _mm_packus_epi16(x45, x67));
  return x67;
}

// Smoothing of pixels begin .. end - 1; `src` holds the pixels not yet replaced: `frame`
// itself, or the frame being copied. Two blocks per round, so that each 64-byte line gets
// one prefetch hint and the loop's bookkeeping is paid once per line.
//
// With kLookAhead the sums of the block at j + 8 are formed before the chain of the block
// at j. They read the row above up to j + 16 - W, which the chain has finished for every
// width the vector kernels take (W >= 17).
template <bool kLookAhead>
void SmoothRangeFrom(const uint32_t* src, uint32_t* frame, int32_t width, int64_t begin,
                     int64_t end) {
  const int64_t w = width;
  if (width < kMinVectorWidth) return SmoothRangeFromScalar(src, frame, width, begin, end);
  // The chain starts from the two pixels before `begin`. In place of the sums of the pixel
  // before it stands 8 x_{-1} - x_{-2}, with which the first step gives (P_0 + x_{-1}) >> 3.
  __m128i x_prev =
      _mm_cvtepu8_epi16(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(frame + begin - 2)));
  const __m128i x_last = _mm_srli_si128(x_prev, 8);
  const __m128i p_prev = _mm_slli_si128(_mm_sub_epi16(_mm_slli_epi16(x_last, 3), x_prev), 8);
  __m256i hi_prev = _mm256_inserti128_si256(_mm256_setzero_si256(), p_prev, 1);
  int64_t j = begin;
  if constexpr (kLookAhead) {
    if (j + 8 <= end) {
      Sums q = BlockSums(src, frame, w, j, hi_prev);
      for (; j + 24 <= end; j += 16) {
        PrefetchPixels(src + j + w);
        PrefetchPixels(frame + j);
        const Sums q1 = BlockSums(src, frame, w, j + 8, hi_prev);
        x_prev = BlockChain(q, frame, j, x_prev);
        q = BlockSums(src, frame, w, j + 16, hi_prev);
        x_prev = BlockChain(q1, frame, j + 8, x_prev);
      }
      // q holds the block at j, and j + 8 <= end.
      x_prev = BlockChain(q, frame, j, x_prev);
      j += 8;
      if (j + 8 <= end) {
        x_prev = BlockChain(BlockSums(src, frame, w, j, hi_prev), frame, j, x_prev);
        j += 8;
      }
    }
  } else {
    for (; j + 16 <= end; j += 16) {
      PrefetchPixels(src + j + w);
      PrefetchPixels(frame + j);
      x_prev = BlockChain(BlockSums(src, frame, w, j, hi_prev), frame, j, x_prev);
      x_prev = BlockChain(BlockSums(src, frame, w, j + 8, hi_prev), frame, j + 8, x_prev);
    }
    if (j + 8 <= end) {
      x_prev = BlockChain(BlockSums(src, frame, w, j, hi_prev), frame, j, x_prev);
      j += 8;
    }
  }
  SmoothRangeFromScalar(src, frame, width, j, end);
}

}  // namespace smooth_ymm
}  // namespace
}  // namespace zqr::frames
