// The FFmpeg graph's grabber end: the two buffers alternate so that the kept frame is
// never the one being written, GetCurrentBuffer's copy refuses what it cannot do, and
// the selector chooses the callback; and its event queue hands events out in order.
#include "platform/ffmpeg/sample_grabber.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

#include "platform/ffmpeg/event_queue.h"

namespace zqr::platform::ffmpeg {
namespace {

constexpr int32_t kSize = 16;

class Calls : public SampleGrabberCallback {
 public:
  MediaStatus SampleCB(double time, const GrabbedSample& sample) override {
    samples.push_back(sample);
    sample_times.push_back(time);
    return MediaStatus::kOk;
  }
  MediaStatus BufferCB(double time, uint8_t* buffer, int32_t length) override {
    buffer_firsts.push_back(buffer[0]);
    buffer_lengths.push_back(length);
    buffer_times.push_back(time);
    return MediaStatus::kOk;
  }
  std::vector<GrabbedSample> samples;
  std::vector<double> sample_times;
  std::vector<uint8_t> buffer_firsts;
  std::vector<int32_t> buffer_lengths;
  std::vector<double> buffer_times;
};

// Converts `fill` into the grabber's next buffer and delivers it at `time`.
void DeliverFrame(SampleGrabber& grabber, uint8_t fill, RefTime time) {
  const int index = grabber.WriteIndex();
  std::memset(grabber.Buffer(index), fill, kSize);
  grabber.Deliver(index, time);
}

uint8_t KeptFill(SampleGrabber& grabber) {
  std::vector<uint8_t> copy(kSize, 0);
  int32_t size = kSize;
  EXPECT_EQ(grabber.CopyCurrent(&size, copy.data()), MediaStatus::kOk);
  EXPECT_EQ(size, kSize);
  return copy[kSize - 1];
}

TEST(SampleGrabber, TheKeptFrameIsNeverTheOneBeingWritten) {
  SampleGrabber grabber;
  ASSERT_TRUE(grabber.Allocate(kSize));
  grabber.SetBuffering(true);
  for (uint8_t fill = 1; fill <= 5; ++fill) {
    DeliverFrame(grabber, fill, fill * kUnitsPerSecond);
    EXPECT_EQ(KeptFill(grabber), fill);
    // The next frame goes into the other buffer, leaving the kept one whole.
    std::memset(grabber.Buffer(grabber.WriteIndex()), 0xEE, kSize);
    EXPECT_EQ(KeptFill(grabber), fill);
  }
  // The frame a paused graph is cued on is kept without reaching the callback.
  Calls calls;
  grabber.SetCallback(&calls, kSelectBufferCB);
  const int cued = grabber.WriteIndex();
  std::memset(grabber.Buffer(cued), 9, kSize);
  grabber.Keep(cued);
  EXPECT_EQ(KeptFill(grabber), 9);
  EXPECT_TRUE(calls.buffer_firsts.empty());
}

TEST(SampleGrabber, CopyRefusesWhatItCannotDo) {
  SampleGrabber unallocated;
  unallocated.SetBuffering(true);
  int32_t size = kSize;
  EXPECT_EQ(unallocated.CopyCurrent(&size, nullptr), MediaStatus::kNoSample);

  SampleGrabber grabber;
  ASSERT_TRUE(grabber.Allocate(kSize));
  EXPECT_EQ(grabber.CopyCurrent(nullptr, nullptr), MediaStatus::kInvalidArgument);
  // Without buffering nothing is kept.
  DeliverFrame(grabber, 1, 0);
  EXPECT_EQ(grabber.CopyCurrent(&size, nullptr), MediaStatus::kNoSample);
  grabber.SetBuffering(true);
  EXPECT_EQ(grabber.CopyCurrent(&size, nullptr), MediaStatus::kNoSample);

  DeliverFrame(grabber, 2, 0);
  size = 0;
  EXPECT_EQ(grabber.CopyCurrent(&size, nullptr), MediaStatus::kOk);
  EXPECT_EQ(size, kSize);
  std::vector<uint8_t> small(kSize - 1, 0);
  size = kSize - 1;
  EXPECT_EQ(grabber.CopyCurrent(&size, small.data()), MediaStatus::kInvalidArgument);
  EXPECT_EQ(size, kSize - 1);
  EXPECT_EQ(small[0], 0);
}

TEST(SampleGrabber, SelectorChoosesTheCallbackAndNullRemovesIt) {
  SampleGrabber grabber;
  ASSERT_TRUE(grabber.Allocate(kSize));
  Calls calls;
  grabber.SetCallback(&calls, kSelectSampleCB);
  DeliverFrame(grabber, 3, 5'000'000);
  ASSERT_EQ(calls.samples.size(), 1u);
  EXPECT_EQ(calls.samples[0].length, kSize);
  EXPECT_EQ(calls.samples[0].start_time, 5'000'000);
  EXPECT_EQ(calls.samples[0].data[0], 3);
  EXPECT_DOUBLE_EQ(calls.sample_times[0], 0.5);
  EXPECT_TRUE(calls.buffer_firsts.empty());

  grabber.SetCallback(&calls, kSelectBufferCB);
  DeliverFrame(grabber, 4, 15'000'000);
  EXPECT_EQ(calls.samples.size(), 1u);
  ASSERT_EQ(calls.buffer_firsts.size(), 1u);
  EXPECT_EQ(calls.buffer_firsts[0], 4);
  EXPECT_EQ(calls.buffer_lengths[0], kSize);
  EXPECT_DOUBLE_EQ(calls.buffer_times[0], 1.5);

  grabber.SetCallback(nullptr, kSelectBufferCB);
  DeliverFrame(grabber, 5, 0);
  EXPECT_EQ(calls.buffer_firsts.size(), 1u);
}

TEST(EventQueue, EventsComeOutInOrderThenNone) {
  EventQueue queue;
  int32_t code = 0;
  intptr_t p1 = 1, p2 = 2;
  EXPECT_EQ(queue.Take(&code, &p1, &p2, 0), MediaStatus::kNoEvent);
  EXPECT_EQ(queue.Take(&code, &p1, &p2, 10), MediaStatus::kNoEvent);
  EXPECT_EQ(queue.Take(nullptr, &p1, &p2, 0), MediaStatus::kInvalidArgument);
  queue.Post(kEcComplete);
  queue.Post(7);
  EXPECT_EQ(queue.Take(&code, &p1, &p2, 0), MediaStatus::kOk);
  EXPECT_EQ(code, kEcComplete);
  EXPECT_EQ(p1, 0);
  EXPECT_EQ(p2, 0);
  EXPECT_EQ(queue.Take(&code, &p1, &p2, 0), MediaStatus::kOk);
  EXPECT_EQ(code, 7);
  EXPECT_EQ(queue.Take(&code, &p1, &p2, 0), MediaStatus::kNoEvent);
}

TEST(EventQueue, AWaitingTakerGetsAnEventPostedLater) {
  EventQueue queue;
  int32_t code = 0;
  intptr_t p1 = 0, p2 = 0;
  MediaStatus taken = MediaStatus::kNoEvent;
  std::thread taker([&] { taken = queue.Take(&code, &p1, &p2, -1); });
  queue.Post(kEcComplete);
  taker.join();
  EXPECT_EQ(taken, MediaStatus::kOk);
  EXPECT_EQ(code, kEcComplete);
}

}  // namespace
}  // namespace zqr::platform::ffmpeg
