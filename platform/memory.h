// Storage for the large buffers a conversion streams through on every frame (the frame
// arrays). Each such buffer spans thousands of 4 KiB pages, and a frame step walks six of
// them at once: more pages than the address-translation caches hold, so every few
// kilobytes an access waits for a page-table walk. Where the system has large pages
// (2 MiB on x86-64 Linux), buffers of that size and more ask for them.
#pragma once

#include <cstddef>

namespace zqr::platform {

// `bytes` zero bytes aligned to at least 64 bytes; nullptr when memory runs out. Free with
// FreeLargeBuffer.
void* AllocateLargeBuffer(std::size_t bytes);
void FreeLargeBuffer(void* buffer);

}  // namespace zqr::platform
