// The per-frame work of preview and conversion, over the process-wide frame storage and
// settings.
#include "video/frame_callback.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "core/numbers.h"
#include "core/observer.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/crop.h"
#include "frames/filter_chain.h"
#include "frames/frame_step.h"
#include "frames/layouts.h"
#include "frames/sharpen.h"
#include "frames/stereo.h"
#include "video/frame_store.h"

namespace zqr {

namespace {
std::atomic<frames::SleepFunction> throttle_sleep{frames::SleepMilliseconds};
std::atomic<int64_t> frame_step_strip{frames::kFrameStepStrip};

std::mutex writer_options_mutex;
frames::FrameFileWriter::Options writer_options;

frames::FrameFileWriter::Options WriterOptions() {
  std::lock_guard lock(writer_options_mutex);
  return writer_options;
}

// Pixels of the picture in the WorkFrame (without the spare row).
int64_t PicturePixels(const frames::FrameArray& frame) {
  return frame.empty() ? 0 : int64_t{frame.width()} * (frame.rows() - 1);
}

// The first `width` columns of `frame`'s picture rows (all but its spare row), or nothing
// when it is not that wide.
PreviewFrame PictureOf(const frames::FrameArray& frame, int32_t width, int32_t height) {
  if (frame.empty() || width <= 0 || height <= 0 || frame.width() < width ||
      frame.rows() < height) {
    return {};
  }
  PreviewFrame picture;
  picture.pixels = frame.data();
  picture.stride = frame.width();
  picture.width = width;
  picture.height = height;
  return picture;
}

// The three caption lines of a conversion.
std::vector<platform::PreviewPicture::Caption> ConversionCaptions() {
  std::vector<platform::PreviewPicture::Caption> captions;
  captions.push_back({10, 10, " Estimated processing time = " + Shell.EstimateText.Get() + " "});
  captions.push_back({10, 30, " Time passed = " + Shell.ElapsedText.Get() + " "});
  captions.push_back(
      {10, 50, " Resize Mode = " + NumberText(100 - 10 * Settings.ResizeMode) + "% "});
  return captions;
}

}  // namespace

frames::FrameStepSettings FrameSettingsOf(const SettingsRecord& s) {
  frames::FrameStepSettings settings;
  settings.filter.cpu_limit_on = s.CpuLimitOn;
  settings.filter.cpu_usage = s.CpuUsage;
  settings.filter.noise_on = s.NoiseOn;
  settings.filter.noise_passes = s.NoisePasses;
  settings.filter.brightness_on = s.BrightnessOn;
  settings.filter.brightness = s.Brightness;
  settings.filter.contrast_on = s.ContrastOn;
  settings.filter.contrast = s.Contrast;
  settings.sharpen_amount = s.SharpenOn == 1 ? s.SharpenAmount.load() : 0;
  settings.sharpen_radius = s.SharpenRadius;
  settings.stereo_on = s.StereoOn == 1;
  settings.stereo.mode = s.StereoMode;
  settings.stereo.tuning = s.StereoTuning;
  settings.stereo.displacement_on = s.DepthOn;
  settings.stereo.divisor = s.DepthDivisor;
  settings.depth_map = settings.stereo_on && s.StereoMode == kDepthMapMode;
  settings.dibr.divergence_percent = s.Divergence / 10.0;
  settings.dibr.convergence = s.Convergence / 100.0;
  settings.dibr.synthetic =
      static_cast<frames::SyntheticView>(std::clamp<int32_t>(s.SyntheticView, 0, 2));
  return settings;
}

namespace {
// Everything one frame is processed with, from one snapshot of the settings: a slider
// moved meanwhile reaches the next frame whole.
frames::FrameStepSettings FrameSettings() {
  return FrameSettingsOf(TakeSettingsSnapshot().values);
}

}  // namespace

void SetThrottleSleep(frames::SleepFunction sleep) {
  throttle_sleep.store(sleep != nullptr ? sleep : frames::SleepMilliseconds);
}

namespace {
// The filter chain on the first `pixels` pixels of `work`, without the preview.
void FilterFrame(frames::FrameArray& work, int64_t pixels, const frames::FilterSettings& settings) {
  const int64_t count = std::clamp<int64_t>(pixels, 0, PicturePixels(work));
  frames::RunFilterChain(work.data(), work.width(), count, settings, throttle_sleep.load());
}
void FilterWorkFrame(const frames::FilterSettings& settings) {
  FilterFrame(FrameStore.WorkFrame, FrameStore.FramePixelCount, settings);
}
}  // namespace

frames::OutputLayout RecordedLayout(int32_t stereo_on, int32_t layout) {
  const auto chosen = static_cast<frames::OutputLayout>(std::clamp(layout, 0, 7));
  return stereo_on == 1 ? chosen : frames::OutputLayout::kAnaglyph;
}

void StepFrameInLayout(const FrameStepArrays& a, int64_t pixels, frames::OutputLayout layout,
                       const frames::FrameStepSettings& settings) {
  FilterFrame(*a.work, pixels, settings.filter);
  const int32_t width = a.work->width();
  const int32_t rows = a.work->rows();
  const int32_t height = rows - 1;
  frames::SharpenCopy(a.work->data(), a.sharpened->data(), width, height, rows,
                      settings.sharpen_amount, settings.sharpen_radius);
  frames::ComposeLayout(layout, a.sharpened->data(), a.previous->data(), width, height,
                        settings.stereo, a.layout_frame->data(), *a.scratch,
                        width - frames::kCropColumns);
  swap(*a.sharpened, *a.previous);
}

void StepFrameWithDepth(const FrameStepArrays& a, int64_t pixels, frames::OutputLayout layout,
                        const frames::FrameStepSettings& settings, DepthStage& depth,
                        int32_t number) {
  FilterFrame(*a.work, pixels, settings.filter);
  const int32_t width = a.work->width();
  const int32_t rows = a.work->rows();
  const int32_t height = rows - 1;
  frames::SharpenCopy(a.work->data(), a.sharpened->data(), width, height, rows,
                      settings.sharpen_amount, settings.sharpen_radius);
  depth.NextDepth(number, a.sharpened->data());
  if (settings.show_depth) {
    depth.DepthAsViews();
  } else {
    depth.RenderViews(a.sharpened->data(), settings.dibr);
  }
  frames::ComposeLayoutOfViews(layout, depth.left(), depth.right(), width, height,
                               a.layout_frame->data(), *a.scratch, width - frames::kCropColumns);
}

void StepFrameInStrips(const FrameStepArrays& a, const uint32_t* delivered,
                       const frames::FrameStepSettings& settings, uint32_t* out) {
  frames::Throttle(settings.filter.cpu_limit_on, settings.filter.cpu_usage, throttle_sleep.load());
  frames::FrameArray& previous = *a.previous;
  frames::FrameArray& spare = *a.spare;
  frames::FrameStepBuffers buffers;
  buffers.width = a.work->width();
  buffers.height = a.work->rows() - 1;
  buffers.delivered = delivered;
  buffers.work = a.work->data();
  // With stereo the sharpened frame becomes the next frame's previous frame. It is built
  // in the previous frame's own storage a gap lower, over the lines of the previous frame
  // that the stereo stage has just read, while there is room; then at the top of the
  // spare array, which takes the previous frame's place.
  const int64_t gap = frames::PreviousGapFor(buffers.width, frame_step_strip.load());
  const bool slide = settings.stereo_on && gap > 0 && previous.SlideRoom() >= gap;
  if (settings.stereo_on && !slide) spare.SlideToTop();
  buffers.sharpened = !settings.stereo_on ? out : slide ? previous.data() - gap : spare.data();
  buffers.previous = previous.data();
  buffers.previous_gap = slide ? gap : 0;
  buffers.composed = out;
  frames::RunFrameStepInStrips(buffers, settings, frame_step_strip.load());
  if (slide) {
    previous.SlideDown(gap);
  } else if (settings.stereo_on) {
    swap(previous, spare);
  }
}

void ApplyFrameFilters(Observer& observer) {
  ApplyFrameFilters(FrameSettings().filter, observer);
}

void ApplyFrameFilters(const frames::FilterSettings& settings, Observer& observer) {
  FilterWorkFrame(settings);
  const FrameStoreState& s = FrameStore;
  observer.ShowPreviewFrame(s.WorkFrame.width() == s.FrameW
                                ? PictureOf(s.WorkFrame, s.FrameW, s.FrameH)
                                : PreviewFrame{});
}

// The preview of a recording shows its last finished output frame: the layout frame, or
// the columns of DMEM1 a frame file keeps.
void FrameRecording::ShowFrame() const {
  if (plan_.observer == nullptr || quiet_) return;
  const FrameStoreState& s = FrameStore;
  const FramePipeline& p = pipeline_;
  PreviewFrame frame;
  if (p.LayoutWidth > 0) {
    frame = PictureOf(p.LayoutFrame, p.LayoutWidth, p.LayoutHeight);
    frame.pillarbox_tall = true;
  } else if (p.DMEM1.width() == s.FrameW) {
    frame = PictureOf(p.DMEM1, s.FrameW - frames::kCropColumns, s.FrameH);
  }
  frame.captions = ConversionCaptions();
  plan_.observer->ShowPreviewFrame(frame);
}

bool FrameRecording::AllocateArrays() {
  const FrameStoreState& s = FrameStore;
  // Another layout than the red/cyan merge, or views from a depth plane, compose a layout
  // frame (the red/cyan merge of depth views too).
  const bool layout_frames =
      plan_.layout != frames::OutputLayout::kAnaglyph || plan_.depth != nullptr;
  const frames::LayoutSize size =
      layout_frames
          ? frames::LayoutOutputSize(plan_.layout, s.FrameW - frames::kCropColumns, s.FrameH)
          : frames::LayoutSize{};
  std::lock_guard lock(pending_mutex_);
  return pipeline_.Allocate(s.FrameW, s.FrameH, size.width, size.height);
}

void FrameRecording::ReleaseArrays() {
  WaitForFiles();
  std::lock_guard lock(pending_mutex_);
  pipeline_.Free();
}

// The conversion steps one after the other over whole frames: the chain on the WorkFrame
// (ending with the preview), copy into DMEM1 with sharpen, stereo, the frame file.
void FrameRecording::ProcessInStages(const Destination& destination,
                                     const frames::FrameStepSettings& settings) {
  FrameStoreState& s = FrameStore;
  FramePipeline& p = pipeline_;
  FlushPendingFile();
  FilterWorkFrame(settings.filter);
  ShowFrame();
  if (!p.Ready(s.WorkFrame)) return;
  const int32_t width = s.WorkFrame.width();
  const int32_t rows = s.WorkFrame.rows();
  const int32_t height = rows - 1;
  frames::SharpenCopy(s.WorkFrame.data(), p.DMEM1.data(), width, height, rows,
                      settings.sharpen_amount, settings.sharpen_radius);
  if (settings.stereo_on) {
    frames::StereoFrameStep({&p.DMEM1, &p.DMEM2, &p.DMEM3, &p.DMEM4, &p.ViewCopy1, &p.ViewCopy2},
                            settings.stereo);
  }
  const int32_t file_width = width - frames::kCropColumns;
  if (destination.sink != nullptr) {
    destination.sink->Picture(destination.number, p.DMEM1.data(), width);
  }
  if (file_width > 0 && !destination.path.empty()) {
    writers_.Submit(destination.path, p.DMEM1.data(), file_width, height, width);
  }
}

// A recording in another layout than the red/cyan merge, or with views from a depth plane:
// the stages, then the layout of the two views composed straight into its file frame
// (the recording's layout frame, which the preview shows), handed on and written from there. DMEM3
// keeps the frame before the stereo stage, the next frame's previous frame.
void FrameRecording::ProcessInLayout(const Destination& destination,
                                     const frames::FrameStepSettings& settings) {
  FrameStoreState& s = FrameStore;
  FlushPendingFile();
  if (plan_.depth) {
    StepFrameWithDepth(pipeline_.Arrays(s.WorkFrame), s.FramePixelCount, plan_.layout, settings,
                       *plan_.depth, destination.number);
  } else {
    StepFrameInLayout(pipeline_.Arrays(s.WorkFrame), s.FramePixelCount, plan_.layout, settings);
  }
  ShowFrame();  // the preview shows this frame's layout
  const FramePipeline& p = pipeline_;
  if (destination.sink != nullptr) {
    destination.sink->Picture(destination.number, p.LayoutFrame.data(), p.LayoutWidth);
  }
  if (!destination.path.empty()) {
    writers_.Submit(destination.path, p.LayoutFrame.data(), p.LayoutWidth, p.LayoutHeight,
                    p.LayoutWidth);
  }
}

// The same steps in strips over the whole picture (see frames/frame_step.h), with the same
// results. The sharpened frame is built in DMEM3's or DMEM2's storage (below); the final
// frame (the anaglyph, or the sharpened frame without stereo) in a frame taken from the
// writers (the recording's spare one when no file is written), which becomes DMEM1 once the
// preview, during a conversion still showing the frame before in DMEM1, has run. The frame
// it replaces goes to the writers whole, as its own frame file: no copy, and the writers
// crop it on the way to the disk. So this frame's file is queued when the next frame comes,
// or when FlushPendingFile is called.
void FrameRecording::ProcessInStrips(const void* buffer, Destination destination,
                                     const frames::FrameStepSettings& settings) {
  FrameStoreState& s = FrameStore;
  const int32_t width = s.WorkFrame.width();
  const int32_t rows = s.WorkFrame.rows();
  const int32_t height = rows - 1;
  const int32_t file_width = width - frames::kCropColumns;
  frames::FrameArray final_frame;
  if (plan_.write_files) {
    final_frame = writers_.TakeFrame(width, rows);
  } else {
    final_frame = std::move(spare_output_);
    if (final_frame.width() != width || final_frame.rows() != rows) {
      final_frame.Allocate(width, rows);
    }
  }
  if (final_frame.empty()) {  // out of memory: the stages need no frame of their own
    if (plan_.write_files) writers_.ReturnFrame(std::move(final_frame));
    std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(width) * height * 4);
    ProcessInStages(destination, settings);
    return;
  }
  StepFrameInStrips(pipeline_.Arrays(s.WorkFrame), static_cast<const uint32_t*>(buffer), settings,
                    final_frame.data());
  ShowFrame();
  if (destination.sink != nullptr) {
    destination.sink->Picture(destination.number, final_frame.data(), width);
  }
  // DMEM1 <- this frame (the step has left this frame before stereo in DMEM3). DMEM1 and
  // the waiting file change together, so a flush from another thread sees both or neither.
  std::lock_guard lock(pending_mutex_);
  swap(pipeline_.DMEM1, final_frame);
  if (pending_waiting_) {
    writers_.QueueFrame(std::move(pending_path_), std::move(final_frame), pending_width_,
                        pending_height_);
  } else if (plan_.write_files) {
    writers_.ReturnFrame(std::move(final_frame));
  } else {
    spare_output_ = std::move(final_frame);
  }
  pending_waiting_ = file_width > 0 && !destination.path.empty();
  pending_path_ = pending_waiting_ ? std::move(destination.path) : std::string();
  pending_width_ = file_width;
  pending_height_ = height;
}

