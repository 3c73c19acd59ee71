// The time estimate of a conversion: every 30 frames, the pace of the last 30 frames
// scaled to the whole video, and the time passed since the conversion began.
#pragma once

#include <cstdint>

namespace zqr::frames {

// Seconds of a monotonic clock: counts with fractions and never jumps (no midnight).
double MonotonicSeconds();

// round(0.0333 x block_seconds x frame_count): 0.0333 is the single-precision constant
// (not 1/30); rounded to nearest, ties to even, saturated to 32 bits.
int32_t EstimateSeconds(double block_seconds, int32_t frame_count);
// round(seconds), ties to even, saturated to 32 bits.
int32_t ElapsedSeconds(double seconds);

// The timing state of one conversion.
class EstimateClock {
 public:
  using Clock = double (*)();
  explicit EstimateClock(Clock clock = MonotonicSeconds) : clock_(clock) {}

  // Count 0, both marks at the clock's reading (just before the video starts to run).
  void Reset();
  // Counts one frame. On every 30th frame stores the estimate and the elapsed seconds,
  // moves the estimate mark to the clock's new reading and returns true.
  bool Tick(int32_t frame_count, int32_t* estimate_seconds, int32_t* elapsed_seconds);

  int32_t count() const { return count_; }

 private:
  Clock clock_;
  int32_t count_ = 0;
  double estimate_mark_ = 0.0;
  double start_mark_ = 0.0;
};

}  // namespace zqr::frames
