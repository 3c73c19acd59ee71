// The encoder fed while recording: the recording's thread converts each frame and queues
// its picture; one thread per feed takes them in number order and writes them into the
// encoder's standard input, whose back-pressure keeps the queue no further ahead than the
// encoder.
#include "convert/encoder_feed.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "frames/yuv420.h"

namespace zqr {

bool FeedOrder::Written(int32_t number) {
  if (number < next_ || number <= highest_) return false;
  waiting_.push_back(number);
  highest_ = number;
  return true;
}

void FeedOrder::Finish(int32_t slots) {
  slots_ = slots < 0 ? 0 : slots;
}

FeedOrder::Step FeedOrder::Next() {
  for (;;) {
    if (slots_ >= 0 && next_ >= slots_) return {Step::kDone, -1};
    // Numbers before the first picture (a picture that starts late) show that picture.
    if (last_sent_ < 0 && !waiting_.empty() && waiting_.front() > next_) {
      ++next_;
      return {Step::kSend, waiting_.front()};
    }
    if (!waiting_.empty() && waiting_.front() == next_) {
      waiting_.pop_front();
      last_sent_ = next_++;
      return {Step::kSend, last_sent_};
    }
    // A later file is written (they come in number order) or none will come: this number
    // has no file of its own.
    if (highest_ <= next_ && slots_ < 0) return {Step::kWait, -1};
    ++next_;
    if (last_sent_ >= 0) return {Step::kSend, last_sent_};
    // Nothing before it to repeat, and nothing after it yet: the number is left out.
  }
}

EncoderFeed::EncoderFeed(int32_t width, int32_t height, int32_t queued, bool full_colour)
    : width_(width),
      height_(height),
      full_colour_(full_colour),
      picture_bytes_(full_colour ? static_cast<size_t>(std::max(width, 0)) *
                                       static_cast<size_t>(std::max(height, 0)) * 4
                                 : static_cast<size_t>(frames::Yuv420SizeFor(width, height).bytes)),
      queued_limit_(std::max(queued, 2)) {}

EncoderFeed::~EncoderFeed() {
  if (started() && !waited_) Abort();
}

void EncoderFeed::Picture(int32_t number, const uint32_t* pixels, int32_t stride) {
  if (number < 0) return;
  std::vector<uint8_t> picture;
  {
    std::unique_lock lock(mutex_);
    // One buffer beyond the queue's limit is the one the pump is sending.
    waiting_ = true;
    changed_.wait(lock, [&] { return aborted_ || !spare_.empty() || buffers_ < queued_limit_; });
    waiting_ = false;
    if (aborted_) return;
    if (!spare_.empty()) {
      picture = std::move(spare_.back());
      spare_.pop_back();
    } else {
      ++buffers_;
    }
  }
  picture.resize(picture_bytes_);
  if (full_colour_) {
    const size_t line = static_cast<size_t>(width_) * 4;
    for (int32_t y = 0; y < height_; ++y) {
      std::memcpy(picture.data() + static_cast<size_t>(y) * line,
                  pixels + static_cast<int64_t>(height_ - 1 - y) * stride, line);
    }
  } else {
    frames::BottomUpBgraToYuv420(reinterpret_cast<const uint8_t*>(pixels), width_, height_, stride,
                                 picture.data());
  }
  {
    std::lock_guard lock(mutex_);
    if (order_.Written(number)) {
      queued_.push_back({number, std::move(picture)});
    } else {
      spare_.push_back(std::move(picture));  // out of order: it would never be sent
    }
  }
  changed_.notify_all();
}

bool EncoderFeed::Start(const EncoderInputs& inputs, const std::string& command_line,
                        const std::string& messages_file) {
  if (started() || command_line.empty()) return false;
  platform::Redirections redirections;
  redirections.error_path = messages_file;
  redirections.new_files = true;  // the caller removed an old one: made new
  if (!encoder_.Start(command_line, redirections)) return false;
  inputs_ = inputs;
  pump_ = std::thread([this] { Pump(); });
  return true;
}

void EncoderFeed::Pump() {
  std::vector<uint8_t> last;  // the picture sent last, repeated over a gap
  for (;;) {
    FeedOrder::Step step;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] {
        if (aborted_) return true;
        step = order_.Next();
        return step.kind != FeedOrder::Step::kWait;
      });
      if (aborted_ || step.kind == FeedOrder::Step::kDone) break;
      if (!queued_.empty() && queued_.front().number == step.file) {
        if (!last.empty()) spare_.push_back(std::move(last));
        last = std::move(queued_.front().picture);
        queued_.pop_front();
      }
    }
    changed_.notify_all();  // a buffer may have come free
    // An encoder that has all it wants (it reads only its -t duration) or has failed stops
    // reading; its exit status and its output say which, not the closed pipe.
    if (!encoder_.Send(last.data(), last.size())) break;
    std::lock_guard lock(mutex_);
    ++sent_;
  }
  encoder_.CloseInput();
  // Nothing more is sent: a recording still queueing must not wait for it.
  std::lock_guard lock(mutex_);
  aborted_ = true;
  changed_.notify_all();
}

bool EncoderFeed::recording_waits() const {
  std::lock_guard lock(mutex_);
  return waiting_;
}

void EncoderFeed::Finish(int32_t slots) {
  {
    std::lock_guard lock(mutex_);
    order_.Finish(slots);
  }
  changed_.notify_all();
}

int EncoderFeed::Wait() {
  if (!started()) return -1;
  if (!waited_) {
    pump_.join();
    exit_code_ = encoder_.Wait();
    waited_ = true;
  }
  return exit_code_;
}

bool EncoderFeed::EncoderEnded() const {
  return !started() || encoder_.Ended();
}

void EncoderFeed::Abort() {
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  changed_.notify_all();
  if (!started() || waited_) return;
  encoder_.Kill();
  Wait();
  exit_code_ = -1;
}

int64_t EncoderFeed::pictures_sent() const {
  std::lock_guard lock(mutex_);
  return sent_;
}

}  // namespace zqr