namespace {
// What the last step on `p` left to show: the columns of its frame a frame file keeps, or
// its layout frame; no picture after the option was off or the frames cleared.
PreviewFrame ShownPreviewPicture(const PreviewStepState& p) {
  if (p.Shown == PreviewStepState::Shows::kLayout) {
    PreviewFrame frame = PictureOf(p.LayoutFrame, p.LayoutWidth, p.LayoutHeight);
    frame.pillarbox_tall = true;
    return frame;
  }
  if (p.Shown == PreviewStepState::Shows::kFrame) {
    return PictureOf(p.Output, p.Output.width() - frames::kCropColumns, p.Output.rows() - 1);
  }
  return {};
}
}  // namespace

bool StepPreviewFrame(PreviewStepState& p, const SettingsRecord& values, Observer& observer) {
  FrameStoreState& s = FrameStore;
  p.Shown = PreviewStepState::Shows::kNothing;
  const int32_t width = s.WorkFrame.width();
  const int32_t height = s.WorkFrame.rows() - 1;
  // Only a whole picture, wide enough for a frame file, takes the conversion's step.
  if (values.PreviewConverted != 1 || s.WorkFrame.empty() || !s.GrabBuffer.SameShape(s.WorkFrame) ||
      height < 1 || width <= frames::kCropColumns ||
      int64_t{s.FramePixelCount} != int64_t{width} * height) {
    return false;
  }
  const frames::OutputLayout layout = RecordedLayout(values.StereoOn, values.Layout);
  const bool depth_map = values.StereoOn == 1 && values.StereoMode == kDepthMapMode;
  const frames::LayoutSize layout_size =
      layout == frames::OutputLayout::kAnaglyph && !depth_map
          ? frames::LayoutSize{}
          : frames::LayoutOutputSize(layout, width - frames::kCropColumns, height);
  if (!p.Allocate(width, height, layout_size.width, layout_size.height)) return false;
  frames::FrameStepSettings settings = FrameSettingsOf(values);
  settings.show_depth = values.ShowDepth == 1;
  // A picture polled again is paired with the frame before it again (see PreviewStepState).
  const size_t bytes = static_cast<size_t>(width) * height * 4;
  const bool repeated =
      p.HasLastPicture && std::memcmp(p.LastPicture.data(), s.GrabBuffer.data(), bytes) == 0;
  if (repeated && p.PreviousAdvanced) swap(p.Previous, p.Spare);
  if (!repeated) {
    std::memcpy(p.LastPicture.data(), s.GrabBuffer.data(), bytes);
    p.HasLastPicture = true;
  }
  // The sharpened frame goes to Spare in both steps, never into the previous frame's storage.
  const FrameStepArrays arrays{&s.WorkFrame, &p.Spare,       &p.Spare,
                               &p.Previous,  &p.LayoutFrame, &p.Scratch};
  // Previous holds no picture just before this one (just allocated, not advanced while the
  // effect was off, or from before a conversion that has since rewound the clip): the dynamic
  // effect pairs the picture with itself, as a recording's first frame, rather than with black
  // or with another moment.
  const bool stale = p.PreviousStale.exchange(false);
  const bool prime =
      settings.stereo_on && settings.stereo.mode == 0 && (stale || !p.PreviousAdvanced);
  p.PreviousAdvanced = layout != frames::OutputLayout::kAnaglyph || settings.stereo_on;
  if (depth_map) {
    // The preview's own depth stage. It reads a depth video forward only, so a picture
    // before its plane's (a rewind, a seek back) opens it again.
    const std::string file = Shell.DepthSource;
    const std::string model = file.empty() ? std::string(Shell.DepthModel) : std::string();
    const int32_t number = p.PictureNumber >= 0 ? p.PictureNumber : p.DepthNumber;
    const bool prior = values.DepthFromPrior == 1;
    if (!p.Depth || p.DepthWidth != width || p.DepthHeight != height || p.DepthFile != file ||
        p.DepthPrior != prior || p.DepthModel != model || number < p.DepthNumber) {
      p.Depth = std::make_unique<DepthStage>();
      std::string failure;
      DepthChoice choice{.video = file,
                         .model = SettingsModelChoice(model),
                         .prior = prior,
                         .out = {},
                         .log_end = false};
      if (!p.Depth->Open(choice, width, height, p.FramesPerSecond, failure)) {
        // A depth file or model that cannot be used is named by the conversion; the preview
        // shows the prior meanwhile.
        choice.video.clear();
        choice.model.file.clear();
        choice.prior = true;
        if (!p.Depth->Open(choice, width, height, 0.0, failure)) {
          p.Depth.reset();
          return false;
        }
      }
      p.DepthWidth = width;
      p.DepthHeight = height;
      p.DepthFile = file;
      p.DepthPrior = prior;
      p.DepthModel = model;
    }
    p.DepthNumber = number;
    std::memcpy(s.WorkFrame.data(), s.GrabBuffer.data(), bytes);
    StepFrameWithDepth(arrays, int64_t{width} * height, layout, settings, *p.Depth, number);
    p.Shown = PreviewStepState::Shows::kLayout;
  } else if (layout == frames::OutputLayout::kAnaglyph) {
    for (int pass = prime ? 0 : 1; pass < 2; ++pass) {
      StepFrameInStrips(arrays, s.GrabBuffer.data(), settings, p.Output.data());
    }
    p.Shown = PreviewStepState::Shows::kFrame;
  } else {
    for (int pass = prime ? 0 : 1; pass < 2; ++pass) {
      std::memcpy(s.WorkFrame.data(), s.GrabBuffer.data(), bytes);
      StepFrameInLayout(arrays, int64_t{width} * height, layout, settings);
    }
    p.Shown = PreviewStepState::Shows::kLayout;
  }
  observer.ShowPreviewFrame(ShownPreviewPicture(p));
  return true;
}

