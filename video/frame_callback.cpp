// The per-frame work of preview and conversion, over the process-wide frame storage and
// settings.
#include "video/frame_callback.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <memory>
#include <mutex>

#include "app/numbers.h"
#include "app/settings.h"
#include "app/shell_state.h"
#include "frames/crop.h"
#include "frames/filter_chain.h"
#include "frames/sharpen.h"
#include "frames/stereo.h"
#include "video/frame_store.h"

namespace zqr {

namespace {
std::atomic<PreviewHook> preview_hook{nullptr};
std::atomic<frames::SleepFunction> throttle_sleep{frames::SleepMilliseconds};

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
  frames::FilterSettings settings;
  settings.cpu_limit_on = Settings.CpuLimitOn;
  settings.cpu_usage = Settings.CpuUsage;
  settings.noise_on = Settings.NoiseOn;
  settings.noise_passes = Settings.NoisePasses;
  settings.brightness_on = Settings.BrightnessOn;
  settings.brightness = Settings.Brightness;
  settings.contrast_on = Settings.ContrastOn;
  settings.contrast = Settings.Contrast;
  const int64_t count = std::clamp<int64_t>(s.FramePixelCount, 0, PicturePixels(s.WorkFrame));
  frames::RunFilterChain(s.WorkFrame.data(), s.WorkFrame.width(), count, settings,
                         throttle_sleep.load());
  ShowPreviewFrame();
}

void BufferCB(const void* buffer, int64_t length) {
  FrameStoreState& s = FrameStore;
  if (buffer == nullptr || length <= 0 || s.WorkFrame.empty()) return;

  // 1. The delivered pixels into the WorkFrame, never past the picture.
  const int64_t count = std::min(length / 4, PicturePixels(s.WorkFrame));
  std::memcpy(s.WorkFrame.data(), buffer, static_cast<size_t>(count) * 4);
  s.FramePixelCount = static_cast<int32_t>(count);

  // 2. The filter chain (ends with the preview).
  ApplyFrameFilters();

  if (ConversionArraysReady(s)) {
    const int32_t width = s.WorkFrame.width();
    const int32_t rows = s.WorkFrame.rows();
    const int32_t height = rows - 1;
    // 3. Copy into DMEM1 and sharpen, in one pass.
    const int32_t amount = Settings.SharpenOn == 1 ? Settings.SharpenAmount.load() : 0;
    frames::SharpenCopy(s.WorkFrame.data(), s.DMEM1.data(), width, height, rows, amount,
                        Settings.SharpenRadius);
    // 4. Stereo: DMEM1 becomes the anaglyph, DMEM3 the frame as it was before it.
    if (Settings.StereoOn == 1) {
      frames::StereoSettings stereo;
      stereo.mode = Settings.StereoMode;
      stereo.tuning = Settings.StereoTuning;
      stereo.depth_on = Settings.DepthOn;
      stereo.divisor = Settings.DepthDivisor;
      frames::StereoFrameStep({&s.DMEM1, &s.DMEM2, &s.DMEM3, &s.DMEM4, &s.ViewCopy1, &s.ViewCopy2},
                              stereo);
    }
    // 5. The file frame: a writer crops DMEM1 into a buffer of its own and writes the file
    //    off this thread.
    const int32_t file_width = width - frames::kCropColumns;
    if (file_width > 0) {
      FrameFileWriters().Submit(frames::FrameFileName(Shell.TempFolder, s.FrameCounter),
                                s.DMEM1.data(), file_width, height, width);
    }
  }

  // 6. Time estimate every 30 frames, then the frame counter.
  UpdateEstimate(s);
  s.FrameCounter.fetch_add(1);
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
