// The frame-grabbing graph on FFmpeg: one demuxer per graph, the video decoder with its
// frame threads, a swscale context writing bottom-up BGRX into two reused buffers (the
// one being filled and the newest delivered, which GetCurrentBuffer reads), and one
// streaming thread that decodes, converts and delivers, paced by a wall clock when the
// graph has one. The sound of the file is decoded on the same thread while the graph
// runs with its clock, and queued to the preview sound device. A video that asks to be
// shown turned (a phone held upright records its picture sideways and says so) is turned
// as ffmpeg's own autorotation turns it, so every consumer sees it upright.
#include "platform/ffmpeg/ffmpeg_graph.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/channel_layout.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/ffmpeg/demuxer.h"
#include "platform/ffmpeg/libav_handles.h"
#include "platform/ffmpeg/preview_sound.h"
#include "platform/ffmpeg/sound_decoder.h"
#include "platform/ffmpeg/upright_scaler.h"
#include "platform/ffmpeg/video_decoder.h"
#include "platform/memory.h"

namespace zqr::platform {
namespace {
// The two sample buffers hold a whole RGB32 frame each and are written and read once per
// frame, so they live on large pages like the frame arrays.
uint8_t* AllocateSampleBuffer(size_t bytes) {
  return static_cast<uint8_t*>(AllocateLargeBuffer(bytes));
}

using Clock = std::chrono::steady_clock;
struct Event {
  int32_t code;
  intptr_t param1;
  intptr_t param2;
};

class FfmpegGraph final : public MediaGraph {
 public:
  FfmpegGraph() = default;
  ~FfmpegGraph() override;
  FfmpegGraph(const FfmpegGraph&) = delete;
  FfmpegGraph& operator=(const FfmpegGraph&) = delete;

  const char* Name() const override { return "ffmpeg"; }

  MediaStatus CreateSampleGrabber() override;
  MediaStatus AddGrabberFilter(const std::string& filter_name) override;
  MediaStatus SetMediaType(const MediaType& type) override;
  MediaStatus AddSourceFilter(const std::string& file_name,
                              const std::string& filter_name) override;
  MediaStatus ConnectSourceToGrabber() override;
  MediaStatus AddNullRenderer(const std::string& filter_name) override;
  MediaStatus ConnectGrabberToNullRenderer() override;

  MediaStatus SetBufferSamples(bool buffer) override;
  MediaStatus SetOneShot(bool one_shot) override;
  MediaStatus SetCallback(SampleGrabberCallback* callback, int32_t selector) override;
  MediaStatus GetConnectedMediaType(MediaType* type) override;
  MediaStatus GetCurrentBuffer(int32_t* size, void* buffer) override;

  MediaStatus RenderFile(const std::string& file_name) override;
  MediaStatus Run() override;
  MediaStatus Pause() override;
  MediaStatus Stop() override;

  MediaStatus SetDefaultSyncSource() override;
  MediaStatus SetNoSyncSource() override;

  MediaStatus GetTimeFormat(TimeFormat* format) override;
  MediaStatus SetTimeFormat(TimeFormat format) override;
  MediaStatus GetDuration(RefTime* duration) override;
  MediaStatus GetCurrentPosition(RefTime* position) override;
  MediaStatus SetPositions(RefTime* current, int32_t current_flags, RefTime* stop,
                           int32_t stop_flags) override;

  MediaStatus GetEvent(int32_t* event_code, intptr_t* param1, intptr_t* param2,
                       int32_t timeout_ms) override;
  MediaStatus FreeEventParams(int32_t event_code, intptr_t param1, intptr_t param2) override;

  MediaStatus PutVolume(int32_t volume) override;
  MediaStatus GetVolume(int32_t* volume) override;

 private:
  enum class RunState { kStopped, kPaused, kRunning };
  enum class Decoded { kFrame, kEnd, kInterrupted };

  // Streaming thread.
  void StartStreamingLocked();
  void StreamingThread();
  Decoded DecodeNextFrame(AVPacket& packet, AVFrame& frame);
  void PerformSeek(RefTime target);
  void Deliver(int index, RefTime time);
  void PublishSample(int index);
  int WriteIndex();
  void PostEventLocked(int32_t code);
  void AnchorClockLocked(RefTime stream_time);
  bool SoundWanted() const;
  void PlaySound(const AVPacket& packet);
  bool OpenSound();
  void DropSoundLocked();

