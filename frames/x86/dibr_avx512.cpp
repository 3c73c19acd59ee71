// The depth renderer's row passes in AVX-512 (F, VL, BW, VBMI). The landing places come from
// the shift table held in registers as four planes of its bytes, looked up by byte permutes
// 64 pixels at a time; the table of pairs is made by compressing, for eight pairs at a
// time, each pair's index once for each target it covers; a block of 16 targets then takes
// its two pixels each from a window of 32 by two-register permutes, whatever the stretch.
#include <immintrin.h>

#include <algorithm>
#include <cstdint>

#include "frames/x86/dibr_x86.h"

namespace zqr::frames {

// GCC 12 takes the undefined pass-through operand inside some AVX-512 intrinsics for an
// uninitialized variable.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wuninitialized"
#ifndef __clang__
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif

namespace {

constexpr int32_t kOne = 256;
constexpr int32_t kLanes = 16;

__mmask16 First16(int32_t count) {
  return static_cast<__mmask16>((1u << std::clamp(count, 0, kLanes)) - 1);
}

// (a (256 - w) + b w + 128) >> 8 per byte, w per pixel (0 .. 255), as the plain Mix: the
// sum is a 256 + 128 + (b - a) w, which 16-bit lanes hold exactly even where the product
// alone wraps. a 256 + 128 is a's byte unpacked above a byte of 128; the shuffles put each
// pixel's weight into the four words of its bytes.
__m512i Mix(__m512i a, __m512i b, __m512i w) {
  const __m512i zero = _mm512_setzero_si512();
  const __m512i half = _mm512_set1_epi8(-128);
  const __m512i to_lo =
      _mm512_broadcast_i32x4(_mm_setr_epi8(0, -1, 0, -1, 0, -1, 0, -1, 4, -1, 4, -1, 4, -1, 4, -1));
  const __m512i to_hi = _mm512_broadcast_i32x4(
      _mm_setr_epi8(8, -1, 8, -1, 8, -1, 8, -1, 12, -1, 12, -1, 12, -1, 12, -1));
  const __m512i lo = _mm512_srli_epi16(
      _mm512_add_epi16(_mm512_unpacklo_epi8(half, a),
                       _mm512_mullo_epi16(_mm512_sub_epi16(_mm512_unpacklo_epi8(b, zero),
                                                           _mm512_unpacklo_epi8(a, zero)),
                                          _mm512_shuffle_epi8(w, to_lo))),
      8);
  const __m512i hi = _mm512_srli_epi16(
      _mm512_add_epi16(_mm512_unpackhi_epi8(half, a),
                       _mm512_mullo_epi16(_mm512_sub_epi16(_mm512_unpackhi_epi8(b, zero),
                                                           _mm512_unpackhi_epi8(a, zero)),
                                          _mm512_shuffle_epi8(w, to_hi))),
      8);
  return _mm512_packus_epi16(lo, hi);
}

// floor(n / length) without a division, as the SSE2 kernel computes it (which says why it
// is exact; this estimate is closer, within 2^-14).
__m512i Weights(__m512i n, __m512i length) {
  const __m512 l = _mm512_cvtepi32_ps(length);
  const __m512 r0 = _mm512_rcp14_ps(l);
  const __m512 r1 = _mm512_mul_ps(r0, _mm512_sub_ps(_mm512_set1_ps(2.0f), _mm512_mul_ps(l, r0)));
  return _mm512_cvttps_epi32(
      _mm512_add_ps(_mm512_mul_ps(_mm512_cvtepi32_ps(n), r1), _mm512_set1_ps(1.0f / 2048)));
}

// Targets c .. c + 15 (those of `live`) from the pairs that cover them, at = 256 (c + lane).
// False where a lane's pair lies beyond the 32 pixels from the first one's.
template <bool kTail>
inline bool Block(const DibrSurface& s, int32_t c, __m512i at, __mmask16 live) {
  const int32_t base = s.pairs[c];
  if (s.pairs[c + (kTail ? __builtin_popcount(live) : kLanes) - 1] - base > 30) return false;
  const __m512i index = _mm512_sub_epi32(_mm512_loadu_si512(s.pairs + c), _mm512_set1_epi32(base));
  const __m512i next = _mm512_add_epi32(index, _mm512_set1_epi32(1));
  // The landing places have slack past the row; the picture and depth rows do not.
  const int32_t* t = s.landing + base;
  const __m512i t_lo = _mm512_loadu_si512(t);
  const __m512i t_hi = _mm512_loadu_si512(t + kLanes);
  __m512i p_lo, p_hi;
  __m128i d_lo, d_hi;
  if (base + 2 * kLanes <= s.width) {
    p_lo = _mm512_loadu_si512(s.picture + base);
    p_hi = _mm512_loadu_si512(s.picture + base + kLanes);
    d_lo = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.depth + base));
    d_hi = _mm_loadu_si128(reinterpret_cast<const __m128i*>(s.depth + base + kLanes));
  } else {
    const __mmask16 in_lo = First16(s.width - base);
    const __mmask16 in_hi = First16(s.width - base - kLanes);
    p_lo = _mm512_maskz_loadu_epi32(in_lo, s.picture + base);
    p_hi = _mm512_maskz_loadu_epi32(in_hi, s.picture + base + kLanes);
    d_lo = _mm_maskz_loadu_epi8(in_lo, s.depth + base);
    d_hi = _mm_maskz_loadu_epi8(in_hi, s.depth + base + kLanes);
  }
  const __m512i ta = _mm512_permutex2var_epi32(t_lo, index, t_hi);
  const __m512i tb = _mm512_permutex2var_epi32(t_lo, next, t_hi);
  const __m512i d_lo32 = _mm512_cvtepu8_epi32(d_lo);
  const __m512i d_hi32 = _mm512_cvtepu8_epi32(d_hi);
  const __m512i da = _mm512_permutex2var_epi32(d_lo32, index, d_hi32);
  const __m512i db = _mm512_permutex2var_epi32(d_lo32, next, d_hi32);
  const __m512i pa = _mm512_permutex2var_epi32(p_lo, index, p_hi);
  const __m512i pb = _mm512_permutex2var_epi32(p_lo, next, p_hi);

