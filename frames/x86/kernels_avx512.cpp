// AVX-512 kernels: the AVX2 set with brightness/contrast as a table lookup. Both controls
// act on each byte on its own, so the whole adjustment is one table of 256 bytes for the
// colour bytes and one for the fourth byte; VBMI's two-register byte permute looks up 64
// bytes at a time. Built with the AVX-512 flags; installed only after a run-time check.
#include <immintrin.h>

#include <array>
#include <cstdint>

#include "frames/brightness_contrast.h"
#include "frames/x86/kernels_x86.h"

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

// table[v] for every byte v of `v`: two 128-byte halves, chosen by the byte's top bit.
__m512i Lookup(__m512i v, const __m512i t[4]) {
  const __m512i low = _mm512_permutex2var_epi8(t[0], v, t[1]);
  const __m512i high = _mm512_permutex2var_epi8(t[2], v, t[3]);
  return _mm512_mask_blend_epi8(_mm512_movepi8_mask(v), low, high);
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
    _mm512_storeu_si512(frame + i,
                        _mm512_mask_blend_epi8(fourth_bytes, Lookup(v, colour), Lookup(v, fourth)));
  }
  if (i < count) {
    const __mmask64 rest = (__mmask64{1} << (4 * (count - i))) - 1;
    const __m512i v = _mm512_maskz_loadu_epi8(rest, frame + i);
    _mm512_mask_storeu_epi8(
        frame + i, rest,
        _mm512_mask_blend_epi8(fourth_bytes, Lookup(v, colour), Lookup(v, fourth)));
  }
}

}  // namespace

FrameKernels Avx512Kernels() {
  FrameKernels kernels = Avx2Kernels();
  kernels.brightness_contrast = BrightnessContrast;
  kernels.name = "avx512";
  return kernels;
}

}  // namespace zqr::frames
