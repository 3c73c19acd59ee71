// Brightness and contrast. Every byte is computed on its own; the arithmetic stays within
// 16 bits (the products lie within -32640..32385 for colour bytes), so the vector kernels
// can work on four bytes of a pixel in 16-bit lanes and give the same results.
#include "frames/brightness_contrast.h"

#include <algorithm>

namespace zqr::frames {

bool BrightnessContrastRuns(int32_t brightness, int32_t contrast_on) {
  return !(contrast_on == 0 && brightness == 0);
}

BrightnessContrastParams MakeBrightnessContrastParams(int32_t brightness_on, int32_t brightness,
                                                      int32_t contrast_on, int32_t contrast) {
  BrightnessContrastParams params;
  params.brightness_on = brightness_on == 1;
  params.offset = std::clamp(brightness, 0, 255) - 127;
  params.contrast_on = contrast_on == 1;
  params.contrast = std::clamp(contrast, 0, 255);
  return params;
}

void BrightnessContrastScalar(uint32_t* frame, int64_t count,
                              const BrightnessContrastParams& params) {
  uint8_t* bytes = reinterpret_cast<uint8_t*>(frame);
  for (int64_t k = 0; k < count * 4; ++k) {
    int32_t v = bytes[k];
    if (params.brightness_on) v = std::clamp(v + params.offset, 0, 255);
    if (params.contrast_on) {
      if ((k & 3) != 3) {
        v = std::clamp((((v - 128) * params.contrast) >> 7) + 128, 0, 255);
      } else {
        // The fourth byte carries no colour: scaled without the pivot.
        v = std::min((v * params.contrast) >> 7, 255);
      }
    }
    bytes[k] = static_cast<uint8_t>(v);
  }
}

void ApplyBrightnessContrast(uint32_t* frame, int64_t count, int32_t brightness_on,
                             int32_t brightness, int32_t contrast_on, int32_t contrast) {
  if (!BrightnessContrastRuns(brightness, contrast_on) || count <= 0) return;
  const BrightnessContrastParams params =
      MakeBrightnessContrastParams(brightness_on, brightness, contrast_on, contrast);
  // Brightness switched off and contrast off: every byte passes unchanged.
  if (!params.brightness_on && !params.contrast_on) return;
  ActiveKernels().brightness_contrast(frame, count, params);
}

}  // namespace zqr::frames
