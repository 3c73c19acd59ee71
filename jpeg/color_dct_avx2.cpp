// AVX2 (with FMA) twin of the colour conversion, DCT and quantisation kernel in
// color_dct.cpp. It does the same arithmetic in the same order, eight columns (or rows) per
// instruction: colour sums in double precision, where they are exact, each DCT step in
// single precision without fusing, and the quantisation product in double precision
// rounded half to even. The results are therefore bit-identical to the scalar kernel,
// which the kernel tests check.
#include "jpeg/jpeg_internal.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#define ZQR_AVX2 __attribute__((target("avx2,fma")))

namespace zqr::jpeg {

namespace {

// Zigzag position -> where the vector quantiser leaves that coefficient: it packs the
// transposed block (vector u holds D(0..7, u)) to 16 bits two vectors at a time, and the
// pack interleaves their 128-bit halves.
struct PackedOrder {
  uint8_t index[64];
  constexpr PackedOrder() : index() {
    for (int z = 0; z < 64; ++z) {
      int n = kZigzagToNatural[z];
      int r = n / 8, u = n % 8;
      index[z] = static_cast<uint8_t>((u / 2) * 16 + (r < 4 ? 0 : 8) + (u % 2) * 4 + (r & 3));
    }
  }
};
constexpr PackedOrder kPacked;

ZQR_AVX2 inline void Dct8(__m256* d) {
  const __m256 c4 = _mm256_set1_ps(0.707106781f);
  const __m256 c6 = _mm256_set1_ps(0.382683433f);
  const __m256 c2_c6 = _mm256_set1_ps(0.541196100f);
  const __m256 c2c6 = _mm256_set1_ps(1.306562965f);

  __m256 tmp0 = _mm256_add_ps(d[0], d[7]);
  __m256 tmp7 = _mm256_sub_ps(d[0], d[7]);
  __m256 tmp1 = _mm256_add_ps(d[1], d[6]);
  __m256 tmp6 = _mm256_sub_ps(d[1], d[6]);
  __m256 tmp2 = _mm256_add_ps(d[2], d[5]);
  __m256 tmp5 = _mm256_sub_ps(d[2], d[5]);
  __m256 tmp3 = _mm256_add_ps(d[3], d[4]);
  __m256 tmp4 = _mm256_sub_ps(d[3], d[4]);

  __m256 tmp10 = _mm256_add_ps(tmp0, tmp3);
  __m256 tmp13 = _mm256_sub_ps(tmp0, tmp3);
  __m256 tmp11 = _mm256_add_ps(tmp1, tmp2);
  __m256 tmp12 = _mm256_sub_ps(tmp1, tmp2);

  d[0] = _mm256_add_ps(tmp10, tmp11);
  d[4] = _mm256_sub_ps(tmp10, tmp11);

  __m256 z1 = _mm256_mul_ps(_mm256_add_ps(tmp12, tmp13), c4);
  d[2] = _mm256_add_ps(tmp13, z1);
  d[6] = _mm256_sub_ps(tmp13, z1);

  tmp10 = _mm256_add_ps(tmp4, tmp5);
  tmp11 = _mm256_add_ps(tmp5, tmp6);
  tmp12 = _mm256_add_ps(tmp6, tmp7);

  __m256 z5 = _mm256_mul_ps(_mm256_sub_ps(tmp10, tmp12), c6);
  __m256 z2 = _mm256_add_ps(_mm256_mul_ps(c2_c6, tmp10), z5);
  __m256 z4 = _mm256_add_ps(_mm256_mul_ps(c2c6, tmp12), z5);
  __m256 z3 = _mm256_mul_ps(tmp11, c4);

  __m256 z11 = _mm256_add_ps(tmp7, z3);
  __m256 z13 = _mm256_sub_ps(tmp7, z3);

  d[5] = _mm256_add_ps(z13, z2);
  d[3] = _mm256_sub_ps(z13, z2);
  d[1] = _mm256_add_ps(z11, z4);
  d[7] = _mm256_sub_ps(z11, z4);
}

ZQR_AVX2 inline void Transpose8(__m256* r) {
  __m256 t0 = _mm256_unpacklo_ps(r[0], r[1]);
  __m256 t1 = _mm256_unpackhi_ps(r[0], r[1]);
  __m256 t2 = _mm256_unpacklo_ps(r[2], r[3]);
  __m256 t3 = _mm256_unpackhi_ps(r[2], r[3]);
  __m256 t4 = _mm256_unpacklo_ps(r[4], r[5]);
  __m256 t5 = _mm256_unpackhi_ps(r[4], r[5]);
  __m256 t6 = _mm256_unpacklo_ps(r[6], r[7]);
  __m256 t7 = _mm256_unpackhi_ps(r[6], r[7]);
  __m256 s0 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(1, 0, 1, 0));
  __m256 s1 = _mm256_shuffle_ps(t0, t2, _MM_SHUFFLE(3, 2, 3, 2));
  __m256 s2 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(1, 0, 1, 0));
  __m256 s3 = _mm256_shuffle_ps(t1, t3, _MM_SHUFFLE(3, 2, 3, 2));
  __m256 s4 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(1, 0, 1, 0));
  __m256 s5 = _mm256_shuffle_ps(t4, t6, _MM_SHUFFLE(3, 2, 3, 2));
  __m256 s6 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(1, 0, 1, 0));
  __m256 s7 = _mm256_shuffle_ps(t5, t7, _MM_SHUFFLE(3, 2, 3, 2));
  r[0] = _mm256_permute2f128_ps(s0, s4, 0x20);
  r[1] = _mm256_permute2f128_ps(s1, s5, 0x20);
  r[2] = _mm256_permute2f128_ps(s2, s6, 0x20);
  r[3] = _mm256_permute2f128_ps(s3, s7, 0x20);
  r[4] = _mm256_permute2f128_ps(s0, s4, 0x31);
  r[5] = _mm256_permute2f128_ps(s1, s5, 0x31);
  r[6] = _mm256_permute2f128_ps(s2, s6, 0x31);
  r[7] = _mm256_permute2f128_ps(s3, s7, 0x31);
}

