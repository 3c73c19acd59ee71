// Encoding while recording. The encoder is the slowest stage of a conversion and needs
// nothing but the processed frames and the sound file, so rather than waiting for the whole
// recording it is started as soon as the sound file is ready, and the frames are handed to
// it through its standard input, in number order, straight from the frame step: each is
// converted on the recording's thread into the 4:2:0 picture the encoder makes of it anyway
// (frames/yuv420.h, a fraction of the encoder's cost) and queued for a feeding thread that
// writes it into the pipe. The queue holds a few pictures: the recording waits when it is
// full, so memory stays flat and the encoder never waits for a disk. Frame files, where
// the window writes them for another compression, go their own way beside it. The command
// line is the export's own with the frames coming from the pipe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "convert/encoder_command.h"
#include "platform/process.h"
#include "video/frame_callback.h"

namespace zqr {

// Which frame file goes to the encoder for the next number. The writers finish the files in
// number order, but a recording leaves numbers without a file where the video skipped
// frames (they are filled with the frame before afterwards); the encoder needs one picture
// per number all the same, so over a gap it gets the last file again. Numbers are written in
// rising order (the recording numbers its frames so), which keeps the waiting ones a queue.
class FeedOrder {
 public:
  // False for a number that is not above every one written before: it is left out.
  bool Written(int32_t number);
  // No more files will come; the recording has numbers 0 .. slots - 1.
  void Finish(int32_t slots);

  struct Step {
    enum Kind { kWait, kSend, kDone } kind = kWait;
    int32_t file = -1;  // for kSend: the number of the file to send
  };
  // The next step, advancing past a kSend.
  Step Next();

 private:
  int32_t next_ = 0;
  int32_t highest_ = -1;  // the highest number written so far
  int32_t last_sent_ = -1;
  int32_t slots_ = -1;           // -1 until Finish
  std::deque<int32_t> waiting_;  // rising
};

class EncoderFeed final : public RecordedFrameSink {
 public:
  // Pictures of frames of width x height pixels; at most `queued` wait for the encoder.
  // With `full_colour` each picture is the frame's 32-bit pixels, top line first, for an
  // encoder that keeps 4:4:4 colour.
  EncoderFeed(int32_t width, int32_t height, int32_t queued = 4, bool full_colour = false);
  ~EncoderFeed();  // aborts a feed still running
  EncoderFeed(const EncoderFeed&) = delete;
  EncoderFeed& operator=(const EncoderFeed&) = delete;

  // From the recording's thread: the frame of number `number` (rows bottom line first,
  // `stride` pixels apart), converted and queued. Waits while the queue is full; returns at
  // once, keeping nothing, once the feed has been aborted or has failed.
  void Picture(int32_t number, const uint32_t* pixels, int32_t stride) override;
  // Starts the encoder for frames from the pipe and the thread that feeds it; the pictures
  // queued so far go first. The tool's messages go to `messages_file`.
  bool Start(const EncoderInputs& inputs, const std::string& command_line,
             const std::string& messages_file);
  bool started() const { return pump_.joinable(); }
  bool full_colour() const { return full_colour_; }
  // What the encoder was started with (frames_from_pipe set).
  const EncoderInputs& inputs() const { return inputs_; }
  // Whether the recording's thread is waiting for room in the queue.
  bool recording_waits() const;
  // The recording is over with `slots` numbers; the rest is fed, then the input closed.
  void Finish(int32_t slots);
  // Waits for the feed and the encoder. The tool's exit status; -1 when it ended by a
  // signal, was aborted, or never started.
  int Wait();
  // Whether the encoder has ended (Wait then returns at once).
  bool EncoderEnded() const;
  // Stops at once: the encoder is killed, nothing more is queued or fed.
  void Abort();
  int64_t pictures_sent() const;

 private:
  void Pump();

  int32_t width_;
  int32_t height_;
  bool full_colour_;
  size_t picture_bytes_;
  int32_t queued_limit_;
  EncoderInputs inputs_;
  platform::ChildProcess encoder_;
  std::thread pump_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  FeedOrder order_;
  struct Queued {
    int32_t number;
    std::vector<uint8_t> picture;
  };
  std::deque<Queued> queued_;  // in rising number order, as FeedOrder has them
  std::vector<std::vector<uint8_t>> spare_;
  int32_t buffers_ = 0;  // pictures made: queued, being sent or spare
  bool waiting_ = false;
  bool aborted_ = false;
  bool waited_ = false;
  int exit_code_ = -1;
  int64_t sent_ = 0;
};

}  // namespace zqr
