// The per-frame work of preview and conversion, over the process-wide frame storage and
// settings.
#include "video/frame_callback.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>
#include <utility>
#include <vector>

#include "app/numbers.h"
#include "app/settings.h"
#include "app/shell_state.h"
#include "frames/crop.h"
#include "frames/filter_chain.h"
#include "frames/frame_step.h"
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

frames::FilterSettings CurrentFilterSettings() {
  frames::FilterSettings settings;
  settings.cpu_limit_on = Settings.CpuLimitOn;
  settings.cpu_usage = Settings.CpuUsage;
  settings.noise_on = Settings.NoiseOn;
  settings.noise_passes = Settings.NoisePasses;
  settings.brightness_on = Settings.BrightnessOn;
  settings.brightness = Settings.Brightness;
  settings.contrast_on = Settings.ContrastOn;
  settings.contrast = Settings.Contrast;
  return settings;
}

frames::StereoSettings CurrentStereoSettings() {
  frames::StereoSettings stereo;
  stereo.mode = Settings.StereoMode;
  stereo.tuning = Settings.StereoTuning;
  stereo.depth_on = Settings.DepthOn;
  stereo.divisor = Settings.DepthDivisor;
  return stereo;
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

void ApplyFrameFilters() {
  FrameStoreState& s = FrameStore;
  const frames::FilterSettings settings = CurrentFilterSettings();
  const int64_t count = std::clamp<int64_t>(s.FramePixelCount, 0, PicturePixels(s.WorkFrame));
  frames::RunFilterChain(s.WorkFrame.data(), s.WorkFrame.width(), count, settings,
                         throttle_sleep.load());
  ShowPreviewFrame();
}

namespace {
// The conversion steps one after the other over whole frames: the chain on the WorkFrame
// (ending with the preview), copy into DMEM1 with sharpen, stereo, the frame file.
void ProcessFrameInStages(FrameStoreState& s) {
  ApplyFrameFilters();
  if (!ConversionArraysReady(s)) return;
  const int32_t width = s.WorkFrame.width();
  const int32_t rows = s.WorkFrame.rows();
  const int32_t height = rows - 1;
  const int32_t amount = Settings.SharpenOn == 1 ? Settings.SharpenAmount.load() : 0;
  frames::SharpenCopy(s.WorkFrame.data(), s.DMEM1.data(), width, height, rows, amount,
                      Settings.SharpenRadius);
  if (Settings.StereoOn == 1) {
    frames::StereoFrameStep({&s.DMEM1, &s.DMEM2, &s.DMEM3, &s.DMEM4, &s.ViewCopy1, &s.ViewCopy2},
                            CurrentStereoSettings());
  }
  const int32_t file_width = width - frames::kCropColumns;
  if (file_width > 0) {
    FrameFileWriters().Submit(frames::FrameFileName(Shell.TempFolder, s.FrameCounter),
                              s.DMEM1.data(), file_width, height, width);
  }
}

// The same steps in strips over the whole picture (see frames/frame_step.h), with the same
// results: the sharpened frame is built in DMEM2's storage and the anaglyph in DMEM4's, and
// the arrays are handed round only after the preview, which during a conversion still
// shows the frame before this one in DMEM1.
void ProcessFrameInStrips(FrameStoreState& s, const void* buffer) {
  const frames::FilterSettings filter = CurrentFilterSettings();
  frames::Throttle(filter.cpu_limit_on, filter.cpu_usage, throttle_sleep.load());
  const int32_t width = s.WorkFrame.width();
  const int32_t height = s.WorkFrame.rows() - 1;
  const int32_t file_width = width - frames::kCropColumns;
  frames::FrameFileBuffer file;
  if (file_width > 0) {
    file = FrameFileWriters().TakeBuffer(static_cast<size_t>(file_width) *
                                         static_cast<size_t>(height));
  }
  frames::FrameStepSettings settings;
  settings.filter = filter;
  settings.sharpen_amount = Settings.SharpenOn == 1 ? Settings.SharpenAmount.load() : 0;
  settings.sharpen_radius = Settings.SharpenRadius;
  settings.stereo_on = Settings.StereoOn == 1;
  settings.stereo = CurrentStereoSettings();
  frames::FrameStepBuffers buffers;
  buffers.width = width;
  buffers.height = height;
  buffers.delivered = static_cast<const uint32_t*>(buffer);
  buffers.work = s.WorkFrame.data();
  buffers.sharpened = s.DMEM2.data();
  buffers.previous = s.DMEM3.data();
  buffers.composed = s.DMEM4.data();
  buffers.file = file_width > 0 ? file.data() : nullptr;
  buffers.file_width = file_width;
  frames::RunFrameStepInStrips(buffers, settings, frame_step_strip.load());
  ShowPreviewFrame();
  if (settings.stereo_on) {
    // DMEM1 <- anaglyph, DMEM3 <- this frame before the stereo step; the rest is scratch.
    swap(s.DMEM1, s.DMEM4);
    swap(s.DMEM3, s.DMEM2);
  } else {
    swap(s.DMEM1, s.DMEM2);
  }
  if (file_width > 0) {
    FrameFileWriters().Queue(frames::FrameFileName(Shell.TempFolder, s.FrameCounter),
                             std::move(file), file_width, height);
  }
}
}  // namespace

void BufferCB(const void* buffer, int64_t length) {
  FrameStoreState& s = FrameStore;
  if (buffer == nullptr || length <= 0 || s.WorkFrame.empty()) return;

  // The delivered pixels go into the WorkFrame, never past the picture. A whole picture
  // with the conversion arrays ready takes the strip pipeline; anything else the stages.
  const int64_t picture = PicturePixels(s.WorkFrame);
  const int64_t count = std::min(length / 4, picture);
  s.FramePixelCount = static_cast<int32_t>(count);
  if (count == picture && count > 0 && ConversionArraysReady(s) && frame_step_strip.load() > 0) {
    ProcessFrameInStrips(s, buffer);
  } else {
    std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
    ProcessFrameInStages(s);
  }

  // Time estimate every 30 frames, then the frame counter.
  UpdateEstimate(s);
  s.FrameCounter.fetch_add(1);
}

void SetFrameStepStrip(int64_t pixels) {
  frame_step_strip.store(pixels);
}

frames::FrameFileWriter& FrameFileWriters() {
  std::lock_guard lock(writers_mutex);
  if (!writers) writers = std::make_unique<frames::FrameFileWriter>();
  return *writers;
}

void ConfigureFrameFileWriters(frames::FrameFileWriter::Options options) {
  std::lock_guard lock(writers_mutex);
  writers.reset();  // waits for the old writers' files
  writers = std::make_unique<frames::FrameFileWriter>(std::move(options));
}

void WaitForFrameFiles() {
  FrameFileWriters().WaitAll();
}

}  // namespace zqr
