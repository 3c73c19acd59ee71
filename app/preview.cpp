// The preview display. The area keeps its own picture between frames, as a window's
// device context does: what the bands and the frame leave untouched (the top row, the
// left column) shows what was drawn before. Frames are drawn by the thread that runs the
// filter chain and handed over whole, so the GUI thread only copies pixels to the screen.
#include "app/preview.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <mutex>
#include <string>
#include <vector>

#include "core/numbers.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "frames/crop.h"
#include "platform/ui.h"
#include "video/frame_callback.h"
#include "video/frame_store.h"
#include "video/graph.h"
#include "video/video_state.h"

namespace zqr {

namespace {

constexpr uint8_t kIdleGrey = 51;

// The area's picture, shared by the preview loop, the streaming thread and ResetPreview.
std::mutex canvas_mutex;
std::vector<uint8_t> canvas;

void FillIdle() {
  canvas.assign(size_t{kPreviewSize} * kPreviewSize * 3, kIdleGrey);
}

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

// Dotted pen: three pixels black, three white, along the box's edge.
void DottedBox(int left, int top, int right, int bottom) {
  right = std::min(right, kPreviewSize);
  bottom = std::min(bottom, kPreviewSize);
  if (right <= left || bottom <= top) return;
  for (int y = top; y < bottom; ++y) {
    for (int x = left; x < right; ++x) {
      const bool edge = y == top || y == bottom - 1 || x == left || x == right - 1;
      const int along = (y == top || y == bottom - 1) ? x - left : y - top;
      const uint8_t v = edge && (along / 3) % 2 == 1 ? uint8_t{255} : uint8_t{0};
      uint8_t* p = &canvas[(size_t(y) * kPreviewSize + size_t(x)) * 3];
      p[0] = p[1] = p[2] = v;
    }
  }
}

void HandOver(std::vector<platform::PreviewPicture::Caption> captions) {
  auto picture = std::make_shared<platform::PreviewPicture>();
  picture->width = kPreviewSize;
  picture->height = kPreviewSize;
  picture->rgb = canvas;
  picture->captions = std::move(captions);
  platform::CurrentUi().ShowPreview(std::move(picture));
}

}  // namespace

Letterbox PreviewLetterbox(int32_t frame_width, int32_t frame_height) {
  Letterbox box;
  if (frame_width <= 0 || frame_height <= 0) return box;
  box.height = static_cast<int>(std::nearbyint(double{kPreviewSize} * frame_height / frame_width));
  box.top = static_cast<int>(std::nearbyint((kPreviewSize - box.height) / 2.0));
  return box;
}

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

namespace {
// The three caption lines of a conversion.
std::vector<platform::PreviewPicture::Caption> ConversionCaptions() {
  std::vector<platform::PreviewPicture::Caption> captions;
  captions.push_back({10, 10, " Estimated processing time = " + Shell.EstimateText.Get() + " "});
  captions.push_back({10, 30, " Time passed = " + Shell.ElapsedText.Get() + " "});
  captions.push_back(
      {10, 50, " Resize Mode = " + NumberText(100 - 10 * Settings.ResizeMode) + "% "});
  return captions;
}

// A layout frame: a wide one (side by side) letter-boxed as any frame, a tall one (top and
// bottom) pillar-boxed, with black bands beside it.
void DrawLayoutPreview(const frames::FrameArray& frame, int32_t width, int32_t height,
                       std::vector<platform::PreviewPicture::Caption> captions) {
  if (frame.empty() || frame.width() != width || frame.rows() < height) return;
  std::lock_guard lock(canvas_mutex);
  if (canvas.empty()) FillIdle();
  if (height <= width) {
    const Letterbox box = PreviewLetterbox(width, height);
    ScaleFrameToRgb(frame.data(), width, width, height, canvas.data(), kPreviewSize * 3,
                    kPreviewSize, box.height, box.top, kPreviewSize);
    DottedBox(1, 1, kPreviewSize, box.top + 1);
    DottedBox(1, kPreviewSize - box.top, kPreviewSize, kPreviewSize);
  } else {
    const auto shown = static_cast<int>(std::nearbyint(double{kPreviewSize} * width / height));
    const int left = (kPreviewSize - shown) / 2;
    std::fill(canvas.begin(), canvas.end(), uint8_t{0});
    ScaleFrameToRgb(frame.data(), width, width, height, canvas.data() + size_t(left) * 3,
                    kPreviewSize * 3, shown, kPreviewSize, 0, kPreviewSize);
  }
  HandOver(std::move(captions));
}

// The preview's own converted frame (PreviewStep): the columns a frame file keeps, with
// their own proportions, or the layout frame.
void DrawConvertedPreview(const PreviewStepState& p) {
  if (p.Shown == PreviewStepState::Shows::kLayout) {
    DrawLayoutPreview(p.LayoutFrame, p.LayoutWidth, p.LayoutHeight, {});
    return;
  }
  const frames::FrameArray& frame = p.Output;
  const int32_t width = frame.width() - frames::kCropColumns;
  const int32_t height = frame.rows() - 1;
  if (frame.empty() || width <= 0 || height <= 0) return;
  const Letterbox box = PreviewLetterbox(width, height);
  std::lock_guard lock(canvas_mutex);
  if (canvas.empty()) FillIdle();
  ScaleFrameToRgb(frame.data(), frame.width(), width, height, canvas.data(), kPreviewSize * 3,
                  kPreviewSize, box.height, box.top, kPreviewSize);
  DottedBox(1, 1, kPreviewSize, box.top + 1);
  DottedBox(1, kPreviewSize - box.top, kPreviewSize, kPreviewSize);
  HandOver({});
}
}  // namespace

void DrawPreviewFrame() {
  if (Settings.ShowInputVideo != 1) return;
  FrameStoreState& s = FrameStore;
  const int32_t width = s.FrameW;
  const int32_t height = s.FrameH;
  const bool converting = Video.Converting == 1;
  const int32_t layout_width = s.LayoutWidth;
  if (converting && layout_width > 0) {
    DrawLayoutPreview(s.LayoutFrame, layout_width, s.LayoutHeight, ConversionCaptions());
    return;
  }
  if (!converting && PreviewStep.Shown != PreviewStepState::Shows::kNothing) {
    DrawConvertedPreview(PreviewStep);
    return;
  }
  const frames::FrameArray& source = converting ? s.DMEM1 : s.WorkFrame;
  const int32_t shown_width = converting ? width - 16 : width;
  if (source.empty() || width <= 0 || height <= 0 || shown_width <= 0 || source.width() != width ||
      source.rows() < height) {
    return;
  }
  const Letterbox box = PreviewLetterbox(width, height);
  std::lock_guard lock(canvas_mutex);
  if (canvas.empty()) FillIdle();
  ScaleFrameToRgb(source.data(), source.width(), shown_width, height, canvas.data(),
                  kPreviewSize * 3, kPreviewSize, box.height, box.top, kPreviewSize);
  DottedBox(1, 1, kPreviewSize, box.top + 1);
  DottedBox(1, kPreviewSize - box.top, kPreviewSize, kPreviewSize);
  HandOver(converting ? ConversionCaptions() : std::vector<platform::PreviewPicture::Caption>{});
}

void DrawIdlePreview() {
  {
    std::lock_guard lock(canvas_mutex);
    FillIdle();
  }
  platform::CurrentUi().ResetPreview();
}

namespace {
std::atomic<bool> preview_connected{false};
}  // namespace

void ConnectPreview(bool connected) {
  preview_connected = connected;
}

bool PreviewConnected() {
  return preview_connected.load();
}

}  // namespace zqr
