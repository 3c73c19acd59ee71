// The process-wide frame storage.
#include "video/frame_store.h"

#include "frames/crop.h"
#include "video/frame_callback.h"

namespace zqr {

FrameStoreState FrameStore;

namespace {
constexpr int32_t kInitialWidth = 400;
constexpr int32_t kInitialHeight = 300;
constexpr int32_t kInitialConversionWidth = 1201;

bool AllocateConversionShape(int32_t width, int32_t rows) {
  FrameStoreState& s = FrameStore;
  frames::FrameArray* arrays[] = {&s.DMEM1, &s.DMEM2,     &s.DMEM3,
                                  &s.DMEM4, &s.ViewCopy1, &s.ViewCopy2};
  bool ok = true;
  for (frames::FrameArray* array : arrays) ok = array->Allocate(width, rows) && ok;
  return ok;
}
}  // namespace

bool AllocateInitialFrameStorage() {
  bool ok = AllocateGrabFrames(kInitialWidth, kInitialHeight);
  ok = AllocateConversionShape(kInitialConversionWidth, kInitialHeight + 1) && ok;
  return ok;
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
  s.DisplayHeader = frames::MakeBitmapInfoHeader(width, height);
  return ok;
}

void SetCutoff() {
  FrameStore.CUTOFF[0] = FrameStore.FrameW.load();
  FrameStore.CUTOFF[1] = FrameStore.FrameH.load();
}

bool AllocateConversionArrays() {
  FlushPendingFrameFile();  // its pixels are in DMEM1
  return AllocateConversionShape(FrameStore.FrameW, FrameStore.FrameH + 1);
}

void PrepareFrameFileHeaders() {
  const int32_t width = FrameStore.FrameW;
  const int32_t height = FrameStore.FrameH;
  FrameStore.DisplayHeader = frames::MakeBitmapInfoHeader(width, height);
  FrameStore.FileInfoHeader = FrameStore.DisplayHeader;
  FrameStore.FileInfoHeader.width = width - frames::kCropColumns;
}

bool PrepareFileFrame() {
  return FrameStore.FrameW > frames::kCropColumns;
}

bool AllocateConversionFrames() {
  SetCutoff();
  bool ok = AllocateConversionArrays();
  PrepareFrameFileHeaders();
  ok = PrepareFileFrame() && ok;
  return ok;
}

void ResetEstimateTiming() {
  FrameStore.Estimate.Reset();
}

}  // namespace zqr