  // The weight as Span gives it.
  const __m512i length = _mm512_sub_epi32(tb, ta);
  const __m512i n = _mm512_add_epi32(_mm512_slli_epi32(_mm512_sub_epi32(at, ta), 8),
                                     _mm512_srli_epi32(length, 1));
  const __m512i w = Weights(n, length);
  const __m512i g =
      _mm512_add_epi32(_mm512_slli_epi32(da, 8), _mm512_mullo_epi32(_mm512_sub_epi32(db, da), w));
  const __m512i old_z = _mm512_loadu_si512(s.z + c);
  const __mmask16 nearer =
      kTail ? _mm512_mask_cmpgt_epi32_mask(live, g, old_z) : _mm512_cmpgt_epi32_mask(g, old_z);
  const __m512i mix = Mix(pa, pb, w);
  if (nearer == 0xFFFF) {
    _mm512_storeu_si512(s.z + c, g);
    _mm512_storeu_si512(s.out + c, mix);
  } else {
    _mm512_mask_storeu_epi32(s.z + c, nearer, g);
    _mm512_mask_storeu_epi32(s.out + c, nearer, mix);
  }
  return true;
}

}  // namespace

void Avx512StartRow(const uint8_t* depth, int32_t width, const int32_t* shifts, int32_t* landing,
                    int32_t* z) {
  const __m512i uncovered = _mm512_set1_epi32(-1);
  // planes[b][q]: byte b of entries 64 q .. 64 q + 63.
  __m512i planes[4][4];
  for (int q = 0; q < 4; ++q) {
    __m128i parts[4][4];
    for (int k = 0; k < 4; ++k) {
      const __m512i v = _mm512_loadu_si512(shifts + 64 * q + 16 * k);
      for (int b = 0; b < 4; ++b) parts[b][k] = _mm512_cvtepi32_epi8(_mm512_srli_epi32(v, 8 * b));
    }
    for (int b = 0; b < 4; ++b) {
      __m512i plane = _mm512_castsi128_si512(parts[b][0]);
      plane = _mm512_inserti32x4(plane, parts[b][1], 1);
      plane = _mm512_inserti32x4(plane, parts[b][2], 2);
      planes[b][q] = _mm512_inserti32x4(plane, parts[b][3], 3);
    }
  }
  // The unpacks that join the four planes into 32-bit values leave, in output register k,
  // lane l, element e, byte 16 l + 4 k + e of their input: the levels go in so ordered that
  // pixel 16 k + 4 l + e comes out there.
  alignas(64) uint8_t order[64];
  for (int l = 0; l < 4; ++l) {
    for (int k = 0; k < 4; ++k) {
      for (int e = 0; e < 4; ++e)
        order[16 * l + 4 * k + e] = static_cast<uint8_t>(16 * k + 4 * l + e);
    }
  }
  const __m512i reorder = _mm512_load_si512(order);
  const __m512i steps =
      _mm512_slli_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15), 8);
  for (int32_t x = 0; x < width; x += 64) {
    const int32_t count = std::min(64, width - x);
    const __mmask64 live = count == 64 ? ~__mmask64{0} : (__mmask64{1} << count) - 1;
    const __m512i levels =
        _mm512_permutexvar_epi8(reorder, count == 64 ? _mm512_loadu_si512(depth + x)
                                                     : _mm512_maskz_loadu_epi8(live, depth + x));
    const __mmask64 upper = _mm512_movepi8_mask(levels);
    __m512i bytes[4];
    for (int b = 0; b < 4; ++b) {
      const __m512i lower_half = _mm512_permutex2var_epi8(planes[b][0], levels, planes[b][1]);
      const __m512i upper_half = _mm512_permutex2var_epi8(planes[b][2], levels, planes[b][3]);
      bytes[b] = _mm512_mask_blend_epi8(upper, lower_half, upper_half);
    }
    const __m512i lo01 = _mm512_unpacklo_epi8(bytes[0], bytes[1]);
    const __m512i hi01 = _mm512_unpackhi_epi8(bytes[0], bytes[1]);
    const __m512i lo23 = _mm512_unpacklo_epi8(bytes[2], bytes[3]);
    const __m512i hi23 = _mm512_unpackhi_epi8(bytes[2], bytes[3]);
    const __m512i shift[4] = {_mm512_unpacklo_epi16(lo01, lo23), _mm512_unpackhi_epi16(lo01, lo23),
                              _mm512_unpacklo_epi16(hi01, hi23), _mm512_unpackhi_epi16(hi01, hi23)};
    for (int k = 0; k < 4; ++k) {
      const __m512i at = _mm512_add_epi32(_mm512_set1_epi32((x + 16 * k) * kOne), steps);
      // The landing places and z have slack past the row.
      _mm512_storeu_si512(landing + x + 16 * k, _mm512_add_epi32(shift[k], at));
      _mm512_storeu_si512(z + x + 16 * k, uncovered);
    }
  }
}

