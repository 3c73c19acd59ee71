// Stereo composition. The displacement products are single-precision and must round
// exactly as written (this library is built without contraction of multiply and add).
#include "frames/stereo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

namespace zqr::frames {

namespace {
constexpr int64_t kMergeStart = kStereoMergeStart;

uint32_t Red(uint32_t pixel) {
  return (pixel >> 16) & 0xFFu;
}
uint32_t Green(uint32_t pixel) {
  return (pixel >> 8) & 0xFFu;
}
}  // namespace

int32_t StereoShift(int32_t tuning) {
  return 2 * std::clamp(tuning, -10, 10);
}

float DisplacementFactor(int32_t divisor) {
  return 1.0f / static_cast<float>(std::max(divisor, 1));
}

int32_t ColourDisplacement(int32_t value, float k) {
  const float product = static_cast<float>(value) * k;
  // The program never changes the rounding mode, so this rounds to nearest, ties to even.
  return static_cast<int32_t>(std::nearbyint(product));
}

void ComposeStereo(const StereoArrays& arrays, int32_t width, int32_t height,
                   const StereoSettings& settings) {
  const int64_t w = width;
  const int64_t n = w * height;
  const int64_t total = w * (height + 1);
  const size_t bytes = static_cast<size_t>(total) * 4;
  uint32_t* d1 = arrays.dmem1;
  uint32_t* d2 = arrays.dmem2;
  // 1. Second view.
  std::memcpy(d2, settings.mode == 0 ? arrays.dmem3 : d1, bytes);
  // 2. Copies.
  std::memcpy(arrays.view1, d1, bytes);
  std::memcpy(arrays.view2, d2, bytes);
  // 3. Parameters.
  const int64_t s = StereoShift(settings.tuning);
  const float k = DisplacementFactor(settings.divisor);
  // 4. 3D Depth displacement.
  if (settings.displacement_on == 1) {
    for (int64_t p = w; p < n - w; ++p) {
      const uint32_t own = d1[p];
      const int64_t dr = ColourDisplacement(static_cast<int32_t>(Red(own)), k);
      const int64_t dg = ColourDisplacement(static_cast<int32_t>(Green(own)), k);
      d1[p] = arrays.view1[p + dr];
      d2[p] = arrays.view2[p - dg];
    }
  }
  // 5. Anaglyph: blue and green stay, red and the fourth byte come from the second view.
  const int64_t end = std::min(n + kMergeStart, total);
  for (int64_t i = kMergeStart; i < end; ++i) {
    d1[i] = (d1[i] & kLowHalf) | (d2[i + s] & kHighHalf);
  }
}

void StereoFrameStepReference(const StereoArrays& arrays, uint32_t* dmem4, int32_t width,
                              int32_t height, const StereoSettings& settings) {
  const size_t bytes = static_cast<size_t>(int64_t{width} * (height + 1)) * 4;
  std::memcpy(dmem4, arrays.dmem1, bytes);
  ComposeStereo(arrays, width, height, settings);
  std::memcpy(arrays.dmem3, dmem4, bytes);
}

void StereoPassScalar(const StereoPassArgs& args) {
  StereoPassScalarRange(args, 0, args.total);
}

void StereoPassScalarRange(const StereoPassArgs& args, int64_t begin, int64_t end) {
  const uint32_t* cur = args.current;
  const uint32_t* sec = args.second;
  const int64_t w = args.width;
  const int64_t n = args.picture;
  if (begin >= end) return;
  int16_t own_table[256] = {};
  const int16_t* table = args.displacement_table;
  if (args.displacement && table == nullptr) {
    for (int32_t v = 0; v < 256; ++v) {
      own_table[v] = static_cast<int16_t>(ColourDisplacement(v, args.displacement_factor));
    }
    table = own_table;
  }
  // First view of pixel i and second view of pixel j after the optional displacement.
  auto first = [&](int64_t i) {
    const uint32_t own = cur[i];
    if (args.displacement && i >= w && i < n - w) return cur[i + table[Red(own)]];
    return own;
  };
  auto second = [&](int64_t j) {
    if (args.displacement && j >= w && j < n - w) return sec[j - table[Green(cur[j])]];
    return sec[j];
  };
  const int64_t merge_end = std::min(n + kMergeStart, args.total);
  for (int64_t i = begin; i < end; ++i) {
    if (i < kMergeStart || i >= merge_end) {
      args.out[i] = first(i);
    } else {
      args.out[i] = (first(i) & kLowHalf) | (second(i + args.shift) & kHighHalf);
    }
  }
}

void StreamFenceScalar() {}

bool StereoFrameStep(const StereoFrameSet& frames, const StereoSettings& settings) {
  FrameArray* all[] = {frames.dmem1, frames.dmem2, frames.dmem3,
                       frames.dmem4, frames.view1, frames.view2};
  for (FrameArray* array : all) {
    if (array == nullptr || array->empty() || !array->SameShape(*frames.dmem1)) return false;
  }
  StereoPassArgs args;
  args.current = frames.dmem1->data();
  args.second = settings.mode == 0 ? frames.dmem3->data() : frames.dmem1->data();
  args.out = frames.dmem4->data();
  args.width = frames.dmem1->width();
  args.total = frames.dmem1->pixel_count();
  args.picture = args.total - args.width;
  args.shift = StereoShift(settings.tuning);
  args.displacement = settings.displacement_on == 1;
  args.displacement_factor = DisplacementFactor(settings.divisor);
  ActiveKernels().stereo_pass(args);
  // DMEM1 <- composed frame, DMEM3 <- frame on entry, DMEM4 <- old previous frame (scratch).
  swap(*frames.dmem1, *frames.dmem4);
  swap(*frames.dmem3, *frames.dmem4);
  return true;
}

}  // namespace zqr::frames
