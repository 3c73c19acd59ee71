// The filter chain: throttle, smoothing passes, brightness/contrast, in this order.
#include "frames/filter_chain.h"

#include <algorithm>

#include "frames/brightness_contrast.h"
#include "frames/smooth.h"

namespace zqr::frames {

int32_t SmoothingPasses(int32_t noise_on, int32_t noise_passes) {
  if (noise_on != 1) return 0;
  return std::clamp(noise_passes, 0, 5);
}

void RunFilterChain(uint32_t* frame, int32_t width, int64_t count, const FilterSettings& settings,
                    SleepFunction sleep) {
  Throttle(settings.cpu_limit_on, settings.cpu_usage, sleep);
  if (frame == nullptr || width < 1 || count <= 0) return;
  const int32_t passes = SmoothingPasses(settings.noise_on, settings.noise_passes);
  for (int32_t pass = 0; pass < passes; ++pass) SmoothFramePass(frame, width, count);
  ApplyBrightnessContrast(frame, count, settings.brightness_on, settings.brightness,
                          settings.contrast_on, settings.contrast);
}

}  // namespace zqr::frames
