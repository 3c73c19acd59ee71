// The process-wide frame storage: the arrays the graph delivers its pictures into, which the
// filter chain works on, and the frame geometry and counters. A conversion's own arrays
// belong to its recording (FrameRecording), the preview's to PreviewStep.
//
// Ownership by thread: the graph build (re)allocates WorkFrame and GrabBuffer while no
// frame is being processed; during a conversion only the streaming thread (BufferCB)
// touches them.
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

  Shared32 FrameW{0};
  Shared32 FrameH{0};
  Shared32 FramePixelCount{0};  // pixels of the current frame (delivered bytes / 4)
  Shared32 FrameCounter{0};     // frames delivered since the conversion began
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

// Start-up storage for a 400 x 300 picture: WorkFrame and GrabBuffer of 400 x 301 pixels;
// FrameW = 400, FrameH = 300.
bool AllocateInitialFrameStorage();

// Graph build: FrameW, FrameH, WorkFrame and GrabBuffer of width x (height + 1) zero
// pixels and the frame pixel count. False when the size cannot be allocated (the arrays
// are then empty).
bool AllocateGrabFrames(int32_t width, int32_t height);

// Whether frame files can be made for this video (FrameW > 16; narrower frames give files
// without a valid width, and BufferCB then writes none).
bool PrepareFileFrame();

}  // namespace zqr
