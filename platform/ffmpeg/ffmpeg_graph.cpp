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
#include "platform/memory.h"

namespace zqr::platform {
namespace {
// The two sample buffers hold a whole RGB32 frame each and are written and read once per
// frame, so they live on large pages like the frame arrays.
uint8_t* AllocateSampleBuffer(size_t bytes) {
  return static_cast<uint8_t*>(AllocateLargeBuffer(bytes));
}

using Clock = std::chrono::steady_clock;
// Largest frame the graph converts (a 32-bit sample size must hold it).
constexpr int64_t kMaxSampleBytes = int64_t{1} << 30;

// Clockwise quarter turns a stream's display matrix asks for, rounded as ffmpeg's own
// autorotation rounds them; 0 without one.
int QuarterTurns(const AVStream* stream) {
  const uint8_t* matrix = av_stream_get_side_data(stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double counter_clockwise =
      av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(counter_clockwise)) return 0;
  double clockwise = -std::round(counter_clockwise);
  clockwise -= 360 * std::floor(clockwise / 360 + 0.9 / 360);
  const long turns = std::lround(clockwise / 90);
  // Only whole quarter turns are applied, as ffmpeg applies them.
  if (std::fabs(clockwise - 90.0 * static_cast<double>(turns)) >= 1.0) return 0;
  return static_cast<int>(turns % 4);
}

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
  bool MakeScaler(int width, int height, AVPixelFormat format);
  bool ConvertFrame(const AVFrame* frame, uint8_t* target);
  void TurnInto(uint8_t* target) const;
  RefTime FrameTime(const AVFrame* frame);
  void PerformSeek(RefTime target);
  void Deliver(int index, RefTime time);
  void PublishSample(int index);
  int WriteIndex();
  void PostEventLocked(int32_t code);
  void AnchorClockLocked(RefTime stream_time);
  bool SoundWanted() const;
  void HandleAudioPacket(const AVPacket* packet);
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
  ffmpeg::CodecContextPtr video_decoder_;
  int32_t width_ = 0;  // of the picture as shown, turned
  int32_t height_ = 0;
  // Clockwise quarter turns the picture is shown with (0..3), and its size as decoded.
  int quarter_turns_ = 0;
  int32_t decoded_width_ = 0;
  int32_t decoded_height_ = 0;
  std::vector<uint32_t> unturned_;  // the scaled picture before it is turned, top row first
  int32_t sample_size_ = 0;
  RefTime avg_time_per_frame_ = 0;
  RefTime duration_ = 0;
  RefTime origin_ = 0;  // stream time 0, in 100-ns units of the file's timestamps
  TimeFormat time_format_ = TimeFormat::kMediaTime;

  // Streaming-thread state (owned by that thread once it runs).
  SwsContext* sws_ = nullptr;
  int scaler_width_ = 0;
  int scaler_height_ = 0;
  AVPixelFormat scaler_format_ = AV_PIX_FMT_NONE;
  bool draining_ = false;
  RefTime last_frame_time_ = -1;
  RefTime discard_before_ = 0;
  AVCodecContext* audio_decoder_ = nullptr;
  SwrContext* resampler_ = nullptr;
  AVFrame* audio_frame_ = nullptr;
  std::vector<float> audio_out_;
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
  swr_free(&resampler_);
  av_frame_free(&audio_frame_);
  avcodec_free_context(&audio_decoder_);
  sws_freeContext(sws_);
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
  const AVStream* stream = demuxer_.Video();
  const AVCodec* codec = demuxer_.VideoCodec();
  ffmpeg::CodecContextPtr decoder(avcodec_alloc_context3(codec));
  if (decoder == nullptr) return MediaStatus::kOutOfMemory;
  if (avcodec_parameters_to_context(decoder.get(), stream->codecpar) < 0) {
    return MediaStatus::kUnsupported;
  }
  decoder->thread_count = 0;  // one per core
  decoder->thread_type = FF_THREAD_FRAME | FF_THREAD_SLICE;
  decoder->pkt_timebase = stream->time_base;
  if (avcodec_open2(decoder.get(), codec, nullptr) < 0) return MediaStatus::kUnsupported;

