// The encoder fed while recording: its pictures come from memory in number order, one per
// number, the frame before a gap repeated over it, nothing sent before it is known, and a
// full queue holds the recording back.
#include "convert/encoder_feed.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include "frames/yuv420.h"
#include "tests/support/test_support.h"

namespace zqr {
namespace {

// The files sent until the order has to wait (or is done).
std::vector<int32_t> Drain(FeedOrder& order, bool* done = nullptr) {
  std::vector<int32_t> sent;
  for (;;) {
    const FeedOrder::Step step = order.Next();
    if (step.kind != FeedOrder::Step::kSend) {
      if (done != nullptr) *done = step.kind == FeedOrder::Step::kDone;
      return sent;
    }
    sent.push_back(step.file);
  }
}

TEST(FeedOrder, OnePicturePerNumberWithGapsFilledByTheFrameBefore) {
  FeedOrder order;
  EXPECT_TRUE(Drain(order).empty());
  order.Written(0);
  order.Written(1);
  EXPECT_EQ(Drain(order), (std::vector<int32_t>{0, 1}));
  // 2 and 3 have no file of their own: the recording skipped them.
  order.Written(4);
  EXPECT_EQ(Drain(order), (std::vector<int32_t>{1, 1, 4}));
  order.Written(6);
  order.Written(7);
  bool done = true;
  EXPECT_EQ(Drain(order, &done), (std::vector<int32_t>{4, 6, 7}));
  EXPECT_FALSE(done);
  // A gap at the end shows only when the recording is over.
  order.Finish(9);
  EXPECT_EQ(Drain(order, &done), (std::vector<int32_t>{7}));
  EXPECT_TRUE(done);
}

TEST(FeedOrder, TheFirstFileFillsTheNumbersBeforeItAndNothingComesAfterTheEnd) {
  FeedOrder order;
  order.Written(2);  // a picture that starts late is shown from the start
  order.Written(3);
  order.Finish(4);
  bool done = false;
  EXPECT_EQ(Drain(order, &done), (std::vector<int32_t>{2, 2, 2, 3}));
  EXPECT_TRUE(done);

  FeedOrder empty;
  empty.Finish(0);
  EXPECT_TRUE(Drain(empty, &done).empty());
  EXPECT_TRUE(done);
}

// A 4 x 2 frame array (stride 6: the crop leaves two columns out) of one colour.
std::vector<uint32_t> Frame(uint32_t colour) {
  return std::vector<uint32_t>(6 * 3, colour);
}

std::string PictureOf(const std::vector<uint32_t>& frame) {
  std::string picture(static_cast<size_t>(frames::Yuv420SizeFor(4, 2).bytes), '\0');
  frames::BottomUpBgraToYuv420(reinterpret_cast<const uint8_t*>(frame.data()), 4, 2, 6,
                               reinterpret_cast<uint8_t*>(picture.data()));
  return picture;
}

// A command that keeps what it reads in `file`: cat under the shell, or where there is no
// shell (Windows) the ffmpeg beside the program copying the 4 x 2 pictures as they come.
std::string Recorder(const std::string& file) {
#if defined(_WIN32)
  return "\"" + test::BinDir() + "/PLUG-IN/ffmpeg.exe\" -v error -f rawvideo -pix_fmt yuv420p " +
         "-s 4x2 -i - -f rawvideo -y \"" + file + "\"";
#else
  return "sh -c \"cat > '" + file + "'\"";
#endif
}

TEST(EncoderFeed, PicturesFromMemoryInNumberOrderAndTheRecordingWaitsForRoom) {
  test::ScratchDir dir;
  EncoderFeed feed(4, 2, 2);
  const std::vector<uint32_t> red = Frame(0x00FF0000), green = Frame(0x0000FF00),
                              blue = Frame(0x000000FF);
  feed.Picture(0, red.data(), 6);
  feed.Picture(1, green.data(), 6);
  // The queue is full and no encoder takes pictures yet: the next frame waits.
  std::thread third([&] { feed.Picture(3, blue.data(), 6); });
  for (int k = 0; k < 500 && !feed.recording_waits(); ++k) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  EXPECT_TRUE(feed.recording_waits());
  EncoderInputs inputs;
  const bool started = feed.Start(inputs, Recorder(dir.File("fed.yuv")), "");
  if (!started) feed.Abort();  // lets the waiting frame go
  third.join();
  ASSERT_TRUE(started);
  feed.Finish(4);  // number 2 has no frame: the one before is sent again
  EXPECT_EQ(feed.Wait(), 0);
  EXPECT_EQ(test::ReadFile(dir.File("fed.yuv")),
            PictureOf(red) + PictureOf(green) + PictureOf(green) + PictureOf(blue));
  EXPECT_EQ(feed.pictures_sent(), 4);

  // Aborted, it keeps nothing and holds no frame back.
  EncoderFeed aborted(4, 2, 2);
  aborted.Abort();
  for (int k = 0; k < 5; ++k) aborted.Picture(k, red.data(), 6);
  EXPECT_FALSE(aborted.recording_waits());
}

}  // namespace
}  // namespace zqr
