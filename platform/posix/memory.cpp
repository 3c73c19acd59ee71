// Large buffers on POSIX systems, each a mapping of its own: aligned to the large-page size
// and, where the kernel offers transparent huge pages only on request (the usual
// "madvise" setting), marked for them before any page is touched. A refused request
// leaves ordinary pages, which work the same, only slower.
//
// Not malloc: once a buffer of several megabytes has been freed, the allocator serves the
// next ones from its heap, whose pages were touched before and stay small pages whatever
// madvise asks afterwards. Frame arrays reallocated at each conversion then lost a good
// part of their large pages, and the frame step a tenth of its speed.
#include "platform/memory.h"

#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>

// Under AddressSanitizer the buffers come from the allocator it watches, so that its
// checks cover every access to a frame array.
#if defined(__SANITIZE_ADDRESS__)
#define ZQR_LARGE_BUFFERS_FROM_MALLOC 1
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
#define ZQR_LARGE_BUFFERS_FROM_MALLOC 1
#endif
#endif

namespace zqr::platform {

#if defined(ZQR_LARGE_BUFFERS_FROM_MALLOC)
void* AllocateLargeBuffer(std::size_t bytes) {
  void* buffer = nullptr;
  if (posix_memalign(&buffer, 64, bytes == 0 ? 1 : bytes) != 0) return nullptr;
  std::memset(buffer, 0, bytes);
  return buffer;
}

void FreeLargeBuffer(void* buffer) {
  std::free(buffer);
}
#else
namespace {
constexpr std::size_t kLargePage = std::size_t{2} << 20;

// Kept in the page just before the buffer: the whole mapping, to unmap on free.
struct MappingHeader {
  void* start;
  std::size_t length;
};

std::size_t PageSize() {
  static const std::size_t size = [] {
    const long page = sysconf(_SC_PAGESIZE);
    return page > 0 ? static_cast<std::size_t>(page) : std::size_t{4096};
  }();
  return size;
}

std::uintptr_t AlignUp(std::uintptr_t value, std::size_t alignment) {
  return (value + alignment - 1) / alignment * alignment;
}
}  // namespace

void* AllocateLargeBuffer(std::size_t bytes) {
  const std::size_t page = PageSize();
  if (bytes == 0) bytes = 1;
  const bool large = bytes >= kLargePage;
  const std::size_t alignment = large ? kLargePage : page;
  // A large buffer takes whole large pages: a 1920x1080 frame (8.3 MB) would otherwise end
  // in 2 MB of ordinary pages, over 500 more address translations per frame for up to
  // 2 MB more memory (the frame step is 5 to 7 % faster with whole pages).
  const std::size_t rounded = AlignUp(bytes, large ? kLargePage : page);
  if (rounded < bytes || rounded > SIZE_MAX - alignment - page) return nullptr;
  const std::size_t length = rounded + page + (large ? alignment : 0);
  void* mapping = mmap(nullptr, length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (mapping == MAP_FAILED) return nullptr;
  char* const base = static_cast<char*>(mapping);
  const auto address = reinterpret_cast<std::uintptr_t>(base);
  char* const buffer = base + (AlignUp(address + page, alignment) - address);
  // Only the header page and the buffer stay mapped.
  char* const start = buffer - page;
  char* const end = buffer + rounded;
  if (start > base) munmap(base, static_cast<std::size_t>(start - base));
  if (base + length > end) munmap(end, static_cast<std::size_t>(base + length - end));
  auto* header = reinterpret_cast<MappingHeader*>(buffer - sizeof(MappingHeader));
  header->start = start;
  header->length = static_cast<std::size_t>(end - start);
#if defined(MADV_HUGEPAGE)
  if (large) {
    madvise(buffer, rounded, MADV_HUGEPAGE);
  }
#endif
  // A fresh mapping reads as zeros; one write per page makes the system supply the pages
  // now (large ones where granted) rather than during the first frame.
  volatile char* const touch = buffer;
  for (std::size_t offset = 0; offset < rounded; offset += page) touch[offset] = 0;
  return buffer;
}

void FreeLargeBuffer(void* buffer) {
  if (buffer == nullptr) return;
  const auto* header =
      reinterpret_cast<const MappingHeader*>(static_cast<char*>(buffer) - sizeof(MappingHeader));
  munmap(header->start, header->length);
}
#endif

}  // namespace zqr::platform
