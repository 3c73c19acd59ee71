// The FFmpeg graph's streaming thread: it takes the control side's orders (quit, seek,
// run), decodes the next frame, makes it whole when it is interlaced, converts it into the
// grabber buffer that is not kept, waits for the frame's turn (at once without a clock,
// paced to real time with one), and delivers it. The file's sound is decoded on the same
// thread while the graph runs with its clock.
extern "C" {
#include <libavcodec/avcodec.h>
}

#include <algorithm>

#include "platform/ffmpeg/ffmpeg_graph_impl.h"

namespace zqr::platform::ffmpeg {

void FfmpegGraph::StartStreamingLocked() {
  if (thread_.joinable() || !convertible_) return;
  thread_ = std::thread([this] { StreamingThread(); });
}

void FfmpegGraph::StreamingThread() {
  const PacketPtr packet = MakePacket();
  const FramePtr frame = MakeFrame();
  if (packet == nullptr || frame == nullptr) return;
  Cue cue;
  for (;;) {
    RefTime seek_target = 0;
    const Order order = TakeOrder(cue, &seek_target);
    if (order == Order::kQuit) break;
    if (order == Order::kSeek) {
      Seek(seek_target, cue);
    } else if (order == Order::kDecode) {
      DecodeOne(*packet, *frame, cue);
    } else {
      const Turn turn = AwaitTurn(cue);
      if (turn == Turn::kQuit) break;
      if (turn == Turn::kDeliver) DeliverPending(cue);
    }
  }
  if (sound_decoder_.IsOpen() || sound_failed_) PreviewSound::ReleaseThreadState();
}

// Seeks and the end of the graph come first; with no frame waiting, decoding waits while
// the graph is stopped.
FfmpegGraph::Order FfmpegGraph::TakeOrder(const Cue& cue, RefTime* seek_target) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (quit_) return Order::kQuit;
    if (seek_requested_) {
      seek_requested_ = false;
      interrupt_ = false;
      *seek_target = seek_target_;
      return Order::kSeek;
    }
    if (cue.pending || cue.at_end) return Order::kAwaitTurn;
    if (run_state_ != RunState::kStopped) {
      interrupt_ = false;
      return Order::kDecode;
    }
    wake_.wait(lock);
  }
}

void FfmpegGraph::Seek(RefTime target, Cue& cue) {
  {
    std::lock_guard lock(mutex_);
    video_beyond_end_.clear();
  }
  demuxer_.Seek(target);
  video_.Flush();
  deinterlacer_.Flush();
  sound_decoder_.Flush();
  discard_before_ = target;
  cue = Cue{};
}

// Frames before a seek's target (decoded from the key frame before it) are dropped.
void FfmpegGraph::DecodeOne(AVPacket& packet, AVFrame& frame, Cue& cue) {
  const Decoded decoded = DecodeNextFrame(packet, frame);
  if (decoded == Decoded::kEnd) cue.at_end = true;
  if (decoded != Decoded::kFrame) return;
  deinterlacer_.Apply(frame);
  const RefTime time = video_.FrameTime(frame);
  const RefTime half_frame = video_.NominalFrameDuration() / 2;
  const bool before_target = discard_before_ > 0 && time + half_frame <= discard_before_;
  const int index = grabber_.WriteIndex();
  if (!before_target && scaler_.Convert(frame, grabber_.Buffer(index))) {
    discard_before_ = 0;
    cue.pending = true;
    cue.prerolled = false;
    cue.index = index;
    cue.time = time;
  }
  av_frame_unref(&frame);
}

