// Depth found in the video itself, for a stream with no depth source of its own. Where the
// camera moves sideways, nearer surfaces slide further across the picture than the camera's
// own motion explains: that residual parallax, measured by optical flow between consecutive
// frames at a reduced size, orders the surfaces. Where motion says nothing (a still shot, a
// pan, a flat wall) a prior of the picture's layout (lower and nearer the bottom centre is
// nearer) takes over, blended by how much the flow can be trusted; the depth of earlier
// frames is carried along the flow, so a shot keeps what its moving moments showed.
// One per stream: nothing of one stream's depth reaches another.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace zqr {

class MotionDepth {
 public:
  MotionDepth();
  ~MotionDepth();
  MotionDepth(const MotionDepth&) = delete;
  MotionDepth& operator=(const MotionDepth&) = delete;

  // False where the program was built without the flow this needs: the depth is then the
  // vertical prior.
  static bool Available();
  // What the depth comes from, for the log.
  static std::string SourceText();

  // For width x height pictures; forgets every earlier frame.
  void Open(int32_t width, int32_t height);
  // The next frame does not follow the last one (a seek, a rewind, a new clip).
  void Reset();
  // The depth plane (width bytes a row, bottom row first, 0 farthest, 255 nearest) of
  // `picture` (BGRX, rows `stride` pixels apart, bottom row first), the frame after the one
  // given last.
  void Estimate(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane);

 private:
  void Measure(const uint32_t* picture, std::ptrdiff_t stride, uint8_t* plane);

  struct State;
  std::unique_ptr<State> state_;
};

}  // namespace zqr
