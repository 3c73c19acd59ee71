// Large buffers: aligned for the vector kernels and wholly usable, from a single byte to
// sizes around the large-page size; the frame arrays built on them, the writers' too,
// keep their contracts (zeroed pixels and guards).
#include "platform/memory.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "frames/frame.h"
#include "frames/frame_file.h"

namespace zqr::platform {
namespace {

TEST(LargeBuffer, AlignedAndWritableAtEverySize) {
  constexpr std::size_t kMiB = std::size_t{1} << 20;
  for (std::size_t bytes : {std::size_t{0}, std::size_t{1}, std::size_t{4096} + 3, 2 * kMiB - 1,
                            2 * kMiB, 2 * kMiB + 1, 9 * kMiB + 12345}) {
    auto* buffer = static_cast<uint8_t*>(AllocateLargeBuffer(bytes));
    ASSERT_NE(buffer, nullptr) << bytes;
    EXPECT_EQ(reinterpret_cast<uintptr_t>(buffer) % 64, 0u) << bytes;
    // Every byte can be written and read back (the sanitizer build checks the bounds).
    for (std::size_t i = 0; i < bytes; ++i) buffer[i] = static_cast<uint8_t>(i * 7);
    for (std::size_t i = 0; i < bytes; i += 4093) {
      ASSERT_EQ(buffer[i], static_cast<uint8_t>(i * 7)) << bytes << " at " << i;
    }
    FreeLargeBuffer(buffer);
  }
  FreeLargeBuffer(nullptr);
}

TEST(LargeBuffer, FrameArraysStartZeroed) {
  // A frame array of 1920 x 1081 pixels (8 MB, on large pages) reused after one of the
  // same size was filled and freed: pixels and guards zero all the same.
  {
    frames::FrameArray dirty;
    ASSERT_TRUE(dirty.Allocate(1920, 1081));
    std::memset(dirty.data(), 0xAB, dirty.byte_size());
  }
  frames::FrameArray frame;
  ASSERT_TRUE(frame.Allocate(1920, 1081));
  const uint32_t* first = frame.data() - frames::FrameArray::kGuardPixels;
  const int64_t count = frame.pixel_count() + 2 * frames::FrameArray::kGuardPixels;
  int64_t nonzero = 0;
  for (int64_t i = 0; i < count; ++i) nonzero += first[i] != 0 ? 1 : 0;
  EXPECT_EQ(nonzero, 0);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(frame.data()) % 64, 0u);

  // A frame taken from the frame-file writers: the same.
  frames::FrameFileWriter writer;
  frames::FrameArray taken = writer.TakeFrame(1920, 1081);
  ASSERT_FALSE(taken.empty());
  EXPECT_EQ(reinterpret_cast<uintptr_t>(taken.data()) % 64, 0u);
  EXPECT_EQ(taken.data()[0], 0u);
  EXPECT_EQ(taken.data()[taken.pixel_count() - 1], 0u);
  writer.ReturnFrame(std::move(taken));
}

}  // namespace
}  // namespace zqr::platform
