// The FFmpeg graph's operations: the build steps, which open the demuxer, the video
// decoder and the scaler; the grabber's settings; run, pause and stop; the clock; seeking;
// events and volume. Each control call changes the state under the graph's lock and wakes
// the streaming thread, which does the media work (streaming.cpp).
#include "platform/ffmpeg/ffmpeg_graph.h"

#include "platform/ffmpeg/ffmpeg_graph_impl.h"
#include "platform/system.h"

namespace zqr::platform {
namespace ffmpeg {

FfmpegGraph::~FfmpegGraph() {
  {
    std::lock_guard lock(mutex_);
    quit_ = true;
    interrupt_ = true;
  }
  wake_.notify_all();
  if (thread_.joinable()) thread_.join();
  sound_.reset();
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
  // Under an address-space limit the decoder's own allocations are the likely cause of a
  // failure that names none.
  auto failed = [this](MediaStatus status) {
    const uint64_t limit = ProcessMemoryLimitBytes();
    if (connect_failure_.empty() && demuxer_.Failure().empty() && limit != 0) {
      connect_failure_ =
          "not enough memory to decode it, or it is damaged (this process may map "
          "at most " +
          std::to_string(limit / 1000000) + " MB: ulimit -v)";
    }
    return status;
  };
  const MediaStatus chosen = demuxer_.ChooseVideo();
  if (Failed(chosen)) return failed(chosen);
  VideoTiming timing = demuxer_.Timing();
  if (const MediaStatus measured = demuxer_.MeasureLength(timing); Failed(measured)) {
    return failed(measured);
  }
  const AVStream& stream = *demuxer_.Video();
  const MediaStatus opened =
      video_.Open(stream, *demuxer_.VideoCodec(), timing.origin, timing.frame_duration);
  if (Failed(opened)) return failed(opened);
  deinterlacer_.Setup(stream, video_.PixelFormat(), deinterlace_);
  avg_time_per_frame_ = timing.frame_duration;
  duration_ = timing.duration;
  // Whether the frames can be turned into RGB32 is known now; the grabber reports it
  // when asked for its connected type.
  const int quarter_turns = QuarterTurns(stream);
  pixel_aspect_ = ShownPixelAspect(stream, quarter_turns);
  colours_ = DecodedColoursOf(stream);
  if (scaler_.Setup(video_.Width(), video_.Height(), video_.PixelFormat(), video_.ColourSpace(),
                    video_.ColourRange(), quarter_turns)) {
    convertible_ = grabber_.Allocate(scaler_.SampleSize());
  }
  if (!convertible_) {
    const uint64_t limit = ProcessMemoryLimitBytes();
    connect_failure_ =
        limit != 0 ? "there is not enough memory to turn its pictures into RGB (this process may "
                     "map at most " +
                         std::to_string(limit / 1000000) + " MB: ulimit -v)"
                   : "its pictures cannot be turned into RGB";
  }
  source_connected_ = true;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::SetDeinterlace(bool deinterlace) {
  if (source_connected_) return MediaStatus::kAlreadyDone;
  deinterlace_ = deinterlace;
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
  grabber_.SetBuffering(buffer);
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
  grabber_.SetCallback(callback, selector);
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
  connected.lSampleSize = grabber_.SampleSize();
  connected.format.AvgTimePerFrame = avg_time_per_frame_;
  connected.format.Width = scaler_.Width();
  connected.format.Height = scaler_.Height();
  connected.format.Planes = 1;
  connected.format.BitCount = 32;
  connected.format.SizeImage = static_cast<uint32_t>(grabber_.SampleSize());
  connected.format.PixelAspectX = pixel_aspect_.x;
  connected.format.PixelAspectY = pixel_aspect_.y;
  connected.format.Primaries = colours_.primaries;
  connected.format.Transfer = colours_.transfer;
  *type = connected;
  return MediaStatus::kOk;
}

MediaStatus FfmpegGraph::GetCurrentBuffer(int32_t* size, void* buffer) {
  return grabber_.CopyCurrent(size, buffer);
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

void FfmpegGraph::DropSoundLocked() {
  if (sound_) {
    sound_->SetPaused(true);
    sound_->Clear();
  }
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

MediaStatus FfmpegGraph::GetEvent(int32_t* event_code, intptr_t* param1, intptr_t* param2,
                                  int32_t timeout_ms) {
  return events_.Take(event_code, param1, param2, timeout_ms);
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

}  // namespace ffmpeg

std::unique_ptr<MediaGraph> CreateFfmpegGraph() {
  return std::make_unique<ffmpeg::FfmpegGraph>();
}

}  // namespace zqr::platform
