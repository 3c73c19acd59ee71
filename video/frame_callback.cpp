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
std::atomic<PreviewHook> preview_hook{nullptr};
std::atomic<frames::SleepFunction> throttle_sleep{frames::SleepMilliseconds};
std::atomic<int64_t> frame_step_strip{frames::kFrameStepStrip};

std::mutex writers_mutex;
std::unique_ptr<frames::FrameFileWriter> writers;
frames::FrameFileWriter::Options writer_options;

// The frame file of the frame in DMEM1 that the strip pipeline has not yet queued: its
// storage goes to the writers whole when the next frame replaces it in DMEM1 (see
// ProcessFrameInStrips), or a copy of it when anything else is about to change DMEM1.
struct PendingFile {
  bool waiting = false;
  std::string path;
  int32_t width = 0;
  int32_t height = 0;
};
std::mutex pending_mutex;
PendingFile pending_file;

// The recording's folder and the placement of its frames; the streaming thread reads and
// advances it, the driver starts and ends it.
struct Placement {
  std::mutex mutex;
  bool active = false;
  std::string folder;
  bool write_files = true;
  FrameHandOff hand_off;
  frames::OutputLayout layout = frames::OutputLayout::kAnaglyph;
  FramePlacer placer;
};
Placement& CurrentPlacement() {
  static Placement placement;
  return placement;
}

// Where the frame being processed goes: its number on the recording's grid (-1 for none),
// the path of its file (empty for none) and the hand-off of the recording (null for none;
// it stays valid while the frame callback runs, as the recording ends only after it).
struct FrameDestination {
  int32_t number = -1;
  std::string path;
  const FrameHandOff* hand_off = nullptr;
  frames::OutputLayout layout = frames::OutputLayout::kAnaglyph;
};

FrameDestination NextFrameDestination(int32_t file_width, double sample_time) {
  Placement& p = CurrentPlacement();
  std::lock_guard lock(p.mutex);
  FrameDestination destination;
  if (!p.active) {
    if (file_width > 0) {
      destination.number = FrameStore.FrameCounter;
      destination.path = frames::FrameFileName(Shell.TempFolder, destination.number);
    }
    return destination;
  }
  destination.number = p.placer.Place(sample_time);
  if (destination.number < 0 || file_width <= 0) return FrameDestination{};
  if (p.write_files) destination.path = frames::FrameFileName(p.folder, destination.number);
  if (p.hand_off) destination.hand_off = &p.hand_off;
  destination.layout = p.layout;
  return destination;
}

// Pixels of the picture in the WorkFrame (without the spare row).
int64_t PicturePixels(const frames::FrameArray& frame) {
  return frame.empty() ? 0 : int64_t{frame.width()} * (frame.rows() - 1);
}

bool ConversionArraysReady(const FrameStoreState& s) {
  const frames::FrameArray* arrays[] = {&s.DMEM1, &s.DMEM2,     &s.DMEM3,
                                        &s.DMEM4, &s.ViewCopy1, &s.ViewCopy2};
  for (const frames::FrameArray* array : arrays) {
    if (array->empty() || !array->SameShape(s.WorkFrame)) return false;
  }
  return true;
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
  settings.stereo.depth_on = s.DepthOn;
  settings.stereo.divisor = s.DepthDivisor;
  return settings;
}

namespace {
// Everything one frame is processed with, from one snapshot of the settings: a slider
// moved meanwhile reaches the next frame whole.
frames::FrameStepSettings FrameSettings() {
  return FrameSettingsOf(TakeSettingsSnapshot().values);
}

// The time estimate, every 30th frame.
void UpdateEstimate(FrameStoreState& s) {
  int32_t estimate = 0;
  int32_t elapsed = 0;
  if (s.Estimate.Tick(s.numframes, &estimate, &elapsed)) {
    Shell.EstimateText.Set(FormatHms(estimate));
    Shell.ElapsedText.Set(FormatHms(elapsed));
  }
}
}  // namespace

void SetShowPreviewFrameHook(PreviewHook hook) {
  preview_hook.store(hook);
}

void ShowPreviewFrame() {
  PreviewHook hook = preview_hook.load();
  if (hook != nullptr) hook();
}

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

