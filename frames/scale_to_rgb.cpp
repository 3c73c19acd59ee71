// The preview's scaling, a triangle filter per axis: as wide as the scale factor when
// shrinking, so every source pixel weighs in, and plain linear interpolation when enlarging.
#include "frames/scale_to_rgb.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <vector>

namespace zqr::frames {

namespace {

// Source taps and weights of one destination coordinate.
struct Taps {
  std::vector<int32_t> first;
  std::vector<int32_t> count;
  std::vector<float> weights;  // `count` per coordinate, from offset sum(count) before it
  int32_t max_count = 0;
};

// A triangle filter as wide as the scale factor when shrinking (area averaging), the
// plain linear interpolation when enlarging.
Taps MakeTaps(int32_t src, int32_t dst) {
  Taps t;
  const double scale = static_cast<double>(src) / dst;
  const double support = std::max(1.0, scale);
  for (int32_t i = 0; i < dst; ++i) {
    const double centre = (i + 0.5) * scale - 0.5;
    int32_t lo = static_cast<int32_t>(std::floor(centre - support)) + 1;
    int32_t hi = static_cast<int32_t>(std::ceil(centre + support)) - 1;
    lo = std::clamp(lo, 0, src - 1);
    hi = std::clamp(hi, 0, src - 1);
    double total = 0;
    std::vector<float> w;
    for (int32_t k = lo; k <= hi; ++k) {
      double x = 1.0 - std::abs(k - centre) / support;
      w.push_back(static_cast<float>(std::max(0.0, x)));
      total += std::max(0.0, x);
    }
    if (total <= 0) {
      w.assign(1, 1.0f);
      hi = lo;
      total = 1;
    }
    for (float& v : w) v = static_cast<float>(static_cast<double>(v) / total);
    t.first.push_back(lo);
    t.count.push_back(hi - lo + 1);
    t.max_count = std::max(t.max_count, hi - lo + 1);
    t.weights.insert(t.weights.end(), w.begin(), w.end());
  }
  return t;
}

}  // namespace

void ScaleFrameToRgb(const uint32_t* src, int32_t stride, int32_t src_width, int32_t src_height,
                     uint8_t* dst, int32_t dst_stride, int32_t dst_width, int32_t dst_height,
                     int32_t dst_top, int32_t dst_rows) {
  if (src == nullptr || src_width <= 0 || src_height <= 0 || dst_width <= 0 || dst_height <= 0) {
    return;
  }
  // Shrinking by two or more: a 2 x 2 box average first (what the area filter would take
  // from those pixels anyway), so the filter below has a quarter of the pixels to weigh.
  if (src_width >= 2 * dst_width && src_height >= 2 * dst_height) {
    const int32_t half_width = src_width / 2;
    const int32_t half_height = src_height / 2;
    std::vector<uint32_t> half(size_t(half_width) * size_t(half_height));
    for (int32_t y = 0; y < half_height; ++y) {
      const uint32_t* a = src + int64_t{2 * y} * stride;
      const uint32_t* b = a + stride;
      uint32_t* out = &half[size_t(y) * size_t(half_width)];
      for (int32_t x = 0; x < half_width; ++x) {
        const uint32_t p = a[2 * x], q = a[2 * x + 1], r = b[2 * x], t = b[2 * x + 1];
        // Even bytes and odd bytes summed apart, so four bytes never carry into each other.
        const uint32_t even =
            (p & 0x00FF00FF) + (q & 0x00FF00FF) + (r & 0x00FF00FF) + (t & 0x00FF00FF) + 0x00020002;
        const uint32_t odd = ((p >> 8) & 0x00FF00FF) + ((q >> 8) & 0x00FF00FF) +
                             ((r >> 8) & 0x00FF00FF) + ((t >> 8) & 0x00FF00FF) + 0x00020002;
        out[x] = ((even >> 2) & 0x00FF00FF) | (((odd >> 2) & 0x00FF00FF) << 8);
      }
    }
    // The box rows keep the frame's bottom-first order; an odd last row is dropped, as it
    // would weigh a quarter pixel.
    ScaleFrameToRgb(half.data(), half_width, half_width, half_height, dst, dst_stride, dst_width,
                    dst_height, dst_top, dst_rows);
    return;
  }
  const Taps cols = MakeTaps(src_width, dst_width);
  const Taps rows = MakeTaps(src_height, dst_height);
  // Horizontal pass over the source rows the vertical pass needs, into float RGB.
  std::vector<float> line(size_t(src_height) * size_t(dst_width) * 3, 0.0f);
  std::vector<uint8_t> needed(size_t(src_height), 0);
  std::vector<size_t> row_offsets(static_cast<size_t>(dst_height));
  {
    size_t offset = 0;
    for (int32_t y = 0; y < dst_height; ++y) {
      row_offsets[size_t(y)] = offset;
      offset += size_t(rows.count[size_t(y)]);
      const int32_t out = dst_top + y;
      if (out < 0 || out >= dst_rows) continue;
      for (int32_t k = 0; k < rows.count[size_t(y)]; ++k)
        needed[size_t(rows.first[size_t(y)] + k)] = 1;
    }
  }
  std::vector<size_t> col_offsets(static_cast<size_t>(dst_width));
  {
    size_t offset = 0;
    for (int32_t x = 0; x < dst_width; ++x) {
      col_offsets[size_t(x)] = offset;
      offset += size_t(cols.count[size_t(x)]);
    }
  }
  for (int32_t sy = 0; sy < src_height; ++sy) {
    if (!needed[size_t(sy)]) continue;
    // Top row first: source row sy from the top is stored at src_height - 1 - sy.
    const uint32_t* row = src + int64_t{src_height - 1 - sy} * stride;
    float* out = &line[size_t(sy) * size_t(dst_width) * 3];
    for (int32_t x = 0; x < dst_width; ++x) {
      const float* w = &cols.weights[col_offsets[size_t(x)]];
      const uint32_t* p = row + cols.first[size_t(x)];
      float r = 0, g = 0, b = 0;
      for (int32_t k = 0; k < cols.count[size_t(x)]; ++k) {
        const uint32_t px = p[k];
        b += w[k] * float(px & 0xFF);
        g += w[k] * float((px >> 8) & 0xFF);
        r += w[k] * float((px >> 16) & 0xFF);
      }
      out[x * 3] = r;
      out[x * 3 + 1] = g;
      out[x * 3 + 2] = b;
    }
  }
  for (int32_t y = 0; y < dst_height; ++y) {
    const int32_t out_row = dst_top + y;
    if (out_row < 0 || out_row >= dst_rows) continue;
    uint8_t* out = dst + int64_t{out_row} * dst_stride;
    const float* w = &rows.weights[row_offsets[size_t(y)]];
    const int32_t first = rows.first[size_t(y)];
    for (int32_t x = 0; x < dst_width * 3; ++x) {
      float v = 0;
      for (int32_t k = 0; k < rows.count[size_t(y)]; ++k) {
        v += w[k] * line[size_t(first + k) * size_t(dst_width) * 3 + size_t(x)];
      }
      out[x] = static_cast<uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
    }
  }
}

}  // namespace zqr::frames
