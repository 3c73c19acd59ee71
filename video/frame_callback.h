// The per-frame work: the filter chain on the WorkFrame (preview and conversion), and the
// body of the grabber's per-frame callback during a conversion: copy, chain, sharpen,
// stereo, crop, frame file, time estimate, frame counter.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "core/observer.h"
#include "core/settings.h"
#include "frames/estimate.h"
#include "frames/filter_chain.h"
#include "frames/frame_file.h"
#include "frames/frame_step.h"
#include "frames/layouts.h"
#include "frames/throttle.h"
#include "platform/media.h"
#include "video/depth_stage.h"
#include "video/frame_pipeline.h"
#include "video/preview_step.h"

namespace zqr {

// The throttle's sleep (tests replace it so that nothing sleeps for real).
void SetThrottleSleep(frames::SleepFunction sleep);

// The filter chain on FrameStore.WorkFrame (the first FramePixelCount pixels) with the
// current settings (one snapshot of them), or the given ones, ending with the observer's
// ShowPreviewFrame of the filtered picture.
void ApplyFrameFilters(Observer& observer);
void ApplyFrameFilters(const frames::FilterSettings& settings, Observer& observer);

// The layout a recording with these settings makes: the chosen one with stereo on, else
// the frame as the red/cyan step leaves it.
frames::OutputLayout RecordedLayout(int32_t stereo_on, int32_t layout);

// A conversion's step of one frame whose picture is in `delivered` (width x height of
// `work`): the throttle, then the strip pipeline into `out` (work's shape): the anaglyph
// with stereo on, the sharpened frame without. `previous` then holds this frame before
// stereo (with stereo on), and `spare`, unless the step built that frame in the previous
// frame's storage (when it has room below to slide into), the previous frame it was given.
void StepFrameInStrips(const FrameStepArrays& arrays, const uint32_t* delivered,
                       const frames::FrameStepSettings& settings, uint32_t* out);
// A conversion's step of one frame in another layout than the red/cyan merge, its picture
// already in `work` (the first `pixels` pixels): the chain, sharpen, and the layout of both
// views into `layout_frame`, the views cut to the frame file's width as a recording's are.
// `previous` then holds this frame before stereo, `sharpened` the previous frame given.
void StepFrameInLayout(const FrameStepArrays& arrays, int64_t pixels, frames::OutputLayout layout,
                       const frames::FrameStepSettings& settings);

// The stereo mode whose views are rendered from a depth plane (0 dynamic, 1 static).
inline constexpr int32_t kDepthMapMode = 2;

// A step of one frame whose picture is in `work` (the first `pixels` pixels) with its views
// rendered from a depth plane: the chain, sharpen, the depth stage's plane for the movie's
// frame `number` and its views, and `layout` of them into `layout_frame`, cut to the frame
// file's width.
void StepFrameWithDepth(const FrameStepArrays& arrays, int64_t pixels, frames::OutputLayout layout,
                        const frames::FrameStepSettings& settings, DepthStage& depth,
                        int32_t number);

// What a frame is processed with, from one snapshot of the settings.
frames::FrameStepSettings FrameSettingsOf(const SettingsRecord& values);

// The preview's frame while no conversion runs, with the frame's snapshot of the settings:
// when PreviewConverted is on, the picture in GrabBuffer goes through the conversion's
// step with the preview's own arrays, and the observer's ShowPreviewFrame runs. The WorkFrame
// receives the filtered picture as in the plain preview. False (nothing done) when the option is
// off or the frame cannot take that step; the caller then filters as before.
bool StepPreviewFrame(PreviewStepState& step, const SettingsRecord& values, Observer& observer);

// Frames of a variable-rate video arrive unevenly, but the encoder plays the frame files at
// one constant rate. So each frame goes to the slot of the constant-rate grid its sample
// time falls on, counted from the first delivered frame: over a gap the previous frame is
// repeated, and a frame whose slot is already taken gets no file. Evenly spaced frames keep
// their arrival numbers.
struct FrameGap {
  int32_t source = 0;  // the frame file to repeat
  int32_t first = 0;   // the first missing number
  int32_t count = 0;   // how many numbers follow it
};
class FramePlacer {
 public:
  // A time per frame of 0 or less numbers the frames by arrival.
  explicit FramePlacer(int64_t time_per_frame = 0) : time_per_frame_(time_per_frame) {}
  // The file number of the next delivered frame, -1 when its slot is taken. A negative
  // sample time means unknown: the next free number.
  int32_t Place(double sample_time);
  const std::vector<FrameGap>& gaps() const { return gaps_; }
  // Frame files the recording makes, repeats included.
  int32_t slots() const { return next_; }