// The conversion's arrays, as the frame steps take them.
FrameStepArrays ConversionArrays() {
  static frames::LayoutScratch scratch;  // the recording's thread alone uses it
  FrameStoreState& s = FrameStore;
  return {&s.WorkFrame, &s.DMEM1, &s.DMEM2, &s.DMEM3, &s.LayoutFrame, &scratch};
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

void ApplyFrameFilters() {
  ApplyFrameFilters(FrameSettings().filter);
}

void ApplyFrameFilters(const frames::FilterSettings& settings) {
  FilterWorkFrame(settings);
  ShowPreviewFrame();
}

namespace {
// The conversion steps one after the other over whole frames: the chain on the WorkFrame
// (ending with the preview), copy into DMEM1 with sharpen, stereo, the frame file.
void ProcessFrameInStages(FrameStoreState& s, const FrameDestination& destination,
                          const frames::FrameStepSettings& settings) {
  FlushPendingFrameFile();
  ApplyFrameFilters(settings.filter);
  if (!ConversionArraysReady(s)) return;
  const int32_t width = s.WorkFrame.width();
  const int32_t rows = s.WorkFrame.rows();
  const int32_t height = rows - 1;
  frames::SharpenCopy(s.WorkFrame.data(), s.DMEM1.data(), width, height, rows,
                      settings.sharpen_amount, settings.sharpen_radius);
  if (settings.stereo_on) {
    frames::StereoFrameStep({&s.DMEM1, &s.DMEM2, &s.DMEM3, &s.DMEM4, &s.ViewCopy1, &s.ViewCopy2},
                            settings.stereo);
  }
  const int32_t file_width = width - frames::kCropColumns;
  if (destination.hand_off != nullptr) {
    (*destination.hand_off)(destination.number, s.DMEM1.data(), width);
  }
  if (file_width > 0 && !destination.path.empty()) {
    FrameFileWriters().Submit(destination.path, s.DMEM1.data(), file_width, height, width);
  }
}

// A recording in another layout than the red/cyan merge: the stages, then the layout of the
// two views composed straight into its file frame (FrameStore.LayoutFrame, which the
// preview shows), handed on and written from there. DMEM3 keeps the frame before the
// stereo stage, the next frame's previous frame.
void ProcessFrameInLayout(FrameStoreState& s, const FrameDestination& destination,
                          const frames::FrameStepSettings& settings) {
  FlushPendingFrameFile();
  StepFrameInLayout(ConversionArrays(), s.FramePixelCount, destination.layout, settings);
  ShowPreviewFrame();  // the preview shows this frame's layout
  const int32_t out_width = s.LayoutWidth;
  const int32_t out_height = s.LayoutHeight;
  if (destination.hand_off != nullptr) {
    (*destination.hand_off)(destination.number, s.LayoutFrame.data(), out_width);
  }
  if (!destination.path.empty()) {
    FrameFileWriters().Submit(destination.path, s.LayoutFrame.data(), out_width, out_height,
                              out_width);
  }
}

// The same steps in strips over the whole picture (see frames/frame_step.h), with the same
// results. The sharpened frame is built in DMEM3's or DMEM2's storage (below); the final
// frame (the anaglyph, or the sharpened frame without stereo) in a frame taken from the
// writers, which becomes DMEM1 once the preview, during a conversion still showing the
// frame before in DMEM1, has run. The frame it replaces goes to the writers whole, as its own frame
// file: no copy, and the writers crop it on the way to the disk. So this frame's file is queued
// when the next frame comes, or when FlushPendingFrameFile is called.
void ProcessFrameInStrips(FrameStoreState& s, const void* buffer, FrameDestination destination,
                          const frames::FrameStepSettings& settings) {
  const int32_t width = s.WorkFrame.width();
  const int32_t rows = s.WorkFrame.rows();
  const int32_t height = rows - 1;
  const int32_t file_width = width - frames::kCropColumns;
  frames::FrameFileWriter& files = FrameFileWriters();
  frames::FrameArray final_frame = files.TakeFrame(width, rows);
  if (final_frame.empty()) {  // out of memory: the stages need no frame of their own
    files.ReturnFrame(std::move(final_frame));
    std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(width) * height * 4);
    ProcessFrameInStages(s, destination, settings);
    return;
  }
  StepFrameInStrips(ConversionArrays(), static_cast<const uint32_t*>(buffer), settings,
                    final_frame.data());
  ShowPreviewFrame();
  if (destination.hand_off != nullptr) {
    (*destination.hand_off)(destination.number, final_frame.data(), width);
  }
  // DMEM1 <- this frame (the step has left this frame before stereo in DMEM3). DMEM1 and
  // the waiting file change together, so a flush from another thread sees both or neither.
  std::lock_guard lock(pending_mutex);
  swap(s.DMEM1, final_frame);
  if (pending_file.waiting) {
    files.QueueFrame(std::move(pending_file.path), std::move(final_frame), pending_file.width,
                     pending_file.height);
  } else {
    files.ReturnFrame(std::move(final_frame));
  }
  pending_file.waiting = file_width > 0 && !destination.path.empty();
  pending_file.path = pending_file.waiting ? std::move(destination.path) : std::string();
  pending_file.width = file_width;
  pending_file.height = height;
}
}  // namespace

