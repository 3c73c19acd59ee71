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

#include "core/observer.h"
#include "core/settings.h"
#include "frames/scale_to_rgb.h"
#include "platform/ui.h"

namespace zqr {

namespace {

constexpr uint8_t kIdleGrey = 51;

// The area's picture, shared by the preview loop, the streaming thread and ResetPreview.
std::mutex canvas_mutex;
std::vector<uint8_t> canvas;

void FillIdle() {
  canvas.assign(size_t{kPreviewSize} * kPreviewSize * 3, kIdleGrey);
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

void DrawPreviewFrame(const PreviewFrame& frame) {
  if (Settings.ShowInputVideo != 1) return;
  const int32_t width = frame.width;
  const int32_t height = frame.height;
  if (frame.pixels == nullptr || width <= 0 || height <= 0 || frame.stride < width) return;
  std::lock_guard lock(canvas_mutex);
  if (canvas.empty()) FillIdle();
  if (frame.pillarbox_tall && height > width) {
    const auto shown = static_cast<int>(std::nearbyint(double{kPreviewSize} * width / height));
    const int left = (kPreviewSize - shown) / 2;
    std::fill(canvas.begin(), canvas.end(), uint8_t{0});
    frames::ScaleFrameToRgb(frame.pixels, frame.stride, width, height,
                            canvas.data() + size_t(left) * 3, kPreviewSize * 3, shown, kPreviewSize,
                            0, kPreviewSize);
  } else {
    const Letterbox box = PreviewLetterbox(width, height);
    frames::ScaleFrameToRgb(frame.pixels, frame.stride, width, height, canvas.data(),
                            kPreviewSize * 3, kPreviewSize, box.height, box.top, kPreviewSize);
    DottedBox(1, 1, kPreviewSize, box.top + 1);
    DottedBox(1, kPreviewSize - box.top, kPreviewSize, kPreviewSize);
  }
  HandOver(frame.captions);
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