  decoded_width_ = decoder->width;
  decoded_height_ = decoder->height;
  quarter_turns_ = QuarterTurns(stream);
  const bool sideways = quarter_turns_ % 2 == 1;
  width_ = sideways ? decoded_height_ : decoded_width_;
  height_ = sideways ? decoded_width_ : decoded_height_;
  const ffmpeg::VideoTiming timing = demuxer_.Timing();
  avg_time_per_frame_ = timing.frame_duration;
  duration_ = timing.duration;
  origin_ = timing.origin;

  // Whether the frames can be turned into RGB32 is known now; the grabber reports it
  // when asked for its connected type.
  const auto pixel_format = static_cast<AVPixelFormat>(decoder->pix_fmt);
  video_decoder_ = std::move(decoder);
  const int64_t bytes = int64_t{width_} * height_ * 4;
  if (width_ > 0 && height_ > 0 && bytes <= kMaxSampleBytes && pixel_format != AV_PIX_FMT_NONE &&
      sws_isSupportedInput(pixel_format) > 0) {
    if (quarter_turns_ != 0) unturned_.resize(static_cast<size_t>(bytes / 4));
    if (MakeScaler(decoded_width_, decoded_height_, pixel_format)) {
      sample_size_ = static_cast<int32_t>(bytes);
      buffers_[0] = AllocateSampleBuffer(static_cast<size_t>(bytes));
      buffers_[1] = AllocateSampleBuffer(static_cast<size_t>(bytes));
      convertible_ = buffers_[0] != nullptr && buffers_[1] != nullptr;
    }
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
  connected.format.Width = width_;
  connected.format.Height = height_;
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

RefTime FfmpegGraph::FrameTime(const AVFrame* frame) {
  int64_t stamp = frame->best_effort_timestamp;
  if (stamp == AV_NOPTS_VALUE) stamp = frame->pts;
  RefTime time;
  if (stamp != AV_NOPTS_VALUE) {
    const AVRational base = demuxer_.Video()->time_base;
    time = ffmpeg::ToRefTime(stamp, base.num, base.den) - origin_;
  } else {
    // No timestamps at all (raw streams): count frames at the nominal rate.
    const RefTime step = avg_time_per_frame_ > 0 ? avg_time_per_frame_ : 400000;
    time = last_frame_time_ < 0 ? 0 : last_frame_time_ + step;
  }
  if (time < 0) time = 0;
  last_frame_time_ = time;
  return time;
}

// A converter from the decoder's frames to the connected size in BGRA, working on
// slices in parallel (one thread per core), as ffmpeg's own scale filter does.
bool FfmpegGraph::MakeScaler(int width, int height, AVPixelFormat format) {
  sws_freeContext(sws_);
  scaler_width_ = 0;
  sws_ = sws_alloc_context();
  if (sws_ == nullptr) return false;
  av_opt_set_int(sws_, "srcw", width, 0);
  av_opt_set_int(sws_, "srch", height, 0);
  av_opt_set_int(sws_, "src_format", format, 0);
  av_opt_set_int(sws_, "dstw", decoded_width_, 0);
  av_opt_set_int(sws_, "dsth", decoded_height_, 0);
  av_opt_set_int(sws_, "dst_format", AV_PIX_FMT_BGRA, 0);
  av_opt_set_int(sws_, "sws_flags", SWS_BICUBIC, 0);
  av_opt_set_int(sws_, "threads", 0, 0);
  if (sws_init_context(sws_, nullptr, nullptr) < 0) {
    sws_freeContext(sws_);
    sws_ = nullptr;
    return false;
  }
  scaler_width_ = width;
  scaler_height_ = height;
  scaler_format_ = format;
  return true;
}

bool FfmpegGraph::ConvertFrame(const AVFrame* frame, uint8_t* target) {
  if (frame->width <= 0 || frame->height <= 0) return false;
  // A stream may change its size or format midway (or claim to, when damaged): the
  // picture is scaled to the connected size, which the consumers were built for.
  const auto format = static_cast<AVPixelFormat>(frame->format);
  if (frame->width != scaler_width_ || frame->height != scaler_height_ ||
      format != scaler_format_) {
    if (!MakeScaler(frame->width, frame->height, format)) return false;
  }
  if (quarter_turns_ != 0) {
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(unturned_.data()), nullptr, nullptr, nullptr};
    int strides[4] = {decoded_width_ * 4, 0, 0, 0};
    if (sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides) <= 0) {
      return false;
    }
    TurnInto(target);
    return true;
  }
  const int stride = width_ * 4;
  // Bottom row first: start at the last row and step backwards.
  uint8_t* planes[4] = {target + static_cast<ptrdiff_t>(height_ - 1) * stride, nullptr, nullptr,
                        nullptr};
  int strides[4] = {-stride, 0, 0, 0};
  return sws_scale(sws_, frame->data, frame->linesize, 0, frame->height, planes, strides) > 0;
}

// The scaled picture (top row first) turned by the quarter turns into the bottom-up target,
// in tiles, so that the column walks of a quarter turn stay within the cache.
void FfmpegGraph::TurnInto(uint8_t* target) const {
  const int32_t in_w = decoded_width_;
  const int32_t in_h = decoded_height_;
  const int32_t out_w = width_;
  const int32_t out_h = height_;
  auto* out = reinterpret_cast<uint32_t*>(target);
  const uint32_t* in = unturned_.data();
  constexpr int32_t kTile = 32;
  for (int32_t ty = 0; ty < out_h; ty += kTile) {
    for (int32_t tx = 0; tx < out_w; tx += kTile) {
      for (int32_t y = ty; y < std::min(ty + kTile, out_h); ++y) {
        // Row y from the top is row out_h - 1 - y in memory.
        uint32_t* row = out + static_cast<ptrdiff_t>(out_h - 1 - y) * out_w;
        for (int32_t x = tx; x < std::min(tx + kTile, out_w); ++x) {
          int32_t sx = x;
          int32_t sy = y;
          if (quarter_turns_ == 1) {  // clockwise: the left column becomes the top row
            sx = y;
            sy = in_h - 1 - x;
          } else if (quarter_turns_ == 2) {
            sx = in_w - 1 - x;
            sy = in_h - 1 - y;
          } else {  // three turns: counter-clockwise
            sx = in_w - 1 - y;
            sy = x;
          }
          row[x] = in[static_cast<ptrdiff_t>(sy) * in_w + sx];
        }
      }
    }
  }
}

FfmpegGraph::Decoded FfmpegGraph::DecodeNextFrame(AVPacket& packet, AVFrame& frame) {
  for (;;) {
    if (interrupt_) return Decoded::kInterrupted;
    const int result = avcodec_receive_frame(video_decoder_.get(), &frame);
    if (result == 0) return Decoded::kFrame;
    if (result == AVERROR_EOF) return Decoded::kEnd;
    // A drained decoder yields frames until EOF; anything else means nothing more comes.
    if (draining_) return Decoded::kEnd;
    switch (demuxer_.ReadPacket(packet)) {
      case ffmpeg::Demuxer::Read::kRetry:
        continue;
      case ffmpeg::Demuxer::Read::kEnd:
        avcodec_send_packet(video_decoder_.get(), nullptr);
        draining_ = true;
        continue;
      case ffmpeg::Demuxer::Read::kVideo:
        // A damaged packet is dropped; the decoder resynchronises on the next ones.
        avcodec_send_packet(video_decoder_.get(), &packet);
        break;
      case ffmpeg::Demuxer::Read::kSound:
        if (SoundWanted()) HandleAudioPacket(&packet);
        break;
      case ffmpeg::Demuxer::Read::kOther:
        break;
    }
    av_packet_unref(&packet);
  }
}

void FfmpegGraph::PerformSeek(RefTime target) {
  demuxer_.Seek(target);
  avcodec_flush_buffers(video_decoder_.get());
  if (audio_decoder_ != nullptr) avcodec_flush_buffers(audio_decoder_);
  if (resampler_ != nullptr) {
    swr_close(resampler_);
    swr_init(resampler_);
  }
  draining_ = false;
  last_frame_time_ = -1;
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
      const RefTime time = FrameTime(frame.get());
      const RefTime half_frame = (avg_time_per_frame_ > 0 ? avg_time_per_frame_ : 400000) / 2;
      const bool before_target = time + half_frame <= discard_before_ && discard_before_ > 0;
      const int index = WriteIndex();
      if (!before_target && ConvertFrame(frame.get(), buffers_[index])) {
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
  if (audio_decoder_ != nullptr || sound_failed_) ffmpeg::PreviewSound::ReleaseThreadState();
}

// --- Sound ---

bool FfmpegGraph::SoundWanted() const {
  return sound_enabled_ && sound_live_ && !sound_failed_ && volume_ > kVolumeSilent;
}

bool FfmpegGraph::OpenSound() {
  if (audio_decoder_ != nullptr) return true;
  const AVStream* stream = demuxer_.Sound();
  const AVCodec* codec = avcodec_find_decoder(stream->codecpar->codec_id);
  if (codec == nullptr) return false;
  audio_decoder_ = avcodec_alloc_context3(codec);
  if (audio_decoder_ == nullptr ||
      avcodec_parameters_to_context(audio_decoder_, stream->codecpar) < 0 ||
      avcodec_open2(audio_decoder_, codec, nullptr) < 0) {
    return false;
  }
  audio_frame_ = av_frame_alloc();
  if (audio_frame_ == nullptr) return false;
  auto sound = std::make_unique<ffmpeg::PreviewSound>();
  if (!sound->Open(audio_decoder_->sample_rate, audio_decoder_->ch_layout.nb_channels))
    return false;
  AVChannelLayout out_layout;
  av_channel_layout_default(&out_layout, sound->Channels());
  const int made = swr_alloc_set_opts2(&resampler_, &out_layout, AV_SAMPLE_FMT_FLT, sound->Rate(),
                                       &audio_decoder_->ch_layout, audio_decoder_->sample_fmt,
                                       audio_decoder_->sample_rate, 0, nullptr);
  av_channel_layout_uninit(&out_layout);
  if (made < 0 || swr_init(resampler_) < 0) return false;
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

void FfmpegGraph::HandleAudioPacket(const AVPacket* packet) {
  if (sound_failed_) return;
  if (!OpenSound()) {
    sound_failed_ = true;  // no device, or an undecodable track: the preview stays silent
    return;
  }
  if (avcodec_send_packet(audio_decoder_, packet) < 0) return;
  const auto gain = static_cast<float>(std::pow(10.0, volume_ / 2000.0));
  while (avcodec_receive_frame(audio_decoder_, audio_frame_) == 0) {
    const int capacity = swr_get_out_samples(resampler_, audio_frame_->nb_samples);
    if (capacity > 0) {
      const int channels = sound_->Channels();
      audio_out_.resize(static_cast<size_t>(capacity) * static_cast<size_t>(channels));
      auto* out = reinterpret_cast<uint8_t*>(audio_out_.data());
      const int frames =
          swr_convert(resampler_, &out, capacity,
                      const_cast<const uint8_t**>(audio_frame_->extended_data),  // NOLINT
                      audio_frame_->nb_samples);
      if (frames > 0) {
        const size_t count = static_cast<size_t>(frames) * static_cast<size_t>(channels);
        for (size_t i = 0; i < count; ++i) {
          audio_out_[i] *= gain;
        }
        sound_->Queue(audio_out_.data(), frames);
      }
    }
    av_frame_unref(audio_frame_);
  }
}

}  // namespace

std::unique_ptr<MediaGraph> CreateFfmpegGraph() {
  return std::make_unique<FfmpegGraph>();
}

}  // namespace zqr::platform