bool StepPreviewFrame(const SettingsRecord& values) {
  FrameStoreState& s = FrameStore;
  PreviewStepState& p = PreviewStep;
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
  const frames::LayoutSize layout_size =
      layout == frames::OutputLayout::kAnaglyph
          ? frames::LayoutSize{}
          : frames::LayoutOutputSize(layout, width - frames::kCropColumns, height);
  if (!AllocatePreviewStep(width, height, layout_size.width, layout_size.height)) return false;
  const frames::FrameStepSettings settings = FrameSettingsOf(values);
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
  p.PreviousAdvanced = layout != frames::OutputLayout::kAnaglyph || settings.stereo_on;
  if (layout == frames::OutputLayout::kAnaglyph) {
    StepFrameInStrips(arrays, s.GrabBuffer.data(), settings, p.Output.data());
    p.Shown = PreviewStepState::Shows::kFrame;
  } else {
    std::memcpy(s.WorkFrame.data(), s.GrabBuffer.data(), bytes);
    StepFrameInLayout(arrays, int64_t{width} * height, layout, settings);
    p.Shown = PreviewStepState::Shows::kLayout;
  }
  ShowPreviewFrame();
  return true;
}

void BufferCB(const void* buffer, int64_t length, double sample_time) {
  FrameStoreState& s = FrameStore;
  if (buffer == nullptr || length <= 0 || s.WorkFrame.empty()) return;

  // The delivered pixels go into the WorkFrame, never past the picture. A whole picture
  // with the conversion arrays ready takes the strip pipeline; anything else the stages.
  const int64_t picture = PicturePixels(s.WorkFrame);
  const int64_t count = std::min(length / 4, picture);
  s.FramePixelCount = static_cast<int32_t>(count);
  FrameDestination destination =
      NextFrameDestination(s.WorkFrame.width() - frames::kCropColumns, sample_time);
  const frames::FrameStepSettings settings = FrameSettings();
  // A layout recording keeps its layout to the end (the frame files' size depends on it),
  // even when the stereo switch is turned meanwhile.
  if (destination.layout != frames::OutputLayout::kAnaglyph && count == picture && count > 0 &&
      ConversionArraysReady(s) && !s.LayoutFrame.empty()) {
    std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
    ProcessFrameInLayout(s, destination, settings);
  } else if (count == picture && count > 0 && ConversionArraysReady(s) &&
             frame_step_strip.load() > 0) {
    ProcessFrameInStrips(s, buffer, std::move(destination), settings);
  } else {
    std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
    ProcessFrameInStages(s, destination, settings);
  }

  // Time estimate every 30 frames, then the frame counter.
  UpdateEstimate(s);
  s.FrameCounter.fetch_add(1);
}

int32_t FramePlacer::Place(double sample_time) {
  if (time_per_frame_ <= 0 || sample_time < 0.0) return next_++;
  if (!started_) {
    started_ = true;
    first_time_ = sample_time;
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

void BeginFramePlacement(const std::string& folder, int64_t time_per_frame, FrameHandOff hand_off,
                         bool write_files, frames::OutputLayout layout) {
  Placement& p = CurrentPlacement();
  std::lock_guard lock(p.mutex);
  p.active = true;
  p.folder = folder;
  p.hand_off = std::move(hand_off);
  p.write_files = write_files;
  p.layout = layout;
  p.placer = FramePlacer(time_per_frame);
}

RecordedFrames EndFramePlacement() {
  Placement& p = CurrentPlacement();
  std::lock_guard lock(p.mutex);
  p.active = false;
  p.hand_off = nullptr;
  p.write_files = true;
  p.layout = frames::OutputLayout::kAnaglyph;
  RecordedFrames recorded{p.placer.gaps(), p.placer.slots()};
  p.placer = FramePlacer();
  return recorded;
}

void SetFrameStepStrip(int64_t pixels) {
  frame_step_strip.store(pixels);
}

frames::FrameFileWriter& FrameFileWriters() {
  std::lock_guard lock(writers_mutex);
  if (!writers) writers = std::make_unique<frames::FrameFileWriter>();
  return *writers;
}

void FlushPendingFrameFile() {
  std::lock_guard lock(pending_mutex);
  if (!pending_file.waiting) return;
  pending_file.waiting = false;
  const frames::FrameArray& frame = FrameStore.DMEM1;
  if (frame.empty() || frame.width() < pending_file.width || frame.rows() < pending_file.height) {
    return;  // the arrays were replaced under it: there is no such frame any more
  }
  FrameFileWriters().Submit(std::move(pending_file.path), frame.data(), pending_file.width,
                            pending_file.height, frame.width());
}

void ConfigureFrameFileWriters(frames::FrameFileWriter::Options options) {
  FlushPendingFrameFile();
  std::lock_guard lock(writers_mutex);
  writers.reset();  // waits for the old writers' files
  writer_options = options;
  writers = std::make_unique<frames::FrameFileWriter>(std::move(options));
}

void ResetFrameFileWriters() {
  frames::FrameFileWriter::Options options;
  {
    std::lock_guard lock(writers_mutex);
    options = writer_options;
  }
  ConfigureFrameFileWriters(std::move(options));
}

void WaitForFrameFiles() {
  FlushPendingFrameFile();
  FrameFileWriters().WaitAll();
}

}  // namespace zqr
