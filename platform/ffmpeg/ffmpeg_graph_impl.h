// The FFmpeg graph's class, shared by its two halves: the seam's operations and the
// clock, run, seek and event state they drive (ffmpeg_graph.cpp), and the streaming
// thread that decodes, converts and delivers (streaming.cpp). The media work itself is
// done by the demuxer, the decoders, the scaler and the grabber it conducts.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/ffmpeg/deinterlacer.h"
#include "platform/ffmpeg/demuxer.h"
#include "platform/ffmpeg/event_queue.h"
#include "platform/ffmpeg/preview_sound.h"
#include "platform/ffmpeg/sample_grabber.h"
#include "platform/ffmpeg/sound_decoder.h"
#include "platform/ffmpeg/upright_scaler.h"
#include "platform/ffmpeg/video_decoder.h"
#include "platform/media.h"

namespace zqr::platform::ffmpeg {

class FfmpegGraph final : public MediaGraph {
 public:
  FfmpegGraph() = default;
  ~FfmpegGraph() override;
  FfmpegGraph(const FfmpegGraph&) = delete;
  FfmpegGraph& operator=(const FfmpegGraph&) = delete;

  const char* Name() const override { return "ffmpeg"; }

  MediaStatus CreateSampleGrabber() override;
  std::string SourceFailure() const override {
    return connect_failure_.empty() ? demuxer_.Failure() : connect_failure_;
  }
  std::string VideoBeyondEnd() override;
  MediaStatus AddGrabberFilter(const std::string& filter_name) override;
  MediaStatus SetMediaType(const MediaType& type) override;
  MediaStatus AddSourceFilter(const std::string& file_name,
                              const std::string& filter_name) override;
  MediaStatus ConnectSourceToGrabber() override;
  MediaStatus SetDeinterlace(bool deinterlace) override;
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

 private:
  using Clock = std::chrono::steady_clock;
  enum class RunState { kStopped, kPaused, kRunning };
  // What the streaming thread does next.
  enum class Order { kQuit, kSeek, kDecode, kAwaitTurn };
  enum class Decoded { kFrame, kEnd, kInterrupted };
  enum class Turn { kQuit, kDeliver, kLater };

  // Where the streaming thread stands: the converted frame that waits for its turn, and
  // whether the stream is over.
  struct Cue {
    bool pending = false;    // a converted frame waits to be delivered
    bool prerolled = false;  // ... and has been shown to the paused preview already
    // Until the first delivery after a start or a seek, a paused graph shows the frame it
    // is cued on (as a paused renderer does); later pauses keep the last delivered one.
    bool cueing = true;
    bool at_end = false;
    int index = 0;
    RefTime time = 0;
  };

  // Control side.
  void AnchorClockLocked(RefTime stream_time);
  void DropSoundLocked();

  // Streaming thread.
  void StartStreamingLocked();
  void StreamingThread();
  Order TakeOrder(const Cue& cue, RefTime* seek_target);
  void Seek(RefTime target, Cue& cue);
  void DecodeOne(AVPacket& packet, AVFrame& frame, Cue& cue);
  Decoded DecodeNextFrame(AVPacket& packet, AVFrame& frame);
  Turn AwaitTurn(Cue& cue);
  void PostEndLocked();
  void DeliverPending(Cue& cue);
  bool SoundWanted() const;
  void PlaySound(const AVPacket& packet);
  bool OpenSound();

  // Build state: written by the building thread before streaming starts, read-only after.
  bool grabber_created_ = false;
  bool grabber_added_ = false;
  bool grabber_type_set_ = false;
  bool renderer_added_ = false;
  bool source_connected_ = false;
  bool renderer_connected_ = false;
  bool convertible_ = false;
  bool deinterlace_ = true;
  std::string source_name_;
  RefTime avg_time_per_frame_ = 0;
  RefTime duration_ = 0;
  PixelAspect pixel_aspect_;
  DecodedColours colours_;
  TimeFormat time_format_ = TimeFormat::kMediaTime;

  // The parts: built by the building thread, then driven by the streaming thread alone
  // (the grabber and the event queue guard what other threads reach).
  Demuxer demuxer_;
  VideoDecoder video_;
  Deinterlacer deinterlacer_;
  UprightScaler scaler_;
  SoundDecoder sound_decoder_;
  SampleGrabber grabber_;
  EventQueue events_;

  // Streaming-thread state.
  RefTime discard_before_ = 0;  // frames before a seek's target are dropped
  bool sound_failed_ = false;
  std::string connect_failure_;  // why the pictures cannot be delivered

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
  std::string video_beyond_end_;
  RefTime position_ = 0;
  Clock::time_point anchor_wall_{};
  RefTime anchor_stream_ = 0;
  bool one_shot_ = false;
  std::unique_ptr<PreviewSound> sound_;
  // Read by the streaming thread between packets without the lock.
  std::atomic<bool> interrupt_{false};
  std::atomic<bool> sound_enabled_{false};
  std::atomic<bool> sound_live_{false};  // running with the clock
  std::atomic<int32_t> volume_{kVolumeFull};
};

}  // namespace zqr::platform::ffmpeg