// Colour sum of four pixels in double precision, rounded once to single. Every product and
// partial sum is exact in double precision, so fusing them changes nothing.
ZQR_AVX2 inline __m128 ColourSum(__m256d r, __m256d g, __m256d b, const double* k) {
  __m256d sum = _mm256_mul_pd(_mm256_set1_pd(k[2]), b);
  sum = _mm256_fmadd_pd(_mm256_set1_pd(k[1]), g, sum);
  sum = _mm256_fmadd_pd(_mm256_set1_pd(k[0]), r, sum);
  if (k[3] != 0) sum = _mm256_add_pd(sum, _mm256_set1_pd(k[3]));
  return _mm256_cvtpd_ps(sum);
}

// The three components of an 8 x 8 pixel block, one row of eight samples per vector.
ZQR_AVX2 inline void ConvertBlocks(const uint8_t* bgr, size_t stride, const double (*k)[4],
                                   __m256 (*rows)[8]) {
  const __m256i pick_b =
      _mm256_setr_epi8(0, -1, -1, -1, 3, -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1, 0, -1, -1, -1, 3,
                       -1, -1, -1, 6, -1, -1, -1, 9, -1, -1, -1);
  const __m256i pick_g = _mm256_add_epi32(pick_b, _mm256_set1_epi32(1));
  const __m256i pick_r = _mm256_add_epi32(pick_b, _mm256_set1_epi32(2));
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = bgr + static_cast<size_t>(y) * stride;
    // Pixels 0..3 in the low lane, 4..7 in the high lane, 12 bytes each.
    __m256i px = _mm256_inserti128_si256(
        _mm256_castsi128_si256(_mm_loadu_si128(reinterpret_cast<const __m128i*>(p))),
        _mm_loadu_si128(reinterpret_cast<const __m128i*>(p + 12)), 1);
    __m256i b = _mm256_shuffle_epi8(px, pick_b);
    __m256i g = _mm256_shuffle_epi8(px, pick_g);
    __m256i r = _mm256_shuffle_epi8(px, pick_r);
    __m256d b0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(b));
    __m256d b1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(b, 1));
    __m256d g0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(g));
    __m256d g1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(g, 1));
    __m256d r0 = _mm256_cvtepi32_pd(_mm256_castsi256_si128(r));
    __m256d r1 = _mm256_cvtepi32_pd(_mm256_extracti128_si256(r, 1));
    for (int c = 0; c < 3; ++c) {
      __m128 lo = ColourSum(r0, g0, b0, k[c]);
      __m128 hi = ColourSum(r1, g1, b1, k[c]);
      rows[c][y] = _mm256_insertf128_ps(_mm256_castps128_ps256(lo), hi, 1);
    }
  }
}

