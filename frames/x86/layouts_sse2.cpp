// The output-layout kernels of this set.
#include "frames/x86/kernels_x86.h"

namespace zqr::frames {

LayoutKernels Sse2LayoutKernels() {
  return ScalarLayoutKernels();
}

}  // namespace zqr::frames