// Feeds the decoders from the demuxer until the video decoder gives a frame, the stream
// ends, or a control call interrupts.
FfmpegGraph::Decoded FfmpegGraph::DecodeNextFrame(AVPacket& packet, AVFrame& frame) {
  for (;;) {
    if (interrupt_) return Decoded::kInterrupted;
    const VideoDecoder::Received received = video_.Receive(frame);
    if (received == VideoDecoder::Received::kFrame) return Decoded::kFrame;
    if (received == VideoDecoder::Received::kEnd) return Decoded::kEnd;
    switch (demuxer_.ReadPacket(packet)) {
      case Demuxer::Read::kRetry:
        continue;
      case Demuxer::Read::kEnd: {
        std::lock_guard lock(mutex_);
        video_beyond_end_ = demuxer_.VideoBeyondEnd();
        video_.Drain();
        continue;
      }
      case Demuxer::Read::kVideo:
        video_.Send(packet);
        break;
      case Demuxer::Read::kSound:
        if (SoundWanted()) PlaySound(packet);
        break;
      case Demuxer::Read::kOther:
        break;
    }
    av_packet_unref(&packet);
  }
}

// Waits until the pending frame is due, or the end of the stream may be posted. A paused
// graph meanwhile shows the preview the frame it is cued on.
FfmpegGraph::Turn FfmpegGraph::AwaitTurn(Cue& cue) {
  std::unique_lock lock(mutex_);
  for (;;) {
    if (quit_) return Turn::kQuit;
    if (seek_requested_) return Turn::kLater;
    if (run_state_ == RunState::kRunning) {
      if (cue.at_end && !cue.pending && end_posted_) {
        wake_.wait(lock);
        continue;
      }
      if (!clock_on_ || cue.at_end) break;
      const auto due = anchor_wall_ + std::chrono::nanoseconds((cue.time - anchor_stream_) * 100);
      if (Clock::now() >= due) break;
      wake_.wait_until(lock, due);
      continue;
    }
    if (run_state_ == RunState::kPaused && cue.pending && cue.cueing && !cue.prerolled) {
      lock.unlock();
      grabber_.Keep(cue.index);
      lock.lock();
      cue.prerolled = true;
      continue;
    }
    wake_.wait(lock);
  }
  if (cue.pending) return Turn::kDeliver;
  PostEndLocked();
  return Turn::kLater;
}

void FfmpegGraph::PostEndLocked() {
  if (end_posted_) return;
  end_posted_ = true;
  if (duration_ > 0) position_ = std::max(position_, duration_);
  events_.Post(kEcComplete);
}

void FfmpegGraph::DeliverPending(Cue& cue) {
  grabber_.Deliver(cue.index, cue.time);
  cue.pending = false;
  cue.cueing = false;
  std::lock_guard lock(mutex_);
  position_ = std::clamp<RefTime>(cue.time, 0, duration_ > 0 ? duration_ : cue.time);
  // A one-shot grabber ends the stream after its first sample.
  if (one_shot_ && !seek_requested_) cue.at_end = true;
}

std::string FfmpegGraph::VideoBeyondEnd() {
  std::lock_guard lock(mutex_);
  return video_beyond_end_;
}

bool FfmpegGraph::SoundWanted() const {
  return sound_enabled_ && sound_live_ && !sound_failed_ && volume_ > kVolumeSilent;
}

void FfmpegGraph::PlaySound(const AVPacket& packet) {
  if (sound_failed_) return;
  if (!sound_decoder_.IsOpen() && !OpenSound()) {
    sound_failed_ = true;  // no device, or an undecodable track: the preview stays silent
    return;
  }
  sound_decoder_.Play(packet, volume_);
}

// The device is owned by the graph, whose control calls pause and clear it; the sound
// decoder only feeds it.
bool FfmpegGraph::OpenSound() {
  auto sound = std::make_unique<PreviewSound>();
  if (!sound_decoder_.Open(*demuxer_.Sound(), *sound)) return false;
  std::lock_guard lock(mutex_);
  sound->SetPaused(!(run_state_ == RunState::kRunning && clock_on_));
  sound_ = std::move(sound);
  return true;
}

}  // namespace zqr::platform::ffmpeg