void BufferCB(FrameRecording& recording, const void* buffer, int64_t length, double sample_time) {
  FrameStoreState& s = FrameStore;
  if (buffer == nullptr || length <= 0 || s.WorkFrame.empty()) return;

  // The delivered pixels go into the WorkFrame, never past the picture. A whole picture
  // with the conversion arrays ready takes the strip pipeline; anything else the stages.
  const int64_t picture = PicturePixels(s.WorkFrame);
  const int64_t count = std::min(length / 4, picture);
  s.FramePixelCount = static_cast<int32_t>(count);
  FrameRecording::Destination destination =
      recording.NextDestination(s.WorkFrame.width() - frames::kCropColumns, sample_time);
  const frames::FrameStepSettings settings = FrameSettings();
  // A layout recording (the one AllocateArrays gave a layout frame) keeps its layout to the
  // end (the frame files' size depends on it), even when the stereo switch is turned meanwhile.
  const bool layout_frames = !recording.pipeline_.LayoutFrame.empty();
  // The dynamic effect's first frame has no frame before it: a step that shows and records
  // nothing makes this frame its own previous one, so the first picture is not half black.
  const bool prime = !recording.primed_ && settings.stereo_on && settings.stereo.mode == 0 &&
                     recording.plan_.depth == nullptr;
  recording.primed_ = true;
  frames::FrameStepSettings unthrottled = settings;
  unthrottled.filter.cpu_limit_on = false;
  for (int pass = prime ? 0 : 1; pass < 2; ++pass) {
    FrameRecording::Destination shown =
        pass == 1 ? std::move(destination) : FrameRecording::Destination{};
    // The priming step is neither shown nor throttled: it is not a frame of its own.
    recording.quiet_ = pass == 0;
    const frames::FrameStepSettings& step = pass == 1 ? settings : unthrottled;
    const bool ready = count == picture && count > 0 && recording.pipeline_.Ready(s.WorkFrame);
    if (layout_frames && ready) {
      std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
      recording.ProcessInLayout(shown, step);
    } else if (ready && frame_step_strip.load() > 0) {
      recording.ProcessInStrips(buffer, std::move(shown), step);
    } else {
      std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
      recording.ProcessInStages(shown, step);
    }
  }
  recording.quiet_ = false;

  // Time estimate every 30 frames, then the frame counter.
  recording.UpdateEstimate();
  s.FrameCounter.fetch_add(1);
}