// Quantises a transposed DCT block (vector u holds D(0..7, u)) and appends it to the
// component's packed plane.
ZQR_AVX2 inline void QuantiseAndPack(const __m256* d, const double* scale, CoefPlanes& planes,
                                     int component) {
  alignas(32) int16_t packed[64];
  for (int u = 0; u < 8; u += 2) {
    __m256i q[2];
    for (int i = 0; i < 2; ++i) {
      __m256d lo = _mm256_cvtps_pd(_mm256_castps256_ps128(d[u + i]));
      __m256d hi = _mm256_cvtps_pd(_mm256_extractf128_ps(d[u + i], 1));
      // cvtpd_epi32 rounds in the current mode: to nearest, half to even.
      __m128i qlo = _mm256_cvtpd_epi32(_mm256_mul_pd(lo, _mm256_load_pd(scale + (u + i) * 8)));
      __m128i qhi = _mm256_cvtpd_epi32(_mm256_mul_pd(hi, _mm256_load_pd(scale + (u + i) * 8 + 4)));
      q[i] = _mm256_inserti128_si256(_mm256_castsi128_si256(qlo), qhi, 1);
    }
    // Saturating to 16 bits as the scalar packer does.
    _mm256_store_si256(reinterpret_cast<__m256i*>(packed + u * 8), _mm256_packs_epi32(q[0], q[1]));
  }
  alignas(32) int16_t zigzag[64];
  for (int z = 0; z < 64; ++z) zigzag[z] = packed[kPacked.index[z]];

  // Nonzero mask: compare, narrow to bytes in order, one bit per coefficient.
  const __m256i nil = _mm256_setzero_si256();
  uint64_t zero = 0;
  for (int half = 0; half < 2; ++half) {
    const __m256i* v = reinterpret_cast<const __m256i*>(zigzag + half * 32);
    __m256i bytes = _mm256_packs_epi16(_mm256_cmpeq_epi16(_mm256_load_si256(v), nil),
                                       _mm256_cmpeq_epi16(_mm256_load_si256(v + 1), nil));
    bytes = _mm256_permute4x64_epi64(bytes, _MM_SHUFFLE(3, 1, 2, 0));
    zero |= static_cast<uint64_t>(static_cast<uint32_t>(_mm256_movemask_epi8(bytes)))
            << (32 * half);
  }
  uint64_t mask = ~zero;

  size_t k = planes.appended[component]++;
  size_t p = planes.used[component];
  int16_t* out = planes.values[component].data() + p;
  planes.start[component][k] = static_cast<uint32_t>(p);
  planes.nonzero[component][k] = mask;
  out[0] = zigzag[0];
  size_t n = 1;
  for (uint64_t rest = mask & ~uint64_t{1}; rest != 0; rest &= rest - 1) {
    out[n++] = zigzag[__builtin_ctzll(rest)];
  }
  planes.used[component] = p + n;
}

}  // namespace

ZQR_AVX2 void TransformBlockRowAvx2(const uint8_t* bgr, size_t stride, int32_t blocks,
                                    const QualityTables& tables, CoefPlanes& planes) {
  double colour[3][4];
  for (int c = 0; c < 3; ++c) {
    for (int i = 0; i < 4; ++i) colour[c][i] = static_cast<double>(kColourCoefficients[c][i]);
  }
  // Multipliers in the transposed order, widened to double for the exact products.
  alignas(32) double scale[2][64];
  for (int t = 0; t < 2; ++t) {
    for (int z = 0; z < 64; ++z) {
      int n = kZigzagToNatural[z];
      scale[t][(n % 8) * 8 + n / 8] = static_cast<double>(tables.QuantScale[t][z]);
    }
  }
  __m256 rows[3][8];
  for (int32_t b = 0; b < blocks; ++b) {
    ConvertBlocks(bgr + static_cast<size_t>(b) * 24, stride, colour, rows);
    for (int c = 0; c < 3; ++c) {
      Dct8(rows[c]);  // down the columns: each lane is one column
      Transpose8(rows[c]);
      Dct8(rows[c]);  // along the rows, now held one per lane
      QuantiseAndPack(rows[c], scale[c == kY ? 0 : 1], planes, c);
    }
  }
}

}  // namespace zqr::jpeg

#endif