 private:
  int64_t time_per_frame_;
  bool started_ = false;
  double first_time_ = 0.0;
  int32_t next_ = 0;
  std::vector<FrameGap> gaps_;
};
// A gap longer than this (a broken time stamp) is not filled.
inline constexpr int32_t kMaxRepeatedFrames = 100000;
// A first frame this late or later is held from the start; an earlier one (an encoder's
// priming delay) simply starts the movie.
inline constexpr double kHeldLeadSeconds = 1.0;

struct RecordedFrames {
  std::vector<FrameGap> gaps;
  int32_t slots = 0;  // numbers 0 .. slots - 1, repeats included
};

// Takes each numbered frame of a recording on the recording's thread (the encoder's feed):
// rows `stride` pixels apart, whose first columns are the file frame.
class RecordedFrameSink {
 public:
  virtual void Picture(int32_t number, const uint32_t* pixels, int32_t stride) = 0;

 protected:
  ~RecordedFrameSink() = default;
};

// What one recording does with its frames.
struct RecordingPlan {
  std::string folder;                 // the frame files' folder, taken when the recording starts
  int64_t time_per_frame = 0;         // 100 ns units; 0 or less numbers the frames by arrival
  RecordedFrameSink* sink = nullptr;  // must outlive the recording
  bool write_files = true;
  Observer* observer = nullptr;  // shown each frame (ShowPreviewFrame); none: not shown
  int32_t numframes = 0;         // the frames the video announces: the estimate goes by them
  // With stereo on and another layout than the red/cyan merge, the file frame is that layout
  // of the two views (the recording's layout frame).
  frames::OutputLayout layout = frames::OutputLayout::kAnaglyph;
  // A depth-map recording: its depth stage, which renders the two views every layout (the
  // red/cyan merge too) is made of; the recording then has a layout frame whatever the
  // layout.
  std::shared_ptr<DepthStage> depth = nullptr;
};

// One recording's frame path, and the grabber's callback while it runs: each frame is
// numbered by FramePlacer, run through BufferCB, handed to the plan's sink and, with
// write_files, written as a frame file by the recording's own writers. Everything a frame
// leaves behind for the next one (the file still waiting, the layout scratch, the spare
// output frame) belongs to the recording, so two recordings never share any of it.
class FrameRecording final : public platform::SampleGrabberCallback {
 public:
  explicit FrameRecording(RecordingPlan plan);
  ~FrameRecording() override;  // waits for the files
  FrameRecording(const FrameRecording&) = delete;
  FrameRecording& operator=(const FrameRecording&) = delete;

  platform::MediaStatus SampleCB(double sample_time,
                                 const platform::GrabbedSample& sample) override;
  platform::MediaStatus BufferCB(double sample_time, uint8_t* buffer,
                                 int32_t buffer_length) override;

  // Frames that arrive from now on get no number, no file and no sink. Returns the gaps to
  // fill and the numbers used.
  RecordedFrames End();
  // Returns when the file of every frame processed so far has been written.
  void WaitForFiles();
  // The recording's arrays, zero, for the WorkFrame's pictures and its layout's frame. False
  // when memory is short (the frames then take only the filter chain). Made before the
  // first frame comes, and released by ReleaseArrays once the last file is written.
  bool AllocateArrays();
  void ReleaseArrays();
  const FramePipeline& pipeline() const { return pipeline_; }
  // The estimate's count back to 0 and its marks at the clock's reading: the video is about
  // to run. A recording starts so.
  void RestartEstimate();
  int32_t numframes() const { return plan_.numframes; }
  frames::FrameFileWriter::Stats file_stats() const { return writers_.stats(); }

