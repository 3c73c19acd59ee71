// Installs the x86 vector kernels after a check of the CPU's features.
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

bool HasAvx2() {
  __builtin_cpu_init();
  return __builtin_cpu_supports("avx2");
}
// VNNI comes with VBMI on every CPU but Cannon Lake's; Dubois's sums take it.
bool HasAvx512Vbmi() {
  __builtin_cpu_init();
  return HasAvx2() && __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512vl") &&
         __builtin_cpu_supports("avx512bw") && __builtin_cpu_supports("avx512vbmi") &&
         __builtin_cpu_supports("avx512vnni");
}

void InstallX86Kernels(FrameKernels& kernels) {
  if (HasAvx512Vbmi()) {
    kernels = Avx512Kernels();
  } else {
    kernels = HasAvx2() ? Avx2Kernels() : Sse2Kernels();
  }
}

void AppendX86KernelSets(std::vector<FrameKernels>& sets) {
  sets.push_back(Sse2Kernels());
  if (HasAvx2()) sets.push_back(Avx2Kernels());
  if (HasAvx512Vbmi()) sets.push_back(Avx512Kernels());
}

}  // namespace zqr::frames
