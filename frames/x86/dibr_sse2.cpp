// The depth renderer's surface walk in SSE2, four targets at a time. In a block of targets
// c .. c + 3 whose first is covered by pair p, the spans are nearly a pixel long, so target
// c + i is mostly covered by pair p + i - 1, p + i or p + i + 1 (the table of pairs says
// which), and takes its colours, depths and landing places from the three by masks. A block
// with a target further off is left to the caller.
#include <emmintrin.h>

#include <cstdint>

#include "frames/x86/dibr_x86.h"

namespace zqr::frames {

namespace {

constexpr int32_t kLanes = 4;

__m128i Load(const void* p) {
  return _mm_loadu_si128(static_cast<const __m128i*>(p));
}
void Store(void* p, __m128i v) {
  _mm_storeu_si128(static_cast<__m128i*>(p), v);
}
// mask ? a : b
__m128i Select(__m128i mask, __m128i a, __m128i b) {
  return _mm_or_si128(_mm_and_si128(mask, a), _mm_andnot_si128(mask, b));
}
// The one of back, here, ahead whose mask is set (here's when none of the others is).
__m128i Pick(__m128i back_mask, __m128i ahead_mask, __m128i back, __m128i here, __m128i ahead) {
  return Select(back_mask, back, Select(ahead_mask, ahead, here));
}
int Bits(__m128i mask) {
  return _mm_movemask_ps(_mm_castsi128_ps(mask));
}

// (a (256 - w) + b w + 128) >> 8 per byte, w per pixel (0 .. 255), as the plain Mix: each
// 16-bit sum stays below 2^16.
__m128i Mix(__m128i a, __m128i b, __m128i w) {
  const __m128i zero = _mm_setzero_si128();
  const __m128i w16 = _mm_packs_epi32(w, w);
  const __m128i w_pairs = _mm_unpacklo_epi16(w16, w16);
  const __m128i one = _mm_set1_epi16(256);
  const __m128i half = _mm_set1_epi16(128);
  const auto blend = [&](__m128i x, __m128i y, __m128i wt) {
    const __m128i sum =
        _mm_add_epi16(_mm_mullo_epi16(x, _mm_sub_epi16(one, wt)), _mm_mullo_epi16(y, wt));
    return _mm_srli_epi16(_mm_add_epi16(sum, half), 8);
  };
  const __m128i lo = blend(_mm_unpacklo_epi8(a, zero), _mm_unpacklo_epi8(b, zero),
                           _mm_unpacklo_epi32(w_pairs, w_pairs));
  const __m128i hi = blend(_mm_unpackhi_epi8(a, zero), _mm_unpackhi_epi8(b, zero),
                           _mm_unpackhi_epi32(w_pairs, w_pairs));
  return _mm_packus_epi16(lo, hi);
}

// floor(n / length) for 0 <= n < 256 length, 1 <= length <= 512, without a division (which
// takes as long as the rest of a block). The quotient x is whole or at least 1 / length
// >= 2^-9 from the next whole number; any y with |y - x| <= e truncates to it after adding
// e if 2 e < 2^-9. The reciprocal estimate is within 1.5 2^-12 of 1 / length relatively;
// a Newton step squares that to 2^-22.8, and the roundings of the step and of n r add 2^-22
// at most: |y - x| < 256 (2^-22.8 + 2^-22) < 2^-13, and y + 2^-11 (rounded by 2^-17) is
// safely inside.
__m128i Weights(__m128i n, __m128i length) {
  const __m128 l = _mm_cvtepi32_ps(length);
  const __m128 r0 = _mm_rcp_ps(l);
  const __m128 r1 = _mm_mul_ps(r0, _mm_sub_ps(_mm_set1_ps(2.0f), _mm_mul_ps(l, r0)));
  return _mm_cvttps_epi32(_mm_add_ps(_mm_mul_ps(_mm_cvtepi32_ps(n), r1), _mm_set1_ps(1.0f / 2048)));
}

}  // namespace

void Sse2SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count) {
  for (int32_t i = 0; i < count; i += kLanes) Store(w + i, Weights(Load(n + i), Load(length + i)));
}

