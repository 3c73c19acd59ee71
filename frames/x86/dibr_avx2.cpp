// The depth renderer's surface walk in AVX2, eight targets at a time, as the SSE2 kernel
// takes four: target c + i of a block whose first is covered by pair p is mostly covered by
// pair p + i - 1, p + i or p + i + 1, and takes its values from the three by masks.
#include <immintrin.h>

#include <cstdint>

#include "frames/x86/dibr_x86.h"

namespace zqr::frames {

namespace {

constexpr int32_t kLanes = 8;

__m256i Load(const void* p) {
  return _mm256_loadu_si256(static_cast<const __m256i*>(p));
}
void Store(void* p, __m256i v) {
  _mm256_storeu_si256(static_cast<__m256i*>(p), v);
}
// Eight depth bytes from d on, as 32-bit lanes.
__m256i LoadDepths(const uint8_t* d) {
  return _mm256_cvtepu8_epi32(_mm_loadl_epi64(reinterpret_cast<const __m128i*>(d)));
}
// The one of back, here, ahead whose mask is set (here's when none of the others is).
__m256i Pick(__m256i back_mask, __m256i ahead_mask, __m256i back, __m256i here, __m256i ahead) {
  return _mm256_blendv_epi8(_mm256_blendv_epi8(here, ahead, ahead_mask), back, back_mask);
}
int Bits(__m256i mask) {
  return _mm256_movemask_ps(_mm256_castsi256_ps(mask));
}

// (a (256 - w) + b w + 128) >> 8 per byte, w per pixel (0 .. 255), as the plain Mix. The
// unpacks and the pack work within each 128-bit half, so the pixels come back in order.
__m256i Mix(__m256i a, __m256i b, __m256i w) {
  const __m256i zero = _mm256_setzero_si256();
  const __m256i w16 = _mm256_packs_epi32(w, w);
  const __m256i w_pairs = _mm256_unpacklo_epi16(w16, w16);
  const __m256i one = _mm256_set1_epi16(256);
  const __m256i half = _mm256_set1_epi16(128);
  const auto blend = [&](__m256i x, __m256i y, __m256i wt) {
    const __m256i sum = _mm256_add_epi16(_mm256_mullo_epi16(x, _mm256_sub_epi16(one, wt)),
                                         _mm256_mullo_epi16(y, wt));
    return _mm256_srli_epi16(_mm256_add_epi16(sum, half), 8);
  };
  const __m256i lo = blend(_mm256_unpacklo_epi8(a, zero), _mm256_unpacklo_epi8(b, zero),
                           _mm256_unpacklo_epi32(w_pairs, w_pairs));
  const __m256i hi = blend(_mm256_unpackhi_epi8(a, zero), _mm256_unpackhi_epi8(b, zero),
                           _mm256_unpackhi_epi32(w_pairs, w_pairs));
  return _mm256_packus_epi16(lo, hi);
}

// floor(n / length) without a division, as the SSE2 kernel computes it (which says why it
// is exact).
__m256i Weights(__m256i n, __m256i length) {
  const __m256 l = _mm256_cvtepi32_ps(length);
  const __m256 r0 = _mm256_rcp_ps(l);
  const __m256 r1 = _mm256_mul_ps(r0, _mm256_sub_ps(_mm256_set1_ps(2.0f), _mm256_mul_ps(l, r0)));
  return _mm256_cvttps_epi32(
      _mm256_add_ps(_mm256_mul_ps(_mm256_cvtepi32_ps(n), r1), _mm256_set1_ps(1.0f / 2048)));
}

}  // namespace

void Avx2SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count) {
  for (int32_t i = 0; i < count; i += kLanes) Store(w + i, Weights(Load(n + i), Load(length + i)));
}

int32_t Avx2SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p_io) {
  // A copy, which the stores to z and out cannot be taken to change.
  const DibrSurface s = surface;
  int32_t p = p_io;
  // A block reads pixels p - 1 .. p + 9, all in the row.
  const int32_t p_max = s.width - 10;
  const __m256i lanes = _mm256_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7);
  const __m256i steps = _mm256_slli_epi32(lanes, 8);
  while (c + kLanes <= s.end && p >= 1 && p <= p_max) {
    const __m256i at = _mm256_add_epi32(_mm256_set1_epi32(c * 256), steps);
    const int32_t* t = s.landing + p;
    const __m256i t_back = Load(t - 1);
    const __m256i t_here = Load(t);
    const __m256i t_ahead = Load(t + 1);
    const __m256i t_after = Load(t + 2);
    // How far each lane's pair is from p + lane: -1, 0 or 1 in a block taken here.
    const __m256i off =
        _mm256_sub_epi32(Load(s.pairs + c), _mm256_add_epi32(_mm256_set1_epi32(p), lanes));
    const __m256i back = _mm256_cmpeq_epi32(off, _mm256_set1_epi32(-1));
    const __m256i here = _mm256_cmpeq_epi32(off, _mm256_setzero_si256());
    const __m256i ahead = _mm256_cmpeq_epi32(off, _mm256_set1_epi32(1));
    const int back_bits = Bits(back);
    const int here_bits = Bits(here);
    const int ahead_bits = Bits(ahead);
    if ((back_bits | here_bits | ahead_bits) != 0xFF) break;

    const uint32_t* picture = s.picture + p;
    const uint8_t* depth = s.depth + p;
    const __m256i d_here = LoadDepths(depth);
    const __m256i d_ahead = LoadDepths(depth + 1);
    const __m256i p_here = Load(picture);
    const __m256i p_ahead = Load(picture + 1);
    __m256i ta = t_here, tb = t_ahead, da = d_here, db = d_ahead, pa = p_here, pb = p_ahead;
    if (here_bits != 0xFF) {
      ta = Pick(back, ahead, t_back, t_here, t_ahead);
      tb = Pick(back, ahead, t_here, t_ahead, t_after);
      da = Pick(back, ahead, LoadDepths(depth - 1), d_here, d_ahead);
      db = Pick(back, ahead, d_here, d_ahead, LoadDepths(depth + 2));
      pa = Pick(back, ahead, Load(picture - 1), p_here, p_ahead);
      pb = Pick(back, ahead, p_here, p_ahead, Load(picture + 2));
    }

    // The weight as Span gives it.
    const __m256i length = _mm256_sub_epi32(tb, ta);
    const __m256i n = _mm256_add_epi32(_mm256_slli_epi32(_mm256_sub_epi32(at, ta), 8),
                                       _mm256_srli_epi32(length, 1));
    const __m256i w = Weights(n, length);
    const __m256i g =
        _mm256_add_epi32(_mm256_slli_epi32(da, 8), _mm256_mullo_epi32(_mm256_sub_epi32(db, da), w));
    const __m256i mix = Mix(pa, pb, w);
    int32_t* z = s.z + c;
    uint32_t* out = s.out + c;
    const __m256i old_z = Load(z);
    const __m256i nearer = _mm256_cmpgt_epi32(g, old_z);
    if (Bits(nearer) == 0xFF) {
      Store(z, g);
      Store(out, mix);
    } else {
      Store(z, _mm256_blendv_epi8(old_z, g, nearer));
      Store(out, _mm256_blendv_epi8(Load(out), mix, nearer));
    }

    c += kLanes;
    if (c >= s.end) break;
    p = s.pairs[c];
  }
  p_io = p;
  return c;
}

}  // namespace zqr::frames
