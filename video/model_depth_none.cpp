// The model's depth in a build without OpenCV's DNN module: every model is refused.
#include "video/model_depth.h"

namespace zqr {

struct ModelDepth::State {};

ModelDepth::ModelDepth() = default;
ModelDepth::~ModelDepth() = default;

bool ModelDepth::Available() {
  return false;
}

bool ModelDepth::Open(const ModelChoice&, int32_t, int32_t, std::string& failure) {
  failure = "this build of the program cannot run depth models";
  return false;
}

void ModelDepth::SetCarry(std::unique_ptr<DepthCarry>) {}
void ModelDepth::Reset() {}
void ModelDepth::Estimate(const uint32_t*, std::ptrdiff_t, uint8_t*) {}
int64_t ModelDepth::Runs() const {
  return 0;
}
int32_t ModelDepth::InputWidth() const {
  return 0;
}
int32_t ModelDepth::InputHeight() const {
  return 0;
}

}  // namespace zqr
