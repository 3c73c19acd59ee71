// Large buffers on POSIX systems: aligned to the large-page size and, where the kernel
// offers transparent huge pages only on request (the usual "madvise" setting), marked
// for them. A refused request leaves ordinary pages, which work the same, only slower.
#include "platform/memory.h"

#include <sys/mman.h>

#include <cstdlib>
#include <cstring>

namespace zqr::platform {

namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;
constexpr std::size_t kLineAlignment = 64;
}  // namespace

void* AllocateLargeBuffer(std::size_t bytes) {
  const std::size_t alignment = bytes >= kLargePage ? kLargePage : kLineAlignment;
  void* buffer = nullptr;
  if (posix_memalign(&buffer, alignment, bytes == 0 ? 1 : bytes) != 0) return nullptr;
#if defined(MADV_HUGEPAGE)
  if (alignment == kLargePage) {
    // Whole large pages only: the tail past the last one keeps ordinary pages.
    const std::size_t whole = bytes / kLargePage * kLargePage;
    madvise(buffer, whole, MADV_HUGEPAGE);
  }
#endif
  std::memset(buffer, 0, bytes);
  return buffer;
}

void FreeLargeBuffer(void* buffer) {
  std::free(buffer);
}

}  // namespace zqr::platform
