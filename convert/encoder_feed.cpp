// The encoder fed while recording: one thread per feed takes the frame files in number
// order, converts each into the encoder's 4:2:0 picture and writes it into the encoder's
// standard input; the pipe's back-pressure keeps it no further ahead than the encoder.
#include "convert/encoder_feed.h"

#include <filesystem>
#include <system_error>
#include <vector>

#include "frames/frame_file.h"
#include "frames/yuv420.h"
#include "platform/files.h"

namespace zqr {

void FeedOrder::Written(int32_t number) {
  if (number < next_) return;
  waiting_.insert(number);
  if (number > highest_) highest_ = number;
}

void FeedOrder::Finish(int32_t slots) {
  slots_ = slots < 0 ? 0 : slots;
}

FeedOrder::Step FeedOrder::Next() {
  for (;;) {
    if (slots_ >= 0 && next_ >= slots_) return {Step::kDone, -1};
    if (auto found = waiting_.find(next_); found != waiting_.end()) {
      waiting_.erase(found);
      last_sent_ = next_++;
      return {Step::kSend, last_sent_};
    }
    // A later file is written (they come in number order) or none will come: this number
    // has no file of its own.
    if (highest_ <= next_ && slots_ < 0) return {Step::kWait, -1};
    ++next_;
    if (last_sent_ >= 0) return {Step::kSend, last_sent_};
    // Nothing before it to repeat: the number is left out.
  }
}

EncoderFeed::~EncoderFeed() {
  if (started() && !waited_) Abort();
}

void EncoderFeed::FileWritten(const std::string& path, bool written) {
  const int32_t number = frames::FrameFileNumber(path);
  {
    std::lock_guard lock(mutex_);
    if (!written) {
      failed_ = true;
    } else if (number >= 0) {
      order_.Written(number);
    }
  }
  changed_.notify_all();
}

bool EncoderFeed::Start(const EncoderInputs& inputs, const std::string& command_line,
                        const std::string& messages_file, bool delete_fed_files) {
  if (started() || command_line.empty()) return false;
  platform::Redirections redirections;
  redirections.error_path = messages_file;
  if (!encoder_.Start(command_line, redirections)) return false;
  inputs_ = inputs;
  delete_fed_files_ = delete_fed_files;
  pump_ = std::thread([this] { Pump(); });
  return true;
}

void EncoderFeed::Pump() {
  const int32_t width = inputs_.frame_width;
  const int32_t height = inputs_.frame_height;
  const int64_t file_size = frames::FrameFileSize(width, height);
  std::vector<uint8_t> picture(static_cast<size_t>(frames::Yuv420SizeFor(width, height).bytes));
  platform::UncachedReader reader;
  int32_t in_picture = -1;  // the file whose picture `picture` holds
  for (;;) {
    FeedOrder::Step step;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(lock, [&] {
        if (aborted_ || failed_) return true;
        step = order_.Next();
        return step.kind != FeedOrder::Step::kWait;
      });
      if (aborted_ || failed_) break;
    }
    if (step.kind == FeedOrder::Step::kDone) break;
    bool sent = true;
    if (step.file != in_picture) {
      // A frame file of the recording's size, else something else took its name.
      const std::string path = frames::FrameFileName(inputs_.temp_folder, step.file);
      sent = reader.Read(path) && static_cast<int64_t>(reader.size()) == file_size;
      if (sent) {
        frames::BottomUpBgraToYuv420(
            reinterpret_cast<const uint8_t*>(reader.data()) + frames::kFrameFileHeaderBytes, width,
            height, picture.data());
        in_picture = step.file;
        // Repeats over a gap come from `picture`: the file is not read again.
        std::error_code error;
        if (delete_fed_files_ && std::filesystem::remove(path, error)) {
          std::lock_guard lock(mutex_);
          ++deleted_;
        }
      }
    }
    if (!sent) {
      std::lock_guard lock(mutex_);
      failed_ = true;
      break;
    }
    // An encoder that has all it wants (it reads only its -t duration) or has failed stops
    // reading; its exit status and its output say which, not the closed pipe.
    if (!encoder_.Send(picture.data(), picture.size())) break;
  }
  encoder_.CloseInput();
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
    std::lock_guard lock(mutex_);
    if (failed_ || aborted_) exit_code_ = -1;
  }
  return exit_code_;
}

void EncoderFeed::Abort() {
  if (!started() || waited_) return;
  {
    std::lock_guard lock(mutex_);
    aborted_ = true;
  }
  changed_.notify_all();
  encoder_.Kill();
  Wait();
}

bool EncoderFeed::EncoderEnded() const {
  return !started() || encoder_.Ended();
}

int32_t EncoderFeed::files_deleted() const {
  std::lock_guard lock(mutex_);
  return deleted_;
}

}  // namespace zqr