int32_t FramePlacer::Place(double sample_time) {
  if (time_per_frame_ <= 0 || sample_time < 0.0) return next_++;
  if (!started_) {
    started_ = true;
    first_time_ = sample_time;
    // A picture that starts well after the file does (its sound first) keeps its place: its
    // first frame is held over the lead, or picture and sound would be that far apart.
    const int64_t lead = std::llround(sample_time * 1e7 / static_cast<double>(time_per_frame_));
    if (sample_time > kHeldLeadSeconds && lead <= kMaxRepeatedFrames) {
      first_time_ = 0.0;
      gaps_.push_back({static_cast<int32_t>(lead), 0, static_cast<int32_t>(lead)});
      next_ = static_cast<int32_t>(lead);
    }
    return next_++;
  }
  const double slots = (sample_time - first_time_) * 1e7 / static_cast<double>(time_per_frame_);
  if (slots < -0.5) return -1;
  const int64_t slot = std::llround(slots);
  if (slot < next_) return -1;
  if (slot > next_ && slot - next_ <= kMaxRepeatedFrames) {
    gaps_.push_back({next_ - 1, next_, static_cast<int32_t>(slot - next_)});
    next_ = static_cast<int32_t>(slot);
  }
  return next_++;
}

FrameRecording::FrameRecording(RecordingPlan plan)
    : plan_(std::move(plan)), placer_(plan_.time_per_frame), writers_(WriterOptions()) {
  estimate_.Reset();
}

