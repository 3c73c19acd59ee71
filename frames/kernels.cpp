// Kernel selection: the plain kernels first, then the vector ones the CPU can run, in
// the manner of FFmpeg's per-filter init functions.
#include "frames/kernels.h"

#include <cstdlib>
#include <cstring>

#include "frames/brightness_contrast.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "frames/yuv420.h"
#if defined(ZQR_FRAMES_X86)
#include "frames/x86/kernels_x86.h"
#endif

namespace zqr::frames {

bool ScalarForced() {
  const char* value = std::getenv("ZQR_FORCE_SCALAR");
  return value != nullptr && value[0] != '\0' && std::strcmp(value, "0") != 0;
}

namespace {

FrameKernels ChooseKernels() {
  FrameKernels kernels = ScalarKernels();
  if (ScalarForced()) return kernels;
#if defined(ZQR_FRAMES_X86)
  InstallX86Kernels(kernels);
#endif
  return kernels;
}
}  // namespace

const FrameKernels& ScalarKernels() {
  static const FrameKernels kernels = {SmoothRangeScalar,
                                       SmoothRangeFromScalar,
                                       BrightnessContrastScalar,
                                       SharpenRowsScalar,
                                       StereoPassScalar,
                                       SharpenRangeScalar,
                                       StereoPassScalarRange,
                                       StreamFenceScalar,
                                       Yuv420RowPairScalar,
                                       ScalarLayoutKernels(),
                                       "scalar"};
  return kernels;
}

std::vector<FrameKernels> AvailableKernelSets() {
  std::vector<FrameKernels> sets = {ScalarKernels()};
#if defined(ZQR_FRAMES_X86)
  AppendX86KernelSets(sets);
#endif
  return sets;
}

const FrameKernels& ActiveKernels() {
  static const FrameKernels kernels = ChooseKernels();
  return kernels;
}

}  // namespace zqr::frames
