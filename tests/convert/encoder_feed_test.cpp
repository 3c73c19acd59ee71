// The order in which the encoder fed while recording gets its pictures: one per number,
// the frame before a gap repeated over it, and nothing sent before it is known.
#include "convert/encoder_feed.h"

#include <gtest/gtest.h>

#include <vector>

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

TEST(FeedOrder, NothingBeforeTheFirstFileAndNothingAfterTheEnd) {
  FeedOrder order;
  order.Written(2);  // 0 and 1 have nothing before them to repeat
  order.Finish(3);
  bool done = false;
  EXPECT_EQ(Drain(order, &done), (std::vector<int32_t>{2}));
  EXPECT_TRUE(done);

  FeedOrder empty;
  empty.Finish(0);
  EXPECT_TRUE(Drain(empty, &done).empty());
  EXPECT_TRUE(done);
}

}  // namespace
}  // namespace zqr
