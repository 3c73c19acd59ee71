// The strip-pipelined frame step against the stages run one after the other over whole
// frames with the plain kernels: odd widths, frames of one to a few rows, every setting
// (smoothing passes 0..5, brightness/contrast, sharpen amounts and radii, stereo off,
// static and dynamic, 3D Depth displacements reaching rows away) and strips from one pixel
// up; then BufferCB in strips against BufferCB in stages over a sequence of frames.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/brightness_contrast.h"
#include "frames/crop.h"
#include "frames/filter_chain.h"
#include "frames/frame_step.h"
#include "frames/kernels.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"
#include "tests/frames/frames_test_util.h"
#include "tests/support/test_support.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"

namespace zqr::frames {
namespace {

using test::FirstDifference;

struct StepCase {
  int32_t width;
  int32_t height;
  FrameStepSettings settings;
  int64_t strip;
  bool stream = false;  // the anaglyph past the cache even for these small frames
  // When not 0: the sharpened frame built in the previous frame's storage this many
  // pixels below it, the storage around both full of other pixels.
  int64_t previous_gap = 0;
};

std::string Describe(const StepCase& c) {
  const FrameStepSettings& s = c.settings;
  return std::to_string(c.width) + "x" + std::to_string(c.height) +
         " passes=" + std::to_string(s.filter.noise_on * s.filter.noise_passes) +
         " bright=" + std::to_string(s.filter.brightness_on) + "/" +
         std::to_string(s.filter.brightness) + " contrast=" + std::to_string(s.filter.contrast_on) +
         "/" + std::to_string(s.filter.contrast) + " sharpen=" + std::to_string(s.sharpen_amount) +
         "/" + std::to_string(s.sharpen_radius) + " stereo=" + std::to_string(s.stereo_on) +
         " mode=" + std::to_string(s.stereo.mode) + " tuning=" + std::to_string(s.stereo.tuning) +
         " depth=" + std::to_string(s.stereo.displacement_on) + "/" +
         std::to_string(s.stereo.divisor) + " strip=" + std::to_string(c.strip) +
         (c.stream ? " streamed" : "") +
         (c.previous_gap > 0 ? " gap=" + std::to_string(c.previous_gap) : "");
}

// One case: the same random picture and previous frame through the strips and through the
// plain stages; every output array compared in full (spare rows included).
void CheckCase(const StepCase& c, std::mt19937& rng) {
  const int32_t w = c.width;
  const int32_t h = c.height;
  const int64_t n = int64_t{w} * h;
  const FrameStepSettings& s = c.settings;
  const FrameArray delivered = test::RandomFrame(w, h + 1, rng);
  const FrameArray previous = test::RandomFrame(w, h + 1, rng);

  // The stages over whole frames, plain kernels.
  FrameArray work_ref = test::CopyOf(delivered);
  const int32_t passes = SmoothingPasses(s.filter.noise_on, s.filter.noise_passes);
  for (int32_t p = 0; p < passes; ++p) SmoothFramePassScalar(work_ref.data(), w, n);
  const BrightnessContrastParams params = MakeBrightnessContrastParams(
      s.filter.brightness_on, s.filter.brightness, s.filter.contrast_on, s.filter.contrast);
  if (BrightnessContrastRuns(s.filter.brightness, s.filter.contrast_on)) {
    BrightnessContrastScalar(work_ref.data(), n, params);
  }
  FrameArray sharpened_ref = test::CopyOf(work_ref);
  FrameArray scratch;
  scratch.Allocate(w, h + 1);
  SharpenFrame(w, h, sharpened_ref.data(), scratch.data(), s.sharpen_amount, s.sharpen_radius);
  FrameArray composed_ref;
  composed_ref.Allocate(w, h + 1);
  if (s.stereo_on) {
    StereoPassArgs args;
    args.current = sharpened_ref.data();
    args.second = s.stereo.mode == 0 ? previous.data() : sharpened_ref.data();
    args.out = composed_ref.data();
    args.width = w;
    args.picture = n;
    args.total = n + w;
    args.shift = StereoShift(s.stereo.tuning);
    args.displacement = s.stereo.displacement_on == 1;
    args.displacement_factor = DisplacementFactor(s.stereo.divisor);
    StereoPassScalar(args);
  }

  // The strips, active kernels.
  FrameArray work;
  work.Allocate(w, h + 1);
  test::FillRandom(work.data(), n, rng);  // whatever the last frame left
  FrameArray sharpened;
  sharpened.Allocate(w, h + 1);
  test::FillRandom(sharpened.data(), n + w, rng);
  // Or one storage holding the previous frame at its top and the sharpened frame the gap
  // below, with other pixels all round: what the frame callback does.
  FrameArray shared;
  uint32_t* sharpened_at = sharpened.data();
  const uint32_t* previous_at = previous.data();
  if (c.previous_gap > 0) {
    ASSERT_TRUE(shared.AllocateSliding(w, h + 1, c.previous_gap));
    uint32_t* low = shared.data() - c.previous_gap - FrameArray::kGuardPixels;
    test::FillRandom(low, c.previous_gap + n + w + 2 * FrameArray::kGuardPixels, rng);
    std::memcpy(shared.data(), previous.data(), previous.byte_size());
    sharpened_at = shared.data() - c.previous_gap;
    previous_at = shared.data();
  }
  FrameArray composed;
  composed.Allocate(w, h + 1);
  test::FillRandom(composed.data(), n + w, rng);
  FrameStepBuffers b;
  b.width = w;
  b.height = h;
  b.delivered = delivered.data();
  b.work = work.data();
  b.sharpened = sharpened_at;
  b.previous = previous_at;
  b.composed = composed.data();
  b.previous_gap = c.previous_gap;
  RunFrameStepInStrips(b, s, c.strip, c.stream ? 0 : kStreamFrameBytes);

  const std::string where = Describe(c);
  ASSERT_EQ(FirstDifference(work_ref.data(), work.data(), n + w), "") << "WorkFrame, " << where;
  ASSERT_EQ(FirstDifference(sharpened_ref.data(), sharpened_at, n + w), "")
      << "sharpened frame, " << where;
  if (s.stereo_on) {
    ASSERT_EQ(FirstDifference(composed_ref.data(), composed.data(), n + w), "")
        << "anaglyph, " << where;
  }
  for (const FrameArray* a : {&work, &sharpened, &composed}) {
    ASSERT_TRUE(test::GuardsZero(*a)) << "write outside the frame, " << where;
  }
}

FrameStepSettings RandomSettings(std::mt19937& rng) {
  auto pick = [&](int32_t lo, int32_t hi) {
    return std::uniform_int_distribution<int32_t>(lo, hi)(rng);
  };
  FrameStepSettings s;
  s.filter.noise_on = pick(0, 3) == 0 ? 0 : 1;
  s.filter.noise_passes = pick(0, 5);
  s.filter.brightness_on = pick(0, 1);
  s.filter.brightness = pick(0, 255);
  s.filter.contrast_on = pick(0, 1);
  s.filter.contrast = pick(0, 255);
  s.sharpen_amount = pick(0, 6);
  s.sharpen_radius = pick(0, 3);
  const int32_t stereo = pick(0, 2);  // off, dynamic, static
  s.stereo_on = stereo != 0;
  s.stereo.mode = stereo == 2 ? 1 : 0;
  s.stereo.tuning = pick(-11, 11);
  s.stereo.displacement_on = pick(0, 1);
  const int32_t divisors[] = {1, 2, 5, 16, 30, 200};
  s.stereo.divisor = divisors[pick(0, 5)];
  return s;
}

TEST(FrameStepStrips, EveryStageCombinationMatchesTheStagesOnWholeFrames) {
  std::mt19937 rng(4242);
  // Every combination of passes, sharpen radius and stereo kind once, on odd widths.
  const int32_t widths[] = {17, 45, 641};
  int32_t k = 0;
  for (int32_t passes = 0; passes <= 5; ++passes) {
    for (int32_t radius = 0; radius <= 3; ++radius) {
      for (int32_t stereo = 0; stereo < 5; ++stereo) {
        StepCase c;
        c.width = widths[k % 3];
        c.height = c.width == 641 ? 9 : 3 + k % 9;
        c.settings = RandomSettings(rng);
        c.settings.filter.noise_on = 1;
        c.settings.filter.noise_passes = passes;
        c.settings.sharpen_amount = 1 + k % 5;
        c.settings.sharpen_radius = radius;
        c.settings.stereo_on = stereo != 0;
        c.settings.stereo.mode = stereo >= 3 ? 1 : 0;
        c.settings.stereo.displacement_on = stereo % 2 == 0 ? 1 : 0;
        const int64_t strips[] = {1, 7, 8, c.width, 3 * int64_t{c.width} + 5, kFrameStepStrip};
        c.strip = strips[k % 6];
        c.stream = k % 2 == 0;
        CheckCase(c, rng);
        if (HasFatalFailure()) return;
        ++k;
      }
    }
  }
}

TEST(FrameStepStrips, TinyFramesOfOneToFiveRows) {
  std::mt19937 rng(77);
  for (int32_t width : {1, 2, 3, 8, 16, 17, 18, 45}) {
    for (int32_t height = 1; height <= 5; ++height) {
      for (int32_t repeat = 0; repeat < 6; ++repeat) {
        StepCase c{width, height, RandomSettings(rng), 1 + repeat * 5, repeat % 2 == 0};
        CheckCase(c, rng);
        if (HasFatalFailure()) return;
      }
    }
  }
}

TEST(FrameStepStrips, RandomSettingsOnLargerFramesAndStrips) {
  std::mt19937 rng(9001);
  const int32_t sizes[][2] = {{641, 37}, {100, 61}, {333, 20}, {720, 24}, {64, 130}};
  for (int32_t repeat = 0; repeat < 30; ++repeat) {
    const auto& size = sizes[repeat % 5];
    const int64_t strips[] = {1, 13, 64, 1000, 4 * int64_t{size[0]}, kFrameStepStrip, 1 << 30};
    StepCase c{size[0], size[1], RandomSettings(rng), strips[repeat % 7], repeat % 3 != 0};
    CheckCase(c, rng);
    if (HasFatalFailure()) return;
  }
}

TEST(FrameStepStrips, StripSizeNeverChangesTheResult) {
  // The same frame with many strip sizes, far-reaching displacements (divisor 1: up to 255
  // pixels, several rows of a 45-pixel frame) and five passes.
  std::mt19937 rng(5);
  for (int64_t strip = 1; strip < 400; strip += 37) {
    StepCase c;
    c.width = 45;
    c.height = 23;
    c.settings = RandomSettings(rng);
    c.settings.filter.noise_on = 1;
    c.settings.filter.noise_passes = 5;
    c.settings.stereo_on = true;
    c.settings.stereo.displacement_on = 1;
    c.settings.stereo.divisor = 1;
    c.settings.stereo.tuning = 10;
    c.strip = strip;
    CheckCase(c, rng);
    if (HasFatalFailure()) return;
  }
}

// Frames wide enough to slide, the sharpened frame a gap below the previous one in the
// same storage: every stereo kind, displacements from 0 to 255 pixels back and the widest
// shifts either way, the smallest gap and the callback's, strips from a few pixels up.
TEST(FrameStepStrips, SharpenedFrameBuiltOverThePreviousOne) {
  std::mt19937 rng(31337);
  const int32_t sizes[][2] = {{256, 12}, {300, 9}, {641, 7}, {1921, 3}};
  for (int32_t repeat = 0; repeat < 32; ++repeat) {
    const auto& size = sizes[repeat % 4];
    StepCase c;
    c.width = size[0];
    c.height = size[1];
    c.settings = RandomSettings(rng);
    c.settings.sharpen_amount = repeat % 3;
    c.settings.stereo_on = repeat % 8 != 7;
    c.settings.stereo.mode = repeat % 8 == 6 ? 1 : 0;
    c.settings.stereo.displacement_on = repeat % 4 == 3 ? 0 : 1;
    c.settings.stereo.divisor = repeat % 2 == 0 ? 1 : 30;
    c.settings.stereo.tuning = repeat % 3 == 0 ? -10 : 10;
    const int64_t strips[] = {5, 64, 4 * int64_t{size[0]}, kFrameStepStrip};
    c.strip = strips[(repeat / 4) % 4];
    c.stream = repeat % 2 == 1;
    c.previous_gap = repeat % 5 == 0 ? kMinPreviousGap : PreviousGapFor(size[0]);
    CheckCase(c, rng);
    if (HasFatalFailure()) return;
  }
}

TEST(FrameStepStrips, AGapTooSmallEndsTheStepInsteadOfHanging) {
  // The sharpen stage may not overwrite previous pixels the stereo stage still reads, and
  // the stereo stage waits for the sharpen stage: with a gap of 16 pixels and 3D Depth
  // reaching 255 pixels back neither can move. The step must return, its WorkFrame done.
  std::mt19937 rng(8);
  const int32_t w = 300;
  const int32_t h = 6;
  const FrameArray delivered = test::RandomFrame(w, h + 1, rng);
  FrameArray work;
  ASSERT_TRUE(work.Allocate(w, h + 1));
  FrameArray composed;
  ASSERT_TRUE(composed.Allocate(w, h + 1));
  FrameArray shared;
  ASSERT_TRUE(shared.AllocateSliding(w, h + 1, 16));
  FrameStepSettings s;
  s.stereo_on = true;
  s.stereo.displacement_on = 1;
  s.stereo.divisor = 1;
  FrameStepBuffers b;
  b.width = w;
  b.height = h;
  b.delivered = delivered.data();
  b.work = work.data();
  b.sharpened = shared.data() - 16;
  b.previous = shared.data();
  b.composed = composed.data();
  b.previous_gap = 16;
  RunFrameStepInStrips(b, s, 64);
  EXPECT_EQ(FirstDifference(delivered.data(), work.data(), int64_t{w} * h), "");
}

// The pictures the preview is handed during a conversion, whole rows.
std::vector<uint32_t> seen_dmem1;
class Dmem1Keeper final : public Observer {
 public:
  int Ask(const std::string&, const std::string&, int) override { return 0; }
  void ShowPreviewFrame(const PreviewFrame& frame) override {
    seen_dmem1.assign(frame.pixels, frame.pixels + int64_t{frame.stride} * frame.height);
  }
};

struct Outcome {
  std::vector<std::vector<uint32_t>> work, dmem1, dmem3, previews;
  std::vector<std::string> files;
};

// A conversion of `frames` random frames with the current settings, strips of `strip`
// pixels (0: the stages over whole frames); `alternate`: every second frame by the stages;
// `files`: a recording that writes frame files (a batch run's writes none).
Outcome Convert(int32_t w, int32_t h, int32_t frames, int64_t strip, uint32_t seed,
                bool alternate = false, bool files = true) {
  zqr::test::ScratchDir dir;
  Shell.TempFolder = dir.path();
  SetFrameStepStrip(strip);
  EXPECT_TRUE(AllocateGrabFrames(w, h));
  EXPECT_TRUE(PrepareFileFrame());
  FrameStore.FrameCounter = 0;
  Dmem1Keeper keeper;
  RecordingPlan plan{dir.path()};
  plan.write_files = files;
  plan.observer = &keeper;
  plan.numframes = frames;
  FrameRecording recording(std::move(plan));
  EXPECT_TRUE(recording.AllocateArrays());
  std::mt19937 rng(seed);
  Outcome out;
  auto all = [](const FrameArray& a) {
    return std::vector<uint32_t>(a.data(), a.data() + a.pixel_count());
  };
  for (int32_t k = 0; k < frames; ++k) {
    std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
    test::FillRandom(pixels.data(), static_cast<int64_t>(pixels.size()), rng);
    SetFrameStepStrip(alternate && k % 2 == 1 ? 0 : strip);
    BufferCB(recording, pixels.data(), static_cast<int64_t>(pixels.size()) * 4);
    out.work.push_back(all(FrameStore.WorkFrame));
    out.dmem1.push_back(all(recording.pipeline().DMEM1));
    out.dmem3.push_back(all(recording.pipeline().DMEM3));
    out.previews.push_back(seen_dmem1);
  }
  recording.WaitForFiles();
  for (int32_t k = 0; k < frames; ++k) {
    out.files.push_back(zqr::test::ReadFile(FrameFileName(dir.path(), k)));
  }
  SetFrameStepStrip(kFrameStepStrip);
  return out;
}

TEST(FrameStepCallback, StripsGiveTheStagesResultsFrameByFrame) {
  std::mt19937 rng(31);
  for (int32_t round = 0; round < 12; ++round) {
    const FrameStepSettings s = RandomSettings(rng);
    Settings.CpuLimitOn = 0;
    Settings.NoiseOn = s.filter.noise_on;
    Settings.NoisePasses = s.filter.noise_passes;
    Settings.BrightnessOn = s.filter.brightness_on;
    Settings.Brightness = s.filter.brightness;
    Settings.ContrastOn = s.filter.contrast_on;
    Settings.Contrast = s.filter.contrast;
    Settings.SharpenOn = s.sharpen_amount == 0 ? 0 : 1;
    Settings.SharpenAmount = s.sharpen_amount;
    Settings.SharpenRadius = s.sharpen_radius;
    Settings.StereoOn = s.stereo_on ? 1 : 0;
    Settings.StereoMode = s.stereo.mode;
    Settings.StereoTuning = s.stereo.tuning;
    Settings.DepthOn = s.stereo.displacement_on;
    Settings.DepthDivisor = s.stereo.divisor;
    const int32_t w = round % 2 == 0 ? 45 : 97;
    const int32_t h = 3 + round;
    const int64_t strip = round % 3 == 0 ? 1 : 50 * round;
    const Outcome stages = Convert(w, h, 4, 0, 100 + round);
    const Outcome strips = Convert(w, h, 4, strip, 100 + round);
    // Without frame files the step rotates DMEM1 with the recording's own spare frame.
    const Outcome memory = Convert(w, h, 4, strip, 100 + round, false, false);
    for (int32_t k = 0; k < 4; ++k) {
      const std::string where = "round " + std::to_string(round) + " frame " + std::to_string(k);
      ASSERT_EQ(stages.work[k], strips.work[k]) << "WorkFrame, " << where;
      ASSERT_EQ(stages.dmem1[k], strips.dmem1[k]) << "DMEM1, " << where;
      ASSERT_EQ(stages.dmem3[k], strips.dmem3[k]) << "DMEM3, " << where;
      // The preview still shows the frame before in DMEM1.
      ASSERT_EQ(stages.previews[k], strips.previews[k]) << "preview's DMEM1, " << where;
      ASSERT_EQ(stages.files[k], strips.files[k]) << "frame file, " << where;
      ASSERT_FALSE(strips.files[k].empty()) << where;
      ASSERT_EQ(stages.dmem1[k], memory.dmem1[k]) << "DMEM1 without files, " << where;
      ASSERT_EQ(stages.previews[k], memory.previews[k]) << "preview without files, " << where;
      ASSERT_TRUE(memory.files[k].empty()) << where;
    }
  }
}

TEST(FrameStepCallback, SwitchingBetweenStripsAndStagesKeepsEveryFrameFile) {
  // The strips leave a frame's file to be queued with the next frame; a frame taken by the
  // stages in between must queue it first, before it changes DMEM1.
  Settings.CpuLimitOn = 0;
  Settings.NoiseOn = 1;
  Settings.NoisePasses = 2;
  Settings.SharpenOn = 1;
  Settings.SharpenAmount = 2;
  Settings.StereoOn = 1;
  Settings.StereoMode = 0;
  Settings.DepthOn = 1;
  Settings.DepthDivisor = 20;
  for (const int32_t stereo : {1, 0}) {
    Settings.StereoOn = stereo;
    const Outcome stages = Convert(53, 7, 7, 0, 77);
    const Outcome mixed = Convert(53, 7, 7, 3 * 53, 77, true);
    for (int32_t k = 0; k < 7; ++k) {
      const std::string where = "stereo " + std::to_string(stereo) + " frame " + std::to_string(k);
      ASSERT_EQ(stages.dmem1[k], mixed.dmem1[k]) << "DMEM1, " << where;
      ASSERT_EQ(stages.previews[k], mixed.previews[k]) << "preview's DMEM1, " << where;
      ASSERT_FALSE(mixed.files[k].empty()) << where;
      ASSERT_EQ(stages.files[k], mixed.files[k]) << "frame file, " << where;
    }
  }
}

}  // namespace
}  // namespace zqr::frames
