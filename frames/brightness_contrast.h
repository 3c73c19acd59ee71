// Brightness and contrast: one combined per-byte pass.
#pragma once

#include <cstdint>

#include "frames/kernels.h"

namespace zqr::frames {

// True when the step runs at all: it is skipped when contrast is off and the brightness
// value (not its switch) is 0.
bool BrightnessContrastRuns(int32_t brightness, int32_t contrast_on);

// Resolves the settings; values outside 0..255 are taken as the nearest end.
BrightnessContrastParams MakeBrightnessContrastParams(int32_t brightness_on, int32_t brightness,
                                                      int32_t contrast_on, int32_t contrast);

// The reference kernel over `count` pixels. Brightness adds the offset to all four bytes
// with clamping; contrast maps each colour byte v to clamp(floor((v - 128) x C / 128) + 128)
// and the fourth byte to min(255, floor(v x C / 128)).
void BrightnessContrastScalar(uint32_t* frame, int64_t count,
                              const BrightnessContrastParams& params);

// The step as the chain runs it: skip rule, then the active kernel.
void ApplyBrightnessContrast(uint32_t* frame, int64_t count, int32_t brightness_on,
                             int32_t brightness, int32_t contrast_on, int32_t contrast);

}  // namespace zqr::frames