int32_t Sse2SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p_io) {
  // A copy, which the stores to z and out cannot be taken to change.
  const DibrSurface s = surface;
  int32_t p = p_io;
  // A block reads pixels p - 1 .. p + 5 and depth bytes up to p + 6, all in the row.
  const int32_t p_max = s.width - 7;
  const __m128i lanes = _mm_setr_epi32(0, 1, 2, 3);
  const __m128i steps = _mm_slli_epi32(lanes, 8);
  const __m128i zero = _mm_setzero_si128();
  while (c + kLanes <= s.end && p >= 1 && p <= p_max) {
    const __m128i at = _mm_add_epi32(_mm_set1_epi32(c * 256), steps);
    const int32_t* t = s.landing + p;
    const __m128i t_back = Load(t - 1);
    const __m128i t_here = Load(t);
    const __m128i t_ahead = Load(t + 1);
    const __m128i t_after = Load(t + 2);
    // How far each lane's pair is from p + lane: -1, 0 or 1 in a block taken here.
    const __m128i off = _mm_sub_epi32(Load(s.pairs + c), _mm_add_epi32(_mm_set1_epi32(p), lanes));
    const __m128i back = _mm_cmpeq_epi32(off, _mm_set1_epi32(-1));
    const __m128i here = _mm_cmpeq_epi32(off, _mm_setzero_si128());
    const __m128i ahead = _mm_cmpeq_epi32(off, _mm_set1_epi32(1));
    const int back_bits = Bits(back);
    const int here_bits = Bits(here);
    const int ahead_bits = Bits(ahead);
    if ((back_bits | here_bits | ahead_bits) != 0xF) break;

    const uint32_t* picture = s.picture + p;
    const __m128i depths =
        _mm_unpacklo_epi8(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(s.depth + p - 1)), zero);
    const __m128i d_back = _mm_unpacklo_epi16(depths, zero);
    const __m128i d_here = _mm_unpacklo_epi16(_mm_srli_si128(depths, 2), zero);
    const __m128i d_ahead = _mm_unpacklo_epi16(_mm_srli_si128(depths, 4), zero);
    const __m128i d_after = _mm_unpacklo_epi16(_mm_srli_si128(depths, 6), zero);
    const __m128i p_here = Load(picture);
    const __m128i p_ahead = Load(picture + 1);
    __m128i ta = t_here, tb = t_ahead, da = d_here, db = d_ahead, pa = p_here, pb = p_ahead;
    if (here_bits != 0xF) {
      ta = Pick(back, ahead, t_back, t_here, t_ahead);
      tb = Pick(back, ahead, t_here, t_ahead, t_after);
      da = Pick(back, ahead, d_back, d_here, d_ahead);
      db = Pick(back, ahead, d_here, d_ahead, d_after);
      pa = Pick(back, ahead, Load(picture - 1), p_here, p_ahead);
      pb = Pick(back, ahead, p_here, p_ahead, Load(picture + 2));
    }

    // The weight as Span gives it.
    const __m128i length = _mm_sub_epi32(tb, ta);
    const __m128i n =
        _mm_add_epi32(_mm_slli_epi32(_mm_sub_epi32(at, ta), 8), _mm_srli_epi32(length, 1));
    const __m128i w = Weights(n, length);
    // (db - da) w in one multiply-add: w's upper 16 bits are zero.
    const __m128i g =
        _mm_add_epi32(_mm_slli_epi32(da, 8), _mm_madd_epi16(_mm_sub_epi32(db, da), w));
    const __m128i mix = Mix(pa, pb, w);
    int32_t* z = s.z + c;
    uint32_t* out = s.out + c;
    const __m128i old_z = Load(z);
    const __m128i nearer = _mm_cmpgt_epi32(g, old_z);
    if (Bits(nearer) == 0xF) {
      Store(z, g);
      Store(out, mix);
    } else {
      Store(z, Select(nearer, g, old_z));
      Store(out, Select(nearer, mix, Load(out)));
    }

    c += kLanes;
    if (c >= s.end) break;
    p = s.pairs[c];
  }
  p_io = p;
  return c;
}

}  // namespace zqr::frames
