// The depth found in the video where the program was built without OpenCV: the vertical
// prior, and the log says so.
#include "frames/depth_prior.h"
#include "video/motion_depth.h"

namespace zqr {

struct MotionDepth::State {
  int32_t width = 0;
  int32_t height = 0;
};

MotionDepth::MotionDepth() : state_(std::make_unique<State>()) {}
MotionDepth::~MotionDepth() = default;

bool MotionDepth::Available() {
  return false;
}

std::string MotionDepth::SourceText() {
  return "the vertical prior (lower in the picture is nearer): this build cannot find depth "
         "in the video";
}

void MotionDepth::Open(int32_t width, int32_t height) {
  state_->width = width;
  state_->height = height;
}

void MotionDepth::Reset() {}

void MotionDepth::Estimate(const uint32_t*, std::ptrdiff_t, uint8_t* plane) {
  frames::FillVerticalDepthPrior(plane, state_->width, state_->width, state_->height);
}

}  // namespace zqr
