// Frame files: names, layout, truncation, and the bounded writers.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <map>
#include <mutex>
#include <set>
#include <thread>

#include "frames/frame_file.h"
#include "tests/frames/frames_test_util.h"
#include "tests/support/test_support.h"

namespace zqr::frames {
namespace {

uint32_t Le32(const std::string& bytes, size_t at) {
  uint32_t value = 0;
  for (int k = 3; k >= 0; --k) value = (value << 8) | static_cast<uint8_t>(bytes[at + k]);
  return value;
}
uint32_t Le16(const std::string& bytes, size_t at) {
  return static_cast<uint8_t>(bytes[at]) |
         (static_cast<uint32_t>(static_cast<uint8_t>(bytes[at + 1])) << 8);
}

TEST(FrameFileName, HasAtLeastSixDigits) {
  EXPECT_EQ(FrameFileName("/tmp/T", 0), zqr::test::InFolder("/tmp/T", "temp000000.bmp"));
  EXPECT_EQ(FrameFileName("/tmp/T", 1234), zqr::test::InFolder("/tmp/T", "temp001234.bmp"));
  EXPECT_EQ(FrameFileName("/x", 29), zqr::test::InFolder("/x", "temp000029.bmp"));
  EXPECT_EQ(FrameFileName("/x", 1234567), zqr::test::InFolder("/x", "temp1234567.bmp"));
}

TEST(FrameFile, SizeOfAVgaFrame) {
  EXPECT_EQ(FrameFileSize(624, 480), 1198134);
}

TEST(FrameFile, LayoutIsHeadersThenBottomRowFirst) {
  zqr::test::ScratchDir dir;
  const std::string path = dir.File("f.bmp");
  std::mt19937 rng(9);
  std::vector<uint32_t> pixels(17 * 3);
  test::FillRandom(pixels.data(), 17 * 3, rng);
  ASSERT_TRUE(WriteFrameFileNow(path, 17, 3, pixels.data(), 17));
  const std::string bytes = zqr::test::ReadFile(path);
  ASSERT_EQ(bytes.size(), 54u + 4 * 17 * 3);
  EXPECT_EQ(bytes.substr(0, 2), "BM");
  EXPECT_EQ(Le32(bytes, 2), bytes.size());
  EXPECT_EQ(Le32(bytes, 6), 0u);
  EXPECT_EQ(Le32(bytes, 10), 54u);
  EXPECT_EQ(Le32(bytes, 14), 40u);
  EXPECT_EQ(Le32(bytes, 18), 17u);
  EXPECT_EQ(Le32(bytes, 22), 3u);
  EXPECT_EQ(Le16(bytes, 26), 1u);
  EXPECT_EQ(Le16(bytes, 28), 32u);
  for (size_t at = 30; at < 54; at += 4) EXPECT_EQ(Le32(bytes, at), 0u) << at;
  EXPECT_EQ(std::memcmp(bytes.data() + 54, pixels.data(), pixels.size() * 4), 0);
}

TEST(FrameFile, ALongerOldFileIsTruncated) {
  zqr::test::ScratchDir dir;
  const std::string path = dir.File("temp000000.bmp");
  ASSERT_TRUE(zqr::test::WriteFile(path, std::string(100000, 'x')));
  const std::vector<uint32_t> pixels(20 * 2, 0x01020304u);
  ASSERT_TRUE(WriteFrameFileNow(path, 20, 2, pixels.data(), 20));
  const std::string bytes = zqr::test::ReadFile(path);
  EXPECT_EQ(bytes.size(), 54u + 160u);
  EXPECT_EQ(bytes.find('x'), std::string::npos);
}

TEST(FrameFile, AMissingFolderIsReportedAsFailure) {
  const std::vector<uint32_t> pixels(20, 0);
  EXPECT_FALSE(
      WriteFrameFileNow("/nonexistent-folder-zqr/temp000000.bmp", 20, 1, pixels.data(), 20));
}

TEST(FrameFile, AWiderFrameIsCroppedRowByRow) {
  // More rows than one gathered write takes (1024 pieces on Linux), each cut from a wider
  // frame: the file holds exactly the first `width` pixels of every row.
  zqr::test::ScratchDir dir;
  const std::string path = dir.File("f.bmp");
  constexpr int32_t kStride = 37;
  constexpr int32_t kWidth = 21;
  constexpr int32_t kHeight = 1300;
  std::mt19937 rng(10);
  std::vector<uint32_t> frame(static_cast<size_t>(kStride) * kHeight);
  test::FillRandom(frame.data(), static_cast<int64_t>(frame.size()), rng);
  ASSERT_TRUE(WriteFrameFileNow(path, kWidth, kHeight, frame.data(), kStride));
  const std::string bytes = zqr::test::ReadFile(path);
  ASSERT_EQ(static_cast<int64_t>(bytes.size()), FrameFileSize(kWidth, kHeight));
  EXPECT_EQ(Le32(bytes, 18), static_cast<uint32_t>(kWidth));
  for (int32_t y = 0; y < kHeight; ++y) {
    ASSERT_EQ(std::memcmp(bytes.data() + 54 + size_t{4} * kWidth * y,
                          frame.data() + size_t{kStride} * y, size_t{4} * kWidth),
              0)
        << "row " << y;
  }
}

TEST(FrameFileWriter, BoundFollowsBudgetWithinLimits) {
  FrameFileWriter::Options options;
  options.memory_budget = 100;
  options.max_in_flight = 4;
  FrameFileWriter writer(options);
  EXPECT_EQ(writer.BoundFor(10), 4);
  EXPECT_EQ(writer.BoundFor(30), 3);
  EXPECT_EQ(writer.BoundFor(1000), 1);
  FrameFileWriter standard;
  EXPECT_EQ(standard.BoundFor(1904 * 1080 * 4), 8);
  EXPECT_EQ(standard.BoundFor(3824 * 2160 * 4), 2);
}

TEST(FrameFileWriter, EachFileGetsTheFrameAsSubmittedAndMemoryStaysBounded) {
  // A slow disk: every write takes 15 ms. The caller refills its frame at once.
  std::mutex mutex;
  std::map<std::string, std::vector<uint32_t>> written;
  std::atomic<int32_t> busy{0};
  std::atomic<int32_t> peak_busy{0};
  FrameFileWriter::Options options;
  options.max_in_flight = 3;
  options.write = [&](const std::string& path, int32_t w, int32_t h, const uint32_t* px,
                      int32_t /*stride*/) {
    const int32_t now = ++busy;
    peak_busy = std::max(peak_busy.load(), now);
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    std::lock_guard lock(mutex);
    written[path].assign(px, px + int64_t{w} * h);
    --busy;
    return true;
  };
  FrameFileWriter writer(options);
  std::vector<uint32_t> frame(24 * 5);
  for (uint32_t n = 0; n < 12; ++n) {
    std::fill(frame.begin(), frame.end(), n * 1000);
    writer.Submit(FrameFileName("/d", static_cast<int32_t>(n)), frame.data(), 24, 5);
    const FrameFileWriter::Stats stats = writer.stats();
    ASSERT_LE(stats.buffers, 3);
    ASSERT_LE(stats.peak_in_flight, 3);
  }
  writer.WaitAll();
  const FrameFileWriter::Stats stats = writer.stats();
  EXPECT_EQ(stats.submitted, 12);
  EXPECT_EQ(stats.written, 12);
  EXPECT_EQ(stats.peak_in_flight, 3);
  EXPECT_GT(stats.waits, 0);
  EXPECT_LE(stats.buffers, 3);
  EXPECT_EQ(peak_busy.load(), 1);  // files are written one at a time
  ASSERT_EQ(written.size(), 12u);
  for (uint32_t n = 0; n < 12; ++n) {
    const auto& pixels = written[FrameFileName("/d", static_cast<int32_t>(n))];
    ASSERT_EQ(pixels.size(), 120u);
    EXPECT_EQ(std::set<uint32_t>(pixels.begin(), pixels.end()), std::set<uint32_t>{n * 1000});
  }
}

TEST(FrameFileWriter, CropsAWiderFrameWhileCopying) {
  std::vector<uint32_t> got;
  FrameFileWriter::Options options;
  options.write = [&](const std::string&, int32_t w, int32_t h, const uint32_t* px,
                      int32_t stride) {
    EXPECT_EQ(stride, w);  // the copy is packed
    got.assign(px, px + int64_t{w} * h);
    return true;
  };
  FrameFileWriter writer(options);
  std::vector<uint32_t> frame(20 * 3);
  for (size_t i = 0; i < frame.size(); ++i) frame[i] = static_cast<uint32_t>(i);
  writer.Submit("/d/x", frame.data(), 4, 3, 20);
  writer.WaitAll();
  EXPECT_EQ(got, (std::vector<uint32_t>{0, 1, 2, 3, 20, 21, 22, 23, 40, 41, 42, 43}));
}

TEST(FrameFileWriter, HandedOverFramesAreWrittenCroppedAndKeptForReuse) {
  // The frame step's rotation: take a frame, fill it, hand over the one filled before.
  std::mutex mutex;
  std::map<std::string, std::vector<uint32_t>> written;
  FrameFileWriter::Options options;
  options.max_in_flight = 2;
  options.write = [&](const std::string& path, int32_t w, int32_t h, const uint32_t* px,
                      int32_t stride) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
    std::lock_guard lock(mutex);
    auto& rows = written[path];
    for (int32_t y = 0; y < h; ++y) rows.insert(rows.end(), px + y * stride, px + y * stride + w);
    return true;
  };
  FrameFileWriter writer(options);
  FrameArray current = writer.TakeFrame(10, 4);
  ASSERT_FALSE(current.empty());
  std::fill(current.data(), current.data() + current.pixel_count(), 1u);
  for (uint32_t n = 0; n < 6; ++n) {
    FrameArray next = writer.TakeFrame(10, 4);
    ASSERT_FALSE(next.empty());
    ASSERT_EQ(next.width(), 10);
    ASSERT_EQ(next.rows(), 4);
    std::fill(next.data(), next.data() + next.pixel_count(), n + 2);
    writer.QueueFrame(FrameFileName("/d", static_cast<int32_t>(n)), std::move(current), 6, 3);
    current = std::move(next);
    const FrameFileWriter::Stats stats = writer.stats();
    ASSERT_LE(stats.peak_in_flight, 2);
    ASSERT_LE(stats.buffers, 2);
  }
  writer.ReturnFrame(std::move(current));
  writer.WaitAll();
  EXPECT_EQ(writer.stats().written, 6);
  for (uint32_t n = 0; n < 6; ++n) {
    EXPECT_EQ(written[FrameFileName("/d", static_cast<int32_t>(n))],
              std::vector<uint32_t>(18, n + 1))
        << n;
  }
  // A frame of the same shape comes from the kept ones, not from a new allocation.
  const int32_t kept = writer.stats().buffers;
  EXPECT_GT(kept, 0);
  FrameArray again = writer.TakeFrame(10, 4);
  EXPECT_EQ(writer.stats().buffers, kept - 1);
  EXPECT_NE(again.data()[0], 0u);
  writer.ReturnFrame(std::move(again));
}

TEST(FrameFileWriter, AFileLargerThanItsFrameFailsWithoutReadingPastIt) {
  int32_t calls = 0;
  FrameFileWriter::Options options;
  options.write = [&](const std::string&, int32_t, int32_t, const uint32_t*, int32_t) {
    ++calls;
    return true;
  };
  FrameFileWriter writer(options);
  FrameArray frame = writer.TakeFrame(8, 3);
  writer.QueueFrame("/d/x", std::move(frame), 9, 3);
  FrameArray other = writer.TakeFrame(8, 3);
  writer.QueueFrame("/d/y", std::move(other), 8, 4);
  writer.WaitAll();
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(writer.stats().failed, 2);
}

TEST(FrameFileWriter, DoesNotWaitWhileBelowTheBound) {
  FrameFileWriter::Options options;
  options.max_in_flight = 8;
  std::atomic<bool> release{false};
  options.write = [&](const std::string&, int32_t, int32_t, const uint32_t*, int32_t) {
    while (!release) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    return true;
  };
  FrameFileWriter writer(options);
  const std::vector<uint32_t> frame(64, 7);
  for (int n = 0; n < 8; ++n) writer.Submit("/d/x", frame.data(), 8, 8);
  EXPECT_EQ(writer.stats().waits, 0);
  release = true;
  writer.WaitAll();
  EXPECT_EQ(writer.stats().written, 8);
}

TEST(FrameFileWriter, CountsFailedWrites) {
  FrameFileWriter writer;
  const std::vector<uint32_t> frame(20, 1);
  writer.Submit("/nonexistent-folder-zqr/temp000000.bmp", frame.data(), 20, 1);
  writer.WaitAll();
  EXPECT_EQ(writer.stats().failed, 1);
  EXPECT_EQ(writer.stats().written, 0);
}

}  // namespace
}  // namespace zqr::frames
