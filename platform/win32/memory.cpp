// Large buffers on Windows, each an allocation of its own from VirtualAlloc: aligned to
// 64 KiB, zeroed by the system, and returned to it whole when freed (the C heap would keep
// the pages of a freed frame array for its next small blocks). Large pages are not asked
// for: Windows grants them only to accounts holding the "lock pages in memory" right,
// which a desktop user does not have.
#include "platform/memory.h"

#include "platform/win32/win32_common.h"

namespace zqr::platform {

void* AllocateLargeBuffer(std::size_t bytes) {
  return VirtualAlloc(nullptr, bytes == 0 ? 1 : bytes, MEM_RESERVE | MEM_COMMIT, PAGE_READWRITE);
}

void FreeLargeBuffer(void* buffer) {
  if (buffer != nullptr) VirtualFree(buffer, 0, MEM_RELEASE);
}

}  // namespace zqr::platform
