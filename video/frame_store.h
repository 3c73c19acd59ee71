// The process-wide frame storage: the frame arrays the graph, the filter chain, the
// conversion and the frame files share, the frame geometry and counters, the bitmap
// headers and the estimate's timing state.
//
// Ownership by thread: the graph build (re)allocates WorkFrame and GrabBuffer, the
// conversion driver the conversion arrays, each while no frame is being processed; during
// a conversion only the streaming thread (BufferCB) touches the arrays.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "core/shared_value.h"
#include "frames/estimate.h"
#include "frames/frame.h"
#include "frames/layouts.h"
#include "video/depth_stage.h"

namespace zqr {

struct FrameStoreState {
  frames::FrameArray WorkFrame;   // FrameW x (FrameH + 1): receives every frame
  frames::FrameArray GrabBuffer;  // same shape: the preview poll's copy of the grabber
  frames::FrameArray DMEM1;       // output frame
  frames::FrameArray DMEM2;       // sharpen scratch and second view
  frames::FrameArray DMEM3;       // previous frame
  // DMEM2 and DMEM3 have storage below them to slide into (FrameArray::AllocateSliding):
  // the strip pipeline builds each sharpened frame in DMEM3's storage a few rows below the
  // previous one (see ProcessFrameInStrips).
  frames::FrameArray DMEM4;      // pre-stereo stash
  frames::FrameArray ViewCopy1;  // copy of the first view
  frames::FrameArray ViewCopy2;  // copy of the second view
  // The file frame ((FrameW - 16) x FrameH) has no shared array: each frame file is written
  // cropped from a frame the writers own, DMEM1's storage handed over whole once the next
  // frame replaces it, or a copy (see frame_callback.h), so no writer can ever see the next
  // frame's pixels.

  Shared32 FrameW{0};
  Shared32 FrameH{0};
  Shared32 FramePixelCount{0};  // pixels of the current frame (delivered bytes / 4)
  Shared32 FrameCounter{0};     // frames delivered since the conversion began

  // A recording in another output layout than the red/cyan merge composes each frame's file
  // frame here (LayoutWidth x LayoutHeight, contiguous), which the preview then shows;
  // LayoutWidth is 0 otherwise.
  frames::FrameArray LayoutFrame;
  Shared32 LayoutWidth{0};
  Shared32 LayoutHeight{0};
};

extern FrameStoreState FrameStore;

// The preview's own arrays for showing a frame as a conversion would write it (see
// StepPreviewFrame), used by the thread that runs the preview loop only: a conversion's
// arrays are never touched by the preview, nor these by a conversion.
//
// The poll may fetch the same picture twice (a paused video, a poll before the next frame
// is out). The dynamic effect must then pair it with the frame before it again, not with
// itself, so the previous frame is never built over (no sliding): after a step Previous
// holds this picture and Spare the one before, and a repeated picture swaps them back.
struct PreviewStepState {
  enum class Shows { kNothing, kFrame, kLayout };
  frames::FrameArray Output;       // the finished frame (FrameW x (FrameH + 1))
  frames::FrameArray Spare;        // the sharpened frame, then the frame before Previous's
  frames::FrameArray Previous;     // the last picture, sharpened: the next one's second view
  frames::FrameArray LastPicture;  // the last picture as polled
  frames::FrameArray LayoutFrame;
  frames::LayoutScratch Scratch;
  std::unique_ptr<DepthStage> Depth;  // the depth-map effect's, for pictures of this size
  int32_t DepthWidth = 0;
  int32_t DepthHeight = 0;
  std::string DepthFile;    // what Depth reads (empty: a model, found in the video, or the prior)
  std::string DepthModel;   // the model Depth runs (empty: none)
  bool DepthPrior = false;  // without a file or model: the prior rather than the estimator
  int32_t DepthNumber = 0;  // the frame its plane belongs to
  int32_t PictureNumber = -1;  // the polled picture's frame at the graph's position; -1: unknown
  double FramesPerSecond = 0.0;
  // What the last poll showed: the same picture with the same settings is not processed
  // again (a clip at its end or paused is still polled).
  std::vector<uint8_t> ShownPicture;
  SettingsRecord ShownValues;
  std::string ShownDepthFile;
  int32_t ShownNumber = -1;
  std::atomic<bool> HasShown{false};
  // Previous is not the picture before the next one polled (a conversion has rewound the
  // clip since): set by whoever forgets the shown picture, taken by the next step.
  std::atomic<bool> PreviousStale{false};
  int32_t LayoutWidth = 0;
  int32_t LayoutHeight = 0;
  bool HasLastPicture = false;
  bool PreviousAdvanced = false;  // the last step made its picture the previous frame
  // What the last step left to show: Output's first FrameW - 16 columns (as a frame file
  // has them), or LayoutFrame; nothing after the option was off or the frames cleared.
  Shows Shown = Shows::kNothing;
};

extern PreviewStepState PreviewStep;

// The preview's arrays for width x height pictures (kept when they have that shape, with a
// black previous frame otherwise) and a layout frame of layout_width x layout_height pixels
// (none for 0).
bool AllocatePreviewStep(int32_t width, int32_t height, int32_t layout_width,
                         int32_t layout_height);
// The preview's arrays released and nothing to show: after a new video or a conversion
// (both clear the frames first) the preview starts from a black previous frame again, and
// a conversion started from the window holds no memory for the preview meanwhile.
void ClearPreviewStep();
// The next poll processes and shows its picture even when it is the last one shown (the
// preview was cleared, or the frames used by a conversion).
void ForgetShownPreview();

// Start-up storage for a 400 x 300 picture: WorkFrame and GrabBuffer of 400 x 301 pixels,
// the six conversion arrays of 1201 x 301; FrameW = 400, FrameH = 300.
bool AllocateInitialFrameStorage();

// Graph build: FrameW, FrameH, WorkFrame and GrabBuffer of width x (height + 1) zero
// pixels and the frame pixel count. False when the size cannot be allocated (the arrays
// are then empty).
bool AllocateGrabFrames(int32_t width, int32_t height);

// Conversion start, in the driver's order:
// DMEM1..DMEM4, ViewCopy1, ViewCopy2 freed and allocated anew, FrameW x (FrameH + 1), zero
// (DMEM2 and DMEM3 with room to slide).
bool AllocateConversionArrays();
// Whether frame files can be made for this video (FrameW > 16; narrower frames give files
// without a valid width, and BufferCB then writes none).
bool PrepareFileFrame();
// All of the above in that order.
bool AllocateConversionFrames();

// The layout frame of a recording: width x height pixels (and a spare line), or none (0
// x 0). False when it cannot be allocated.
bool AllocateLayoutFrame(int32_t width, int32_t height);

}  // namespace zqr
