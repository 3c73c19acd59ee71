// The whole per-frame step of a conversion done with the reference kernels, frame after
// frame: what each frame file must hold for the current settings.
#pragma once

#include <cstdint>
#include <cstring>
#include <vector>

#include "core/settings.h"
#include "frames/brightness_contrast.h"
#include "frames/frame.h"
#include "frames/layouts.h"
#include "frames/sharpen.h"
#include "frames/smooth.h"
#include "frames/stereo.h"

namespace zqr {

// The whole per-frame step done with the reference kernels, frame after frame.
class ReferencePipeline {
 public:
  // With another `layout` than the anaglyph (and stereo on), each file frame is that layout
  // of the two views, composed by the layout kernels (proved against their definitions in
  // the frames tests).
  ReferencePipeline(int32_t w, int32_t h,
                    frames::OutputLayout layout = frames::OutputLayout::kAnaglyph)
      : w_(w), h_(h), layout_(layout) {
    for (frames::FrameArray* a : {&d1_, &d2_, &d3_, &d4_, &v1_, &v2_}) a->Allocate(w, h + 1);
  }
  // The file pixels ((w - 16) x h) of one delivered frame.
  std::vector<uint32_t> Frame(const std::vector<uint32_t>& delivered) {
    // The dynamic effect's first frame is its own previous frame.
    if (!primed_ && Settings.StereoOn == 1 && Settings.StereoMode == 0) {
      primed_ = true;
      Frame(delivered);
    }
    primed_ = true;
    std::vector<uint32_t> work(delivered);
    work.resize(static_cast<size_t>(w_) * (h_ + 1), 0);
    const int64_t n = int64_t{w_} * h_;
    if (Settings.NoiseOn == 1) {
      for (int k = 0; k < Settings.NoisePasses; ++k) {
        frames::SmoothFramePassScalar(work.data(), w_, n);
      }
    }
    if (frames::BrightnessContrastRuns(Settings.Brightness, Settings.ContrastOn)) {
      frames::BrightnessContrastScalar(
          work.data(), n,
          frames::MakeBrightnessContrastParams(Settings.BrightnessOn, Settings.Brightness,
                                               Settings.ContrastOn, Settings.Contrast));
    }
    std::memcpy(d1_.data(), work.data(), work.size() * 4);
    if (Settings.SharpenOn == 1) {
      frames::SharpenFrame(w_, h_, d1_.data(), d2_.data(), Settings.SharpenAmount,
                           Settings.SharpenRadius);
    }
    const frames::StereoSettings stereo = {Settings.StereoMode, Settings.StereoTuning,
                                           Settings.DepthOn, Settings.DepthDivisor};
    if (Settings.StereoOn == 1 && layout_ != frames::OutputLayout::kAnaglyph) {
      const frames::LayoutSize size = frames::LayoutOutputSize(layout_, w_ - 16, h_);
      std::vector<uint32_t> file(static_cast<size_t>(size.pixels));
      frames::LayoutScratch scratch;
      frames::ComposeLayout(layout_, d1_.data(), d3_.data(), w_, h_, stereo, file.data(), scratch,
                            w_ - 16);
      std::memcpy(d3_.data(), d1_.data(), static_cast<size_t>(w_) * (h_ + 1) * 4);
      return file;
    }
    if (Settings.StereoOn == 1) {
      frames::StereoFrameStepReference(
          {d1_.data(), d2_.data(), d3_.data(), v1_.data(), v2_.data()}, d4_.data(), w_, h_,
          {Settings.StereoMode, Settings.StereoTuning, Settings.DepthOn, Settings.DepthDivisor});
    }
    std::vector<uint32_t> file;
    for (int32_t y = 0; y < h_; ++y) {
      file.insert(file.end(), d1_.data() + int64_t{y} * w_, d1_.data() + int64_t{y} * w_ + w_ - 16);
    }
    return file;
  }

 private:
  int32_t w_;
  int32_t h_;
  frames::OutputLayout layout_;
  bool primed_ = false;
  frames::FrameArray d1_, d2_, d3_, d4_, v1_, v2_;
};

}  // namespace zqr
