// The fixed chain of in-place filters every picture passes first: the processor-load
// throttle, noise smoothing and brightness/contrast.
#pragma once

#include <cstdint>

#include "frames/throttle.h"

namespace zqr::frames {

// The chain's settings, as the settings record holds them.
struct FilterSettings {
  int32_t cpu_limit_on = 0;
  int32_t cpu_usage = 100;
  int32_t noise_on = 0;
  int32_t noise_passes = 1;
  int32_t brightness_on = 0;
  int32_t brightness = 127;
  int32_t contrast_on = 0;
  int32_t contrast = 127;
};

// Passes actually run: NOISE when the switch is on, taken within the control's range
// 0..5, so a hand-edited value cannot stall the frame flow.
int32_t SmoothingPasses(int32_t noise_on, int32_t noise_passes);

// Runs the chain on the first `count` pixels of a frame of `width` columns (the pixel at
// index `count` must exist and stay zero: it is the first pixel of the spare row).
void RunFilterChain(uint32_t* frame, int32_t width, int64_t count, const FilterSettings& settings,
                    SleepFunction sleep);

}  // namespace zqr::frames
