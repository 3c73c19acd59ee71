// The strip-pipelined frame step. Each stage keeps a frontier (its pixels below it are
// done) and a "ready" mark (below it its output is final); a stage may only advance as far
// as the stage before it is ready plus what its own reads reach ahead:
//  - a smoothing pass at pixel i reads i + W + 1 of the pass before, and while it works
//    in place the pass before must still find its own values W pixels below its frontier,
//    which holds because every pass stays W + 1 pixels behind the one before;
//  - brightness/contrast must not change pixels the last pass still reads (W below it);
//  - the sharpened pixel i reads i + W of the WorkFrame;
//  - the stereo pixel i reads the sharpened frame up to the largest 3D Depth displacement
//    or the shift ahead (the previous frame is complete from the start);
//  - where the sharpened frame is built in the previous frame's storage, the sharpen
//    stage writes no pixel over a previous pixel the stereo stage will still read.
#include "frames/frame_step.h"

#include <algorithm>
#include <cstring>

#include "frames/brightness_contrast.h"
#include "frames/kernels.h"
#include "frames/sharpen.h"

namespace zqr::frames {

namespace {
// Where a stage at `done` of its range ending at `end` goes when it may reach `limit`:
// in whole blocks of eight pixels (no plain tails in the vector kernels) until it may
// finish.
int64_t Advance(int64_t done, int64_t end, int64_t limit) {
  if (limit >= end) return end;
  if (limit <= done) return done;
  return done + ((limit - done) & ~int64_t{7});
}

// Output of a stage that covers [.., end) and is at `done`, over input final below
// `ready_before`: all of it once the stage is through.
int64_t Ready(int64_t done, int64_t end, int64_t ready_before) {
  return done >= end ? ready_before : std::min(done, ready_before);
}

// One round of the smoothing passes, each in place behind the one before, the first reading
// the delivered picture below `split`; returns how far their output is final.
int64_t SmoothRound(const FrameKernels& kernels, const FrameStepBuffers& b, int32_t passes,
                    int64_t split, int64_t ready, int64_t (&smoothed)[5], bool& tail_copied) {
  const int64_t w = b.width;
  const int64_t n = w * b.height;
  for (int32_t p = 0; p < passes; ++p) {
    const int64_t to = Advance(smoothed[p], n - w, ready - w - 1);
    if (p == 0 && smoothed[0] < split && to > smoothed[0]) {
      const int64_t stop = std::min(to, split);
      kernels.smooth_range_from(b.delivered, b.work, b.width, smoothed[0], stop);
      smoothed[0] = stop;
    }
    if (to > smoothed[p]) {
      if (p == 0 && !tail_copied) {
        std::memcpy(b.work + split, b.delivered + split, static_cast<size_t>(n - split) * 4);
        tail_copied = true;
      }
      kernels.smooth_range(b.work, b.width, smoothed[p], to);
    }
    smoothed[p] = to;
    ready = Ready(smoothed[p], n - w, ready);
  }
  return ready;
}

// The stereo stage's arguments for this frame, its 3D Depth table in `table`; returns how
// far ahead of a pixel it reads the sharpened frame.
int64_t PrepareStereo(const FrameStepBuffers& b, const FrameStepSettings& settings,
                      int64_t stream_bytes, StereoPassArgs& stereo, int16_t (&table)[256]) {
  const int64_t n = int64_t{b.width} * b.height;
  const int64_t total = n + b.width;
  stereo.current = b.sharpened;
  stereo.second = settings.stereo.mode == 0 ? b.previous : b.sharpened;
  stereo.out = b.composed;
  stereo.width = b.width;
  stereo.picture = n;
  stereo.total = total;
  stereo.shift = StereoShift(settings.stereo.tuning);
  stereo.displacement = settings.stereo.displacement_on == 1;
  stereo.displacement_factor = DisplacementFactor(settings.stereo.divisor);
  stereo.stream_out = total * 4 >= stream_bytes;
  if (stereo.displacement) {
    for (int32_t v = 0; v < 256; ++v) {
      table[v] = static_cast<int16_t>(ColourDisplacement(v, stereo.displacement_factor));
    }
    stereo.displacement_table = table;
  }
  return std::max<int64_t>({0, stereo.shift, stereo.displacement ? table[255] : 0});
}

// Pixels [from, to) of the sharpened frame: the first and last rows copied, the rows
// between sharpened by `amount` (0: all copied).
void SharpenRange(const FrameKernels& kernels, const FrameStepBuffers& b, int32_t amount,
                  int32_t radius, int64_t from, int64_t to) {
  const int64_t w = b.width;
  const int64_t n = w * b.height;
  if (amount == 0) {
    std::memcpy(b.sharpened + from, b.work + from, static_cast<size_t>(to - from) * 4);
    return;
  }
  const int64_t first_end = std::min(to, w);
  if (from < first_end) {
    std::memcpy(b.sharpened + from, b.work + from, static_cast<size_t>(first_end - from) * 4);
  }
  const int64_t middle = std::max(from, w);
  const int64_t middle_end = std::min(to, n - w);
  if (middle < middle_end) {
    kernels.sharpen_range(b.work, b.sharpened, b.width, middle, middle_end, amount, radius);
  }
  const int64_t last = std::max(from, n - w);
  if (last < to) {
    std::memcpy(b.sharpened + last, b.work + last, static_cast<size_t>(to - last) * 4);
  }
}
}  // namespace

int64_t PreviousGapFor(int32_t width, int64_t strip) {
  if (width < kMinSlidingWidth) return 0;
  const int64_t gap = std::max({kMinPreviousGap, int64_t{8} * width, 2 * strip});
  return (gap + 15) & ~int64_t{15};
}

void RunFrameStepInStrips(const FrameStepBuffers& b, const FrameStepSettings& settings,
                          int64_t strip, int64_t stream_bytes) {
  const FrameKernels& kernels = ActiveKernels();
  const int64_t w = b.width;
  const int64_t n = w * b.height;
  const int64_t total = n + w;
  if (w < 1 || b.height < 1) return;
  strip = std::max<int64_t>(strip, 1);

  // Smoothing passes over [w, n - w), none for frames of fewer than three rows.
  const int32_t passes =
      n - w > w ? SmoothingPasses(settings.filter.noise_on, settings.filter.noise_passes) : 0;
  const FilterSettings& f = settings.filter;
  const BrightnessContrastParams params =
      MakeBrightnessContrastParams(f.brightness_on, f.brightness, f.contrast_on, f.contrast);
  const bool adjust = BrightnessContrastRuns(f.brightness, f.contrast_on) &&
                      (params.brightness_on || params.contrast_on);
  const int32_t amount = b.height >= 3 ? EffectiveSharpenAmount(settings.sharpen_amount) : 0;

  StereoPassArgs stereo;
  int16_t table[256] = {};
  const int64_t reach =
      settings.stereo_on ? PrepareStereo(b, settings, stream_bytes, stereo, table) : 0;
  // The lowest previous pixel the stereo stage may still read, less the pixel it has come
  // to: the shift, the largest 3D Depth displacement back, and the 16 pixels before its
  // target that a vector kernel's window may load.
  const bool reads_previous = settings.stereo_on && settings.stereo.mode == 0;
  const int64_t read_behind =
      reads_previous ? stereo.shift - (stereo.displacement ? table[255] : 0) - 16 : 0;
  const int64_t gap = reads_previous ? b.previous_gap : 0;
  // With smoothing, the first pass reads the delivered picture itself and only the first
  // row and the last two rows are copied: the first row before the pass (it reads that row
  // as replaced), the rest before the pass reaches `split`, from where on it reads the
  // WorkFrame in place (the delivered picture has no spare row for it to read).
  const int64_t split = std::max(w, n - 2 * w);
  bool tail_copied = false;
  if (passes > 0) std::memcpy(b.work, b.delivered, static_cast<size_t>(w) * 4);
  int64_t copied = 0;  // with smoothing: how far the delivered picture is taken as arrived
  int64_t smoothed[5] = {w, w, w, w, w};
  int64_t adjusted = 0;
  int64_t sharpened = 0;
  int64_t composed = 0;
  for (;;) {
    const int64_t sharpened_before = sharpened;
    const int64_t composed_before = composed;
    // Copy into the WorkFrame (its spare row is never written), or as much taken as
    // arrived for the first pass.
    const int64_t copy_to = std::min(n, copied + strip);
    if (passes == 0) {
      std::memcpy(b.work + copied, b.delivered + copied, static_cast<size_t>(copy_to - copied) * 4);
    }
    copied = copy_to;
    int64_t ready = copied >= n ? total : copied;

    ready = SmoothRound(kernels, b, passes, split, ready, smoothed, tail_copied);

    // Brightness and contrast, below what the last pass still reads.
    if (adjust) {
      int64_t limit = ready;
      if (passes > 0 && smoothed[passes - 1] < n - w) {
        limit = std::min(limit, smoothed[passes - 1] - w);
      }
      const int64_t to = Advance(adjusted, n, limit);
      if (to > adjusted) kernels.brightness_contrast(b.work + adjusted, to - adjusted, params);
      adjusted = to;
      ready = Ready(adjusted, n, ready);
    }

    // Copy into the sharpened frame; rows 1 .. height - 2 sharpened.
    {
      int64_t limit = amount == 0 ? ready : (ready >= total ? total : ready - w);
      if (gap > 0 && composed < total) limit = std::min(limit, composed + read_behind + gap);
      const int64_t to = Advance(sharpened, total, limit);
      if (to > sharpened) {
        SharpenRange(kernels, b, amount, settings.sharpen_radius, sharpened, to);
      }
      sharpened = to;
      ready = Ready(sharpened, total, ready);
    }

    // The stereo merge, straight into the final frame (past the cache for large frames,
    // which spares reading the frame's old contents from memory).
    if (settings.stereo_on) {
      const int64_t to = Advance(composed, total, ready >= total ? total : ready - reach);
      if (to > composed) kernels.stereo_range(stereo, composed, to);
      composed = to;
      ready = Ready(composed, total, ready);
    }

    // Once the picture is in, the rounds go on until the sharpen and stereo stages, which
    // may have had to take turns, are through. A gap below kMinPreviousGap could hold both
    // back for ever: a round that moves neither ends the step rather than hang.
    if (copied >= n && sharpened >= total && (!settings.stereo_on || composed >= total)) break;
    if (copied >= n && sharpened == sharpened_before && composed == composed_before) break;
  }
  if (stereo.stream_out) kernels.stream_fence();
}

}  // namespace zqr::frames