  // Build state: written by the building thread before streaming starts, read-only after.
  bool grabber_created_ = false;
  bool grabber_added_ = false;
  bool grabber_type_set_ = false;
  bool renderer_added_ = false;
  bool source_connected_ = false;
  bool renderer_connected_ = false;
  bool convertible_ = false;
  std::string source_name_;
  ffmpeg::Demuxer demuxer_;
  ffmpeg::VideoDecoder video_;
  ffmpeg::UprightScaler scaler_;
  int32_t sample_size_ = 0;
  RefTime avg_time_per_frame_ = 0;
  RefTime duration_ = 0;
  TimeFormat time_format_ = TimeFormat::kMediaTime;

  // Streaming-thread state (owned by that thread once it runs).
  RefTime discard_before_ = 0;
  ffmpeg::SoundDecoder sound_decoder_;
  bool sound_failed_ = false;

  // Control state, guarded by mutex_.
  std::mutex mutex_;
  std::condition_variable wake_;
  std::thread thread_;
  RunState run_state_ = RunState::kStopped;
  bool clock_on_ = true;
  bool quit_ = false;
  bool seek_requested_ = false;
  RefTime seek_target_ = 0;
  bool end_posted_ = false;
  RefTime position_ = 0;
  Clock::time_point anchor_wall_{};
  RefTime anchor_stream_ = 0;
  bool one_shot_ = false;
  std::deque<Event> events_;
  std::condition_variable event_ready_;
  std::unique_ptr<ffmpeg::PreviewSound> sound_;
  // Read by the streaming thread between packets without the lock.
  std::atomic<bool> interrupt_{false};
  std::atomic<bool> sound_enabled_{false};
  std::atomic<bool> sound_live_{false};  // running with the clock
  std::atomic<int32_t> volume_{kVolumeFull};

  // The callback; held while it runs so SetCallback can wait for it to return.
  std::mutex callback_mutex_;
  SampleGrabberCallback* callback_ = nullptr;
  int32_t selector_ = kSelectSampleCB;

