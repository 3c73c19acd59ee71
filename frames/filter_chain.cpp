// The filter chain: throttle, smoothing passes, brightness/contrast, in this order.
#include "frames/filter_chain.h"

#include <algorithm>

#include "frames/brightness_contrast.h"
#include "frames/kernels.h"
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
  const BrightnessContrastParams params = MakeBrightnessContrastParams(
      settings.brightness_on, settings.brightness, settings.contrast_on, settings.contrast);
  const bool adjust = BrightnessContrastRuns(settings.brightness, settings.contrast_on) &&
                      (params.brightness_on || params.contrast_on);
  const int64_t w = width;
  if (passes == 0 || !adjust || count - w <= w) {
    for (int32_t pass = 0; pass < passes; ++pass) SmoothFramePass(frame, width, count);
    if (adjust) ActiveKernels().brightness_contrast(frame, count, params);
    return;
  }
  // The last pass in slices, brightness/contrast following behind while the pixels are
  // still in the cache: once the pass has reached pixel e, pixels below e - W are never
  // read again.
  for (int32_t pass = 0; pass + 1 < passes; ++pass) SmoothFramePass(frame, width, count);
  const FrameKernels& kernels = ActiveKernels();
  const int64_t slice = std::max<int64_t>(w, 4096);
  int64_t adjusted = 0;
  for (int64_t start = w; start < count - w; start += slice) {
    const int64_t stop = std::min(start + slice, count - w);
    kernels.smooth_range(frame, width, start, stop);
    kernels.brightness_contrast(frame + adjusted, stop - w - adjusted, params);
    adjusted = stop - w;
  }
  kernels.brightness_contrast(frame + adjusted, count - adjusted, params);
}

}  // namespace zqr::frames