void FrameRecording::RestartEstimate() {
  estimate_.Reset();
}

// The time estimate, every 30th frame. The pace is that of the frames delivered; a
// variable-rate clip delivers fewer than the slots it announces (68 of 444), so the
// announced count is scaled by the share of the slots so far that a frame filled.
void FrameRecording::UpdateEstimate() {
  int32_t estimate = 0;
  int32_t elapsed = 0;
  const int64_t delivered = int64_t{FrameStore.FrameCounter.load()} + 1;
  const int64_t slots = placer_.slots();
  const int32_t coming = slots > delivered
                             ? static_cast<int32_t>(int64_t{plan_.numframes} * delivered / slots)
                             : plan_.numframes;
  if (estimate_.Tick(coming, &estimate, &elapsed)) {
    Shell.EstimateText.Set(FormatHms(estimate));
    Shell.ElapsedText.Set(FormatHms(elapsed));
  }
}

FrameRecording::~FrameRecording() {
  WaitForFiles();
}

platform::MediaStatus FrameRecording::SampleCB(double /*sample_time*/,
                                               const platform::GrabbedSample& /*sample*/) {
  return platform::MediaStatus::kOk;
}

platform::MediaStatus FrameRecording::BufferCB(double sample_time, uint8_t* buffer,
                                               int32_t buffer_length) {
  if (buffer_length > 0) zqr::BufferCB(*this, buffer, buffer_length, sample_time);
  return platform::MediaStatus::kOk;
}