  // Sample buffers: one is filled by the converter while the other holds the newest
  // delivered frame; sample_mutex_ guards which is which.
  std::mutex sample_mutex_;
  uint8_t* buffers_[2] = {nullptr, nullptr};
  int current_sample_ = -1;
  std::atomic<bool> buffer_samples_{false};
};

FfmpegGraph::~FfmpegGraph() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    interrupt_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  sound_.reset();
  FreeLargeBuffer(buffers_[0]);
  FreeLargeBuffer(buffers_[1]);
}

// --- Building ---

MediaStatus FfmpegGraph::CreateSampleGrabber() {
  grabber_created_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::AddGrabberFilter(const std::string& /*filter_name*/) {
  if (!grabber_created_) return MediaStatus::kNotBuilt;
  grabber_added_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetMediaType(const MediaType& type) {
  if (!grabber_created_) return MediaStatus::kNotBuilt;
  const bool video_ok = type.majortype == MajorType::kVideo;
  const bool subtype_ok = type.subtype == SubType::kRgb32 || type.subtype == SubType::kNone;
  const bool format_ok =
      type.formattype == FormatType::kVideoInfo || type.formattype == FormatType::kNone;
  if (!video_ok || !subtype_ok || !format_ok) return MediaStatus::kUnsupported;
  grabber_type_set_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::AddSourceFilter(const std::string& file_name,
                                         const std::string& /*filter_name*/) {
  if (demuxer_.IsOpen()) return MediaStatus::kAlreadyDone;
  if (file_name.empty()) return MediaStatus::kInvalidArgument;
  const MediaStatus opened = demuxer_.Open(file_name);
  if (Failed(opened)) return opened;
  source_name_ = file_name;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::ConnectSourceToGrabber() {
  if (!demuxer_.IsOpen() || !grabber_added_) return MediaStatus::kNotBuilt;
  if (source_connected_) return MediaStatus::kAlreadyDone;
  const MediaStatus chosen = demuxer_.ChooseVideo();
  if (Failed(chosen)) return chosen;
  const ffmpeg::VideoTiming timing = demuxer_.Timing();
  const AVStream& stream = *demuxer_.Video();
  const MediaStatus opened =
      video_.Open(stream, *demuxer_.VideoCodec(), timing.origin, timing.frame_duration);
  if (Failed(opened)) return opened;
  avg_time_per_frame_ = timing.frame_duration;
  duration_ = timing.duration;
  // Whether the frames can be turned into RGB32 is known now; the grabber reports it
  // when asked for its connected type.
  if (scaler_.Setup(video_.Width(), video_.Height(), video_.PixelFormat(),
                    ffmpeg::QuarterTurns(stream))) {
    sample_size_ = scaler_.SampleSize();
    const auto bytes = static_cast<size_t>(sample_size_);
    buffers_[0] = AllocateSampleBuffer(bytes);
    buffers_[1] = AllocateSampleBuffer(bytes);
    convertible_ = buffers_[0] != nullptr && buffers_[1] != nullptr;
  }
  source_connected_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::AddNullRenderer(const std::string& /*filter_name*/) {
  renderer_added_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::ConnectGrabberToNullRenderer() {
  if (!renderer_added_ || !grabber_added_) return MediaStatus::kNotBuilt;
  if (!source_connected_) return MediaStatus::kNotBuilt;
  renderer_connected_ = true;
  return MediaStatus::kOk;
}

// --- Sample grabber ---

MediaStatus FfmpegGraph::SetBufferSamples(bool buffer) {
  if (!grabber_created_) return MediaStatus::kNotBuilt;
  buffer_samples_ = buffer;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetOneShot(bool one_shot) {
  if (!grabber_created_) return MediaStatus::kNotBuilt;
  std::lock_guard lock(mutex_);
  one_shot_ = one_shot;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetCallback(SampleGrabberCallback* callback, int32_t selector) {
  if (!grabber_created_) return MediaStatus::kNotBuilt;
  if (selector != kSelectSampleCB && selector != kSelectBufferCB)
    return MediaStatus::kInvalidArgument;
  std::lock_guard lock(callback_mutex_);
  callback_ = callback;
  selector_ = selector;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetConnectedMediaType(MediaType* type) {
  if (type == nullptr) return MediaStatus::kInvalidArgument;
  if (!source_connected_) return MediaStatus::kNotBuilt;
  if (!convertible_) return MediaStatus::kUnsupported;
  MediaType connected;
  connected.majortype = MajorType::kVideo;
  connected.subtype = SubType::kRgb32;
  connected.formattype = FormatType::kVideoInfo;
  connected.lSampleSize = sample_size_;
  connected.format.AvgTimePerFrame = avg_time_per_frame_;
  connected.format.Width = scaler_.Width();
  connected.format.Height = scaler_.Height();
  connected.format.Planes = 1;
  connected.format.BitCount = 32;
  connected.format.SizeImage = static_cast<uint32_t>(sample_size_);
  *type = connected;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetCurrentBuffer(int32_t* size, void* buffer) {
  if (size == nullptr) return MediaStatus::kInvalidArgument;
  if (!buffer_samples_ || !convertible_) return MediaStatus::kNoSample;
  std::lock_guard lock(sample_mutex_);
  if (current_sample_ < 0) return MediaStatus::kNoSample;
  if (buffer == nullptr) {
    *size = sample_size_;
    return MediaStatus::kOk;
  }
  if (*size < sample_size_) return MediaStatus::kInvalidArgument;
  std::memcpy(buffer, buffers_[current_sample_], static_cast<size_t>(sample_size_));
  *size = sample_size_;
  return MediaStatus::kOk;
}

// --- Media control ---

MediaStatus FfmpegGraph::RenderFile(const std::string& file_name) {
  if (!demuxer_.IsOpen()) return MediaStatus::kNotBuilt;
  if (file_name != source_name_) return MediaStatus::kInvalidArgument;
  // The picture alone: nothing more to render.
  if (!demuxer_.ChooseSound()) return MediaStatus::kNothingToDo;
  sound_enabled_ = true;
  return MediaStatus::kOk;
}

void FfmpegGraph::StartStreamingLocked() {
  if (thread_.joinable() || !convertible_) return;
  thread_ = std::thread([this] { StreamingThread(); });
}

MediaStatus FfmpegGraph::Run() {
  std::lock_guard lock(mutex_);
  if (!convertible_) return MediaStatus::kNotBuilt;
  if (run_state_ != RunState::kRunning) {
    run_state_ = RunState::kRunning;
    AnchorClockLocked(position_);
    if (sound_) sound_->SetPaused(!clock_on_);
  }
  sound_live_ = clock_on_;
  StartStreamingLocked();
  wake_.notify_all();
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::Pause() {
  std::lock_guard lock(mutex_);
  if (!convertible_) return MediaStatus::kNotBuilt;
  run_state_ = RunState::kPaused;
  sound_live_ = false;
  if (sound_) sound_->SetPaused(true);
  StartStreamingLocked();
  wake_.notify_all();
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::Stop() {
  std::lock_guard lock(mutex_);
  run_state_ = RunState::kStopped;
  sound_live_ = false;
  DropSoundLocked();
  wake_.notify_all();
  return MediaStatus::kOk;
}

// --- Clock ---

MediaStatus FfmpegGraph::SetDefaultSyncSource() {
  std::lock_guard lock(mutex_);
  if (!clock_on_) {
    clock_on_ = true;
    AnchorClockLocked(position_);
    if (run_state_ == RunState::kRunning) {
      sound_live_ = true;
      if (sound_) sound_->SetPaused(false);
    }
  }
  wake_.notify_all();
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetNoSyncSource() {
  std::lock_guard lock(mutex_);
  clock_on_ = false;
  sound_live_ = false;
  DropSoundLocked();
  wake_.notify_all();
  return MediaStatus::kOk;
}

void FfmpegGraph::AnchorClockLocked(RefTime stream_time) {
  anchor_wall_ = Clock::now();
  anchor_stream_ = stream_time;
}

// --- Seeking ---

MediaStatus FfmpegGraph::GetTimeFormat(TimeFormat* format) {
  if (format == nullptr) return MediaStatus::kInvalidArgument;
  *format = time_format_;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetTimeFormat(TimeFormat format) {
  if (format != TimeFormat::kMediaTime) return MediaStatus::kUnsupported;
  time_format_ = format;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetDuration(RefTime* duration) {
  if (duration == nullptr) return MediaStatus::kInvalidArgument;
  if (!source_connected_) return MediaStatus::kNotBuilt;
  *duration = duration_;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetCurrentPosition(RefTime* position) {
  if (position == nullptr) return MediaStatus::kInvalidArgument;
  if (!source_connected_) return MediaStatus::kNotBuilt;
  std::lock_guard lock(mutex_);
  *position = position_;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetPositions(RefTime* current, int32_t current_flags, RefTime* /*stop*/,
                                      int32_t stop_flags) {
  if (!source_connected_) return MediaStatus::kNotBuilt;
  if ((stop_flags & 3) != kSeekNoPositioning) return MediaStatus::kUnsupported;
  const int32_t how = current_flags & 3;
  if (how == kSeekNoPositioning) return MediaStatus::kOk;
  if (current == nullptr) return MediaStatus::kInvalidArgument;
  std::lock_guard lock(mutex_);
  RefTime target = *current;
  if (how == kSeekRelativePositioning) {
    target += position_;
  } else if (how != kSeekAbsolutePositioning) {
    return MediaStatus::kInvalidArgument;
  }
  if (target < 0) target = 0;
  if (duration_ > 0 && target > duration_) target = duration_;
  seek_requested_ = true;
  seek_target_ = target;
  position_ = target;
  end_posted_ = false;
  interrupt_ = true;
  AnchorClockLocked(target);
  if (sound_) sound_->Clear();
  wake_.notify_all();
  return MediaStatus::kOk;
}

// --- Events ---

void FfmpegGraph::PostEventLocked(int32_t code) {
  events_.push_back(Event{code, 0, 0});
  event_ready_.notify_all();
}

MediaStatus FfmpegGraph::GetEvent(int32_t* event_code, intptr_t* param1, intptr_t* param2,
                                  int32_t timeout_ms) {
  if (event_code == nullptr || param1 == nullptr || param2 == nullptr)
    return MediaStatus::kInvalidArgument;
  std::unique_lock lock(mutex_);
  if (events_.empty() && timeout_ms != 0) {
    auto ready = [this] { return !events_.empty(); };
    if (timeout_ms < 0) {
      event_ready_.wait(lock, ready);
    } else {
      event_ready_.wait_for(lock, std::chrono::milliseconds(timeout_ms), ready);
    }
  }
  if (events_.empty()) return MediaStatus::kNoEvent;
  const Event event = events_.front();
  events_.pop_front();
  *event_code = event.code;
  *param1 = event.param1;
  *param2 = event.param2;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::FreeEventParams(int32_t /*event_code*/, intptr_t /*param1*/,
                                         intptr_t /*param2*/) {
  return MediaStatus::kOk;
}

// --- Audio volume ---

MediaStatus FfmpegGraph::PutVolume(int32_t volume) {
  if (volume < kVolumeSilent || volume > kVolumeFull) return MediaStatus::kInvalidArgument;
  volume_ = volume;
  if (volume == kVolumeSilent) {
    std::lock_guard lock(mutex_);
    if (sound_) sound_->Clear();
  }
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetVolume(int32_t* volume) {
  if (volume == nullptr) return MediaStatus::kInvalidArgument;
  *volume = volume_;
  return MediaStatus::kOk;
}

// --- Streaming thread ---

int FfmpegGraph::WriteIndex() {
  std::lock_guard lock(sample_mutex_);
  return current_sample_ == 0 ? 1 : 0;
}

void FfmpegGraph::PublishSample(int index) {
  if (!buffer_samples_) return;
  std::lock_guard lock(sample_mutex_);
  current_sample_ = index;
}

void FfmpegGraph::Deliver(int index, RefTime time) {
  {
    std::lock_guard lock(callback_mutex_);
    if (callback_ != nullptr) {
      const double seconds = static_cast<double>(time) / static_cast<double>(kUnitsPerSecond);
      if (selector_ == kSelectBufferCB) {
        callback_->BufferCB(seconds, buffers_[index], sample_size_);
      } else {
        callback_->SampleCB(seconds, GrabbedSample{buffers_[index], sample_size_, time});
      }
    }
  }
  PublishSample(index);
}

FfmpegGraph::Decoded FfmpegGraph::DecodeNextFrame(AVPacket& packet, AVFrame& frame) {
  for (;;) {
    if (interrupt_) return Decoded::kInterrupted;
    const ffmpeg::VideoDecoder::Received received = video_.Receive(frame);
    if (received == ffmpeg::VideoDecoder::Received::kFrame) return Decoded::kFrame;
    if (received == ffmpeg::VideoDecoder::Received::kEnd) return Decoded::kEnd;
    switch (demuxer_.ReadPacket(packet)) {
      case ffmpeg::Demuxer::Read::kRetry:
        continue;
      case ffmpeg::Demuxer::Read::kEnd:
        video_.Drain();
        continue;
      case ffmpeg::Demuxer::Read::kVideo:
        video_.Send(packet);
        break;
      case ffmpeg::Demuxer::Read::kSound:
        if (SoundWanted()) PlaySound(packet);
        break;
      case ffmpeg::Demuxer::Read::kOther:
        break;
    }
    av_packet_unref(&packet);
  }
}

void FfmpegGraph::PerformSeek(RefTime target) {
  demuxer_.Seek(target);
  video_.Flush();
  sound_decoder_.Flush();
  discard_before_ = target;
}

void FfmpegGraph::StreamingThread() {
  const ffmpeg::PacketPtr packet = ffmpeg::MakePacket();
  const ffmpeg::FramePtr frame = ffmpeg::MakeFrame();
  if (packet == nullptr || frame == nullptr) return;
  bool have_pending = false;  // a converted frame waits to be delivered
  bool prerolled = false;     // ... and has been shown to the preview already
  // Until the first delivery after a start or a seek, a paused graph shows the frame it
  // is cued on (as a paused renderer does); later pauses keep the last delivered one.
  bool cueing = true;
  int pending_index = 0;
  RefTime pending_time = 0;
  bool at_end = false;

  for (;;) {
    // Seeks and the end of the graph come first.
    RefTime seek_to = 0;
    bool do_seek = false;
    {
      std::unique_lock lock(mutex_);
      if (quit_) break;
      if (seek_requested_) {
        seek_requested_ = false;
        interrupt_ = false;
        seek_to = seek_target_;
        do_seek = true;
      } else if (!have_pending && !at_end) {
        // Decoding waits while the graph is stopped.
        wake_.wait(lock,
                   [this] { return quit_ || seek_requested_ || run_state_ != RunState::kStopped; });
        if (quit_ || seek_requested_) continue;
        interrupt_ = false;
      }
    }
    if (do_seek) {
      PerformSeek(seek_to);
      have_pending = false;
      prerolled = false;
      at_end = false;
      cueing = true;
      continue;
    }

    if (!have_pending && !at_end) {
      const Decoded decoded = DecodeNextFrame(*packet, *frame);
      if (decoded == Decoded::kInterrupted) continue;
      if (decoded == Decoded::kEnd) {
        at_end = true;
        continue;
      }
      const RefTime time = video_.FrameTime(*frame);
      const RefTime half_frame = (avg_time_per_frame_ > 0 ? avg_time_per_frame_ : 400000) / 2;
      const bool before_target = time + half_frame <= discard_before_ && discard_before_ > 0;
      const int index = WriteIndex();
      if (!before_target && scaler_.Convert(*frame, buffers_[index])) {
        discard_before_ = 0;
        have_pending = true;
        prerolled = false;
        pending_index = index;
        pending_time = time;
      }
      av_frame_unref(frame.get());
      continue;
    }

    // Deliver the pending frame (or the end of the stream) when its time has come.
    {
      std::unique_lock lock(mutex_);
      for (;;) {
        if (quit_ || seek_requested_) break;
        if (run_state_ == RunState::kRunning) {
          if (at_end && !have_pending && end_posted_) {
            wake_.wait(lock);
            continue;
          }
          if (!clock_on_ || at_end) break;
          const auto due =
              anchor_wall_ + std::chrono::nanoseconds((pending_time - anchor_stream_) * 100);
          if (Clock::now() >= due) break;
          wake_.wait_until(lock, due);
          continue;
        }
        if (run_state_ == RunState::kPaused && have_pending && cueing && !prerolled) {
          lock.unlock();
          PublishSample(pending_index);
          lock.lock();
          prerolled = true;
          continue;
        }
        wake_.wait(lock);
      }
      if (quit_) break;
      if (seek_requested_) continue;
      if (!have_pending) {
        // at_end: the stream is over.
        if (!end_posted_) {
          end_posted_ = true;
          if (duration_ > 0) position_ = std::max(position_, duration_);
          PostEventLocked(kEcComplete);
        }
        continue;
      }
    }
    Deliver(pending_index, pending_time);
    have_pending = false;
    cueing = false;
    std::lock_guard lock(mutex_);
    position_ = std::clamp<RefTime>(pending_time, 0, duration_ > 0 ? duration_ : pending_time);
    if (one_shot_ && !seek_requested_) {
      // A one-shot grabber ends the stream after its first sample.
      at_end = true;
    }
  }
  if (sound_decoder_.IsOpen() || sound_failed_) ffmpeg::PreviewSound::ReleaseThreadState();
}

// --- Sound ---

bool FfmpegGraph::SoundWanted() const {
  return sound_enabled_ && sound_live_ && !sound_failed_ && volume_ > kVolumeSilent;
}

// The device is owned by the graph, whose control calls pause and clear it; the sound
// decoder only feeds it.
bool FfmpegGraph::OpenSound() {
  auto sound = std::make_unique<ffmpeg::PreviewSound>();
  if (!sound_decoder_.Open(*demuxer_.Sound(), *sound)) return false;
  std::lock_guard lock(mutex_);
  sound->SetPaused(!(run_state_ == RunState::kRunning && clock_on_));
  sound_ = std::move(sound);
  return true;
}

void FfmpegGraph::DropSoundLocked() {
  if (sound_) {
    sound_->SetPaused(true);
    sound_->Clear();
  }
}

void FfmpegGraph::PlaySound(const AVPacket& packet) {
  if (sound_failed_) return;
  if (!sound_decoder_.IsOpen() && !OpenSound()) {
    sound_failed_ = true;  // no device, or an undecodable track: the preview stays silent
    return;
  }
  sound_decoder_.Play(packet, volume_);
}

}  // namespace

std::unique_ptr<MediaGraph> CreateFfmpegGraph() {
  return std::make_unique<FfmpegGraph>();
}

}  // namespace zqr::platform