 private:
  friend void BufferCB(FrameRecording& recording, const void* buffer, int64_t length,
                       double sample_time);
  struct Destination {
    int32_t number = -1;  // -1: the frame has no place on the recording's grid
    std::string path;     // empty: no file
    RecordedFrameSink* sink = nullptr;
  };
  Destination NextDestination(int32_t file_width, double sample_time);
  // The frame file of the frame in DMEM1 that the strip pipeline has not yet queued.
  void FlushPendingFile();
  void ProcessInStages(const Destination& destination, const frames::FrameStepSettings& settings);
  void ProcessInLayout(const Destination& destination, const frames::FrameStepSettings& settings);
  void ProcessInStrips(const void* buffer, Destination destination,
                       const frames::FrameStepSettings& settings);
  void ShowFrame() const;
  void UpdateEstimate();

  const RecordingPlan plan_;
  // The first frame has been its own previous frame; a step that is only that shows nothing
  // (the streaming thread's).
  bool primed_ = false;
  bool quiet_ = false;
  std::mutex mutex_;  // the placement: the streaming thread advances it, the driver ends it
  bool active_ = true;
  FramePlacer placer_;
  frames::FrameFileWriter writers_;
  // The file of the frame in DMEM1 not yet queued: its storage goes to the writers whole
  // when the next frame replaces it in DMEM1, or a copy of it at FlushPendingFile.
  std::mutex pending_mutex_;
  bool pending_waiting_ = false;
  std::string pending_path_;
  int32_t pending_width_ = 0;
  int32_t pending_height_ = 0;
  // The streaming thread alone uses the arrays while frames come, but the output frame
  // (DMEM1) under pending_mutex_, since a flush from the driver's thread reads it.
  FramePipeline pipeline_;
  frames::EstimateClock estimate_;  // the streaming thread's
  // The output frame the strip pipeline steps into when no file takes it (a recording
  // without frame files): DMEM1's storage takes turns with it.
  frames::FrameArray spare_output_;
};

// The body of BufferCB for one delivered frame of `length` bytes of `recording`: copy into
// the WorkFrame, ApplyFrameFilters, copy into the recording's DMEM1 and sharpen (one pass),
// stereo when StereoOn, the frame's number from the recording's placement, its hand-off and
// its frame file (DMEM1 cropped by 16 columns, written off this thread from a frame the
// writers own), the estimate every 30 frames, FrameCounter + 1. Does nothing for a null
// buffer or a length of 0. A buffer longer than the picture is cut to FrameW x FrameH
// pixels, so the spare row stays zero. Without the recording's arrays of the WorkFrame's
// shape only the chain runs (and the frame is counted).
//
// A whole picture with the conversion arrays ready runs as one strip pipeline over the
// frame (frames/frame_step.h) with the same results: the stages' bytes in WorkFrame, DMEM1,
// DMEM3 and the frame file, the preview called once the WorkFrame is filtered and while
// DMEM1 still holds the frame before. DMEM2, DMEM4 and the view copies hold scratch. Its
// frame file is queued when the next frame arrives or at WaitForFiles, whichever comes
// first.
void BufferCB(FrameRecording& recording, const void* buffer, int64_t length,
              double sample_time = -1.0);

// Pixels per strip of that pipeline (tests and benchmarks try other sizes); 0 runs the
// stages one after the other over whole frames instead.
void SetFrameStepStrip(int64_t pixels);

// The options each recording's frame-file writers are made with, from the next recording
// on (tests and special runs: a slow or a full disk).
void ConfigureFrameFileWriters(frames::FrameFileWriter::Options options);

}  // namespace zqr