FrameRecording::Destination FrameRecording::NextDestination(int32_t file_width,
                                                            double sample_time) {
  std::lock_guard lock(mutex_);
  if (!active_) return {};
  Destination destination;
  destination.number = placer_.Place(sample_time);
  if (destination.number < 0 || file_width <= 0) return {};
  if (plan_.write_files) destination.path = frames::FrameFileName(plan_.folder, destination.number);
  destination.sink = plan_.sink;
  return destination;
}

RecordedFrames FrameRecording::End() {
  std::lock_guard lock(mutex_);
  active_ = false;
  return {placer_.gaps(), placer_.slots()};
}

void FrameRecording::FlushPendingFile() {
  std::lock_guard lock(pending_mutex_);
  if (!pending_waiting_) return;
  pending_waiting_ = false;
  const frames::FrameArray& frame = pipeline_.DMEM1;
  if (frame.empty() || frame.width() < pending_width_ || frame.rows() < pending_height_) {
    return;  // the arrays were replaced under it: there is no such frame any more
  }
  writers_.Submit(std::move(pending_path_), frame.data(), pending_width_, pending_height_,
                  frame.width());
}

void FrameRecording::WaitForFiles() {
  FlushPendingFile();
  writers_.WaitAll();
}

void SetFrameStepStrip(int64_t pixels) {
  frame_step_strip.store(pixels);
}

void ConfigureFrameFileWriters(frames::FrameFileWriter::Options options) {
  std::lock_guard lock(writer_options_mutex);
  writer_options = std::move(options);
}

}  // namespace zqr
