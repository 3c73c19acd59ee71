// The two views of a frame: the plain kernel, which copies where 3D Depth is off and
// follows the merge's displacement pixel by pixel where it is on, and the per-frame entry.
#include "frames/stereo_views.h"

#include <algorithm>
#include <cstring>

namespace zqr::frames {

std::array<int16_t, 256> DisplacementTableFor(float displacement_factor) {
  std::array<int16_t, 256> table;
  for (int32_t v = 0; v < 256; ++v) {
    table[static_cast<size_t>(v)] =
        static_cast<int16_t>(ColourDisplacement(v, displacement_factor));
  }
  return table;
}

StereoViewArgs MakeStereoViewArgs(const uint32_t* current, const uint32_t* previous, int32_t width,
                                  int32_t height, const StereoSettings& settings,
                                  const std::array<int16_t, 256>& table) {
  StereoViewArgs args;
  args.current = current;
  args.second = settings.mode == 0 ? previous : current;
  args.width = width;
  args.picture = int64_t{width} * height;
  args.shift = StereoShift(settings.tuning);
  args.displacement = settings.displacement_on == 1;
  args.displacement_factor = DisplacementFactor(settings.divisor);
  args.displacement_table = table.data();
  return args;
}

void StereoViewsScalar(const StereoViewArgs& args, int64_t begin, int64_t end, uint32_t* left,
                       uint32_t* right) {
  if (begin >= end) return;
  const uint32_t* cur = args.current;
  const uint32_t* sec = args.second;
  const int64_t w = args.width;
  const int64_t n = args.picture;
  const int64_t s = args.shift;
  auto inside = [n](int64_t p) { return std::clamp<int64_t>(p, 0, n - 1); };
  if (!args.displacement) {
    std::memcpy(right, cur + begin, static_cast<size_t>(end - begin) * 4);
    // Pixels whose shifted source lies in the picture are one copy.
    const int64_t from = std::clamp(-s, begin, end);
    const int64_t to = std::clamp(n - s, from, end);
    for (int64_t i = begin; i < from; ++i) left[i - begin] = sec[inside(i + s)];
    std::memcpy(left + (from - begin), sec + from + s, static_cast<size_t>(to - from) * 4);
    for (int64_t i = to; i < end; ++i) left[i - begin] = sec[inside(i + s)];
    return;
  }
  std::array<int16_t, 256> own_table;
  const int16_t* table = args.displacement_table;
  if (table == nullptr) {
    own_table = DisplacementTableFor(args.displacement_factor);
    table = own_table.data();
  }
  auto displaced = [&](int64_t p) { return p >= w && p < n - w; };
  for (int64_t i = begin; i < end; ++i) {
    const uint32_t own = cur[i];
    right[i - begin] = displaced(i) ? cur[inside(i + table[(own >> 16) & 0xFF])] : own;
    const int64_t j = inside(i + s);
    left[i - begin] = displaced(j) ? sec[inside(j - table[(cur[j] >> 8) & 0xFF])] : sec[j];
  }
}

bool ComposeStereoViews(const uint32_t* current, const uint32_t* previous, int32_t width,
                        int32_t height, const StereoSettings& settings, uint32_t* left,
                        uint32_t* right) {
  if (current == nullptr || left == nullptr || right == nullptr || width < 1 || height < 1 ||
      (settings.mode == 0 && previous == nullptr)) {
    return false;
  }
  const std::array<int16_t, 256> table = DisplacementTableFor(DisplacementFactor(settings.divisor));
  const StereoViewArgs args = MakeStereoViewArgs(current, previous, width, height, settings, table);
  ActiveKernels().layouts.stereo_views(args, 0, args.picture, left, right);
  return true;
}

}  // namespace zqr::frames