int32_t Avx512SurfaceEnd(const int32_t* landing, int32_t first, int32_t width) {
  // 64 pairs a test, the largest length of four registers first (the landing places have
  // slack, and pairs past the row are masked).
  const __m512i longest = _mm512_set1_epi32(2 * kOne);
  for (int32_t x = first; x + 1 < width; x += 4 * kLanes) {
    __m512i length[4];
    for (int k = 0; k < 4; ++k) {
      const int32_t* t = landing + x + kLanes * k;
      length[k] = _mm512_sub_epi32(_mm512_loadu_si512(t + 1), _mm512_loadu_si512(t));
    }
    const __m512i most = _mm512_max_epu32(_mm512_max_epu32(length[0], length[1]),
                                          _mm512_max_epu32(length[2], length[3]));
    if (x + 4 * kLanes < width && _mm512_cmpgt_epu32_mask(most, longest) == 0) continue;
    for (int k = 0; k < 4; ++k) {
      const auto edges = static_cast<uint32_t>(
          _mm512_mask_cmpgt_epu32_mask(First16(width - 1 - x - kLanes * k), length[k], longest));
      if (edges != 0) return x + kLanes * k + __builtin_ctz(edges);
    }
  }
  return width - 1;
}

void Avx512Pairs(const DibrSurface& s, int32_t first, int32_t* pairs) {
  // The surface in locals: the stores to `pairs` might otherwise be taken to change it.
  const int32_t* const landing = s.landing;
  const int32_t last = s.last;
  const int32_t end = s.end;
  // Lanes 2 i and 2 i + 1 stand for pair i's first and second target; the second eight
  // pairs of a step take the same lanes of the next register.
  const __m512i twice = _mm512_setr_epi32(0, 0, 1, 1, 2, 2, 3, 3, 4, 4, 5, 5, 6, 6, 7, 7);
  const __m512i twice_hi = _mm512_add_epi32(twice, _mm512_set1_epi32(8));
  const __m512i second = _mm512_setr_epi32(0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1, 0, 1);
  const __m512i round_up = _mm512_set1_epi32(kOne - 1);
  // Each step's first target follows from the last step's count, not from a load that
  // might wait for the last step's stores.
  int32_t c = (landing[first] + kOne - 1) >> 8;
  for (int32_t x = first; x < last && c < end; x += kLanes) {
    // Slots past `last` are no pairs of the surface (the landing places have slack).
    const int32_t pairs_left = last - x;
    const __m512i from =
        _mm512_srai_epi32(_mm512_add_epi32(_mm512_loadu_si512(landing + x), round_up), 8);
    const __m512i to =
        _mm512_srai_epi32(_mm512_add_epi32(_mm512_loadu_si512(landing + x + 1), round_up), 8);
    const __m512i covered = _mm512_sub_epi32(to, from);
    const __mmask16 lo = _mm512_mask_cmpgt_epi32_mask(
        First16(2 * pairs_left), _mm512_permutexvar_epi32(twice, covered), second);
    const __mmask16 hi = _mm512_mask_cmpgt_epi32_mask(
        First16(2 * (pairs_left - 8)), _mm512_permutexvar_epi32(twice_hi, covered), second);
    const __m512i ids = _mm512_add_epi32(_mm512_set1_epi32(x), twice);
    _mm512_storeu_si512(pairs + c, _mm512_maskz_compress_epi32(lo, ids));
    c += __builtin_popcount(lo);
    _mm512_storeu_si512(
        pairs + c, _mm512_maskz_compress_epi32(hi, _mm512_add_epi32(ids, _mm512_set1_epi32(8))));
    c += __builtin_popcount(hi);
  }
}

