// Encoding while recording. The encoder is the slowest stage of a conversion and needs
// nothing but the frame files and the sound file, so rather than waiting for the whole
// recording it is started as soon as the sound file is ready, and the frame files are
// passed to it through its standard input, in number order, as the writers finish them.
// They go as the 4:2:0 pictures the encoder makes of them anyway (frames/yuv420.h), which
// we convert at a fraction of the encoder's cost. The files stay in the temporary folder
// for another compression; the command line is the export's own with the frames coming
// from the pipe.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>
#include <string>
#include <thread>

#include "convert/encoder_command.h"
#include "platform/process.h"

namespace zqr {

// Which frame file goes to the encoder for the next number. The writers finish the files in
// number order, but a recording leaves numbers without a file where the video skipped
// frames (they are filled with the frame before afterwards); the encoder needs one picture
// per number all the same, so over a gap it gets the last file again.
class FeedOrder {
 public:
  void Written(int32_t number);
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
  int32_t slots_ = -1;  // -1 until Finish
  std::set<int32_t> waiting_;
};

class EncoderFeed {
 public:
  EncoderFeed() = default;
  ~EncoderFeed();  // aborts a feed still running
  EncoderFeed(const EncoderFeed&) = delete;
  EncoderFeed& operator=(const EncoderFeed&) = delete;

  // From the writers' thread: a frame file has been written (or failed).
  void FileWritten(const std::string& path, bool written);
  // Starts the encoder for frames from the pipe and the thread that feeds it; the frame
  // files already written go first. The tool's messages go to `messages_file`. With
  // `delete_fed_files`, each file is deleted once its picture is taken.
  bool Start(const EncoderInputs& inputs, const std::string& command_line,
             const std::string& messages_file, bool delete_fed_files = false);
  bool deletes_fed_files() const { return delete_fed_files_; }
  bool started() const { return pump_.joinable(); }
  // What the encoder was started with (frames_from_pipe set).
  const EncoderInputs& inputs() const { return inputs_; }
  // The recording is over with `slots` numbers; the rest is fed, then the input closed.
  void Finish(int32_t slots);
  // Waits for the feed and the encoder. The tool's exit status; -1 when it ended by a
  // signal, was aborted, or when a frame file could not be read.
  int Wait();
  // Whether the encoder has ended (Wait then returns at once).
  bool EncoderEnded() const;
  // Stops at once: the encoder is killed, nothing more is fed.
  void Abort();
  int32_t files_deleted() const;

 private:
  void Pump();

  EncoderInputs inputs_;
  bool delete_fed_files_ = false;
  platform::ChildProcess encoder_;
  std::thread pump_;
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  FeedOrder order_;
  bool aborted_ = false;
  bool failed_ = false;  // a file could not be written, read or handed over
  int32_t deleted_ = 0;
  bool waited_ = false;
  int exit_code_ = -1;
};

}  // namespace zqr
