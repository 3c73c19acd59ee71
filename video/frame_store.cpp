// The process-wide frame storage.
#include "video/frame_store.h"

#include "frames/crop.h"

namespace zqr {

FrameStoreState FrameStore;

namespace {
constexpr int32_t kInitialWidth = 400;
constexpr int32_t kInitialHeight = 300;
}  // namespace

bool AllocateInitialFrameStorage() {
  return AllocateGrabFrames(kInitialWidth, kInitialHeight);
}

bool AllocateGrabFrames(int32_t width, int32_t height) {
  FrameStoreState& s = FrameStore;
  s.FrameW = width;
  s.FrameH = height;
  bool ok = s.WorkFrame.Allocate(width, height + 1);
  ok = s.GrabBuffer.Allocate(width, height + 1) && ok;
  if (!ok) {
    s.WorkFrame.Free();
    s.GrabBuffer.Free();
  }
  s.FramePixelCount = ok ? width * height : 0;
  return ok;
}

bool PrepareFileFrame() {
  return FrameStore.FrameW > frames::kCropColumns;
}

}  // namespace zqr
