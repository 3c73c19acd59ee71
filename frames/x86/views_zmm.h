// The two 3D Depth views of sixteen pixels on 512-bit registers, shared by the AVX-512
// stereo merge (kernels_avx512.cpp) and the layouts' views (layouts_avx512.cpp). A
// displacement is a byte table of the red or green byte, looked up by VBMI's two-register
// byte permute, and sixteen sources within 24 pixels are one two-register permute. Only
// files built with the AVX-512 flags include it.
#pragma once

#include <immintrin.h>

#include <array>
#include <cstdint>

#include "frames/stereo.h"

namespace zqr::frames::zmm {

// table[v] for every byte v of `v` (`top`: the bytes of 128 and up).
[[gnu::always_inline]] inline __m512i Lookup(__m512i v, __mmask64 top, const __m512i t[4]) {
  const __m512i low = _mm512_permutex2var_epi8(t[0], v, t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t[2], v, t[3]);
  return _mm512_mask_blend_epi8(top, low, high);
}
[[gnu::always_inline]] inline __m512i Lookup(__m512i v, const __m512i t[4]) {
  return Lookup(v, _mm512_movepi8_mask(v), t);
}

// The displacement of every byte value as table registers: the low bytes of the frame's
// 16-bit table when the caller has one (the kernels are called for every strip or band,
// too often to fill it byte by byte), else worked out here. Returns the largest.
inline int32_t DisplacementTableRegisters(const int16_t* displacement_table,
                                          float displacement_factor, __m512i table[4]) {
  if (displacement_table != nullptr) {
    alignas(64) static constexpr std::array<uint8_t, 64> kEvenBytes = [] {
      std::array<uint8_t, 64> even{};
      for (size_t k = 0; k < even.size(); ++k) even[k] = static_cast<uint8_t>(2 * k);
      return even;
    }();
    const __m512i low_bytes = _mm512_load_si512(kEvenBytes.data());
    for (int k = 0; k < 4; ++k) {
      table[k] =
          _mm512_permutex2var_epi8(_mm512_loadu_si512(displacement_table + 64 * k), low_bytes,
                                   _mm512_loadu_si512(displacement_table + 64 * k + 32));
    }
    return displacement_table[255];
  }
  alignas(64) std::array<uint8_t, 256> bytes;
  for (int32_t v = 0; v < 256; ++v) {
    bytes[static_cast<size_t>(v)] =
        static_cast<uint8_t>(ColourDisplacement(v, displacement_factor));
  }
  for (int k = 0; k < 4; ++k) table[k] = _mm512_load_si512(bytes.data() + 64 * k);
  return bytes[255];
}

// The registers ViewBlock keeps for a whole frame.
struct ViewConstants {
  ViewConstants(int32_t width, int64_t picture)
      : first(_mm512_set1_epi32(width)),
        past(_mm512_set1_epi32(static_cast<int32_t>(picture - width))) {}
  const __m512i lanes = _mm512_setr_epi32(0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15);
  const __m512i eight = _mm512_set1_epi32(8);
  const __m512i red = _mm512_set1_epi32(0x00FF0000);
  // Byte 2 (red) or byte 1 (green) of each pixel to the pixel's low byte, zeros above.
  const __m512i red_to_lane =
      _mm512_set4_epi32(static_cast<int32_t>(0x8080800Eu), static_cast<int32_t>(0x8080800Au),
                        static_cast<int32_t>(0x80808006u), static_cast<int32_t>(0x80808002u));
  const __m512i green_to_lane =
      _mm512_set4_epi32(static_cast<int32_t>(0x8080800Du), static_cast<int32_t>(0x80808009u),
                        static_cast<int32_t>(0x80808005u), static_cast<int32_t>(0x80808001u));
  // The first displaced pixel (the first row stays), and the first of the last row.
  const __m512i first;
  const __m512i past;
};

struct ViewPairZmm {
  __m512i own;    // the current frame displaced by its red bytes
  __m512i other;  // the second frame `shift` on, displaced by the green bytes there
};

// Pixels i .. i + 15 of both views, displacements at most 8: sources from `current` + i up
// to 31 on, and from `second` + i + shift from 8 before to 23 after. `edge`: the block
// reaches into the first or last row or shifts into them, where nothing is displaced.
[[gnu::always_inline]] inline ViewPairZmm ViewBlock(const ViewConstants& k, const __m512i table[4],
                                                    const uint32_t* current, const uint32_t* second,
                                                    int64_t i, int64_t shift, bool edge) {
  const __m512i own = _mm512_loadu_si512(current + i);
  // One lookup for both: this block's red bytes beside the green bytes of the block the
  // other view's sources start from.
  const __m512i both = Lookup(
      _mm512_ternarylogic_epi32(k.red, own, _mm512_loadu_si512(current + i + shift), 0xCA), table);
  __m512i dr = _mm512_shuffle_epi8(both, k.red_to_lane);
  __m512i dg = _mm512_shuffle_epi8(both, k.green_to_lane);
  if (edge) {
    const __m512i index = _mm512_add_epi32(_mm512_set1_epi32(static_cast<int32_t>(i)), k.lanes);
    const __m512i target = _mm512_add_epi32(index, _mm512_set1_epi32(static_cast<int32_t>(shift)));
    dr = _mm512_maskz_mov_epi32(
        _mm512_cmpge_epi32_mask(index, k.first) & _mm512_cmplt_epi32_mask(index, k.past), dr);
    dg = _mm512_maskz_mov_epi32(
        _mm512_cmpge_epi32_mask(target, k.first) & _mm512_cmplt_epi32_mask(target, k.past), dg);
  }
  const uint32_t* from = second + i + shift - 8;
  return {_mm512_permutex2var_epi32(own, _mm512_add_epi32(k.lanes, dr),
                                    _mm512_loadu_si512(current + i + 16)),
          _mm512_permutex2var_epi32(_mm512_loadu_si512(from),
                                    _mm512_sub_epi32(_mm512_add_epi32(k.lanes, k.eight), dg),
                                    _mm512_loadu_si512(from + 16))};
}

}  // namespace zqr::frames::zmm
