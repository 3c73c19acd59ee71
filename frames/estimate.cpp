// The time estimate. The constant 0.0333 is single precision on purpose: its exact binary
// value (0.0333000011...) decides the rounding of the estimate.
#include "frames/estimate.h"

#include <chrono>
#include <cmath>
#include <limits>

namespace zqr::frames {

namespace {
constexpr float kFrameShare = 0.0333f;

int32_t RoundSaturated(double value) {
  if (std::isnan(value)) return 0;
  const double rounded = std::nearbyint(value);
  if (rounded >= static_cast<double>(std::numeric_limits<int32_t>::max())) {
    return std::numeric_limits<int32_t>::max();
  }
  if (rounded <= static_cast<double>(std::numeric_limits<int32_t>::min())) {
    return std::numeric_limits<int32_t>::min();
  }
  return static_cast<int32_t>(rounded);
}
}  // namespace

double MonotonicSeconds() {
  const auto since = std::chrono::steady_clock::now().time_since_epoch();
  return std::chrono::duration<double>(since).count();
}

int32_t EstimateSeconds(double block_seconds, int32_t frame_count) {
  return RoundSaturated(static_cast<double>(kFrameShare) * block_seconds *
                        static_cast<double>(frame_count));
}

int32_t ElapsedSeconds(double seconds) {
  return RoundSaturated(seconds);
}

void EstimateClock::Reset() {
  count_ = 0;
  estimate_mark_ = clock_();
  start_mark_ = estimate_mark_;
}

bool EstimateClock::Tick(int32_t frame_count, int32_t* estimate_seconds, int32_t* elapsed_seconds) {
  ++count_;
  if (count_ <= 29) return false;
  const double now = clock_();
  *estimate_seconds = EstimateSeconds(now - estimate_mark_, frame_count);
  *elapsed_seconds = ElapsedSeconds(now - start_mark_);
  count_ = 0;
  estimate_mark_ = clock_();
  return true;
}

}  // namespace zqr::frames