void Avx512SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count) {
  for (int32_t i = 0; i < count; i += kLanes) {
    _mm512_storeu_si512(w + i, Weights(_mm512_loadu_si512(n + i), _mm512_loadu_si512(length + i)));
  }
}

int32_t Avx512SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p) {
  // A copy, which the stores to z and out cannot be taken to change.
  const DibrSurface s = surface;
  const __m512i step = _mm512_set1_epi32(kLanes * kOne);
  __m512i at = _mm512_add_epi32(
      _mm512_set1_epi32(c * kOne),
      _mm512_slli_epi32(_mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15),
                        8));
  for (; c + kLanes <= s.end; c += kLanes) {
    if (!Block<false>(s, c, at, 0xFFFF)) break;
    at = _mm512_add_epi32(at, step);
  }
  if (c + kLanes > s.end && c < s.end && Block<true>(s, c, at, First16(s.end - c))) c = s.end;
  if (c < s.end) p = s.pairs[c];
  return c;
}

int32_t Avx512NextUncovered(const int32_t* z, int32_t x, int32_t width) {
  // 64 targets a test, the least of four registers first (z has slack past the row).
  for (; x < width; x += 4 * kLanes) {
    const __m512i least = _mm512_min_epi32(
        _mm512_min_epi32(_mm512_loadu_si512(z + x), _mm512_loadu_si512(z + x + 16)),
        _mm512_min_epi32(_mm512_loadu_si512(z + x + 32), _mm512_loadu_si512(z + x + 48)));
    if (x + 4 * kLanes <= width && _mm512_cmplt_epi32_mask(least, _mm512_setzero_si512()) == 0) {
      continue;
    }
    for (int k = 0; k < 4; ++k) {
      const auto uncovered = static_cast<uint32_t>(_mm512_mask_cmplt_epi32_mask(
          First16(width - x - kLanes * k), _mm512_loadu_si512(z + x + kLanes * k),
          _mm512_setzero_si512()));
      if (uncovered != 0) return x + kLanes * k + __builtin_ctz(uncovered);
    }
  }
  return width;
}

#pragma GCC diagnostic pop

}  // namespace zqr::frames
