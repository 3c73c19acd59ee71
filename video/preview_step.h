// What the preview of one loaded video keeps from one poll to the next.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "core/settings.h"
#include "frames/frame.h"
#include "frames/layouts.h"
#include "video/depth_stage.h"

namespace zqr {

// The preview's own arrays for showing a frame as a conversion would write it (see
// StepPreviewFrame), one set per loaded video, used by the thread that runs its preview
// loop (under the poll's lock) only: a conversion's arrays are never touched by the preview,
// nor these by a conversion.
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

  // The arrays for width x height pictures (kept when they have that shape, with a black
  // previous frame otherwise) and a layout frame of layout_width x layout_height pixels
  // (none for 0).
  bool Allocate(int32_t width, int32_t height, int32_t layout_width, int32_t layout_height);
  // The arrays released and nothing to show: after a playback or a conversion (both clear
  // the frames first) the preview starts from a black previous frame again, and a
  // conversion started from the window holds no memory for the preview meanwhile.
  void Clear();
  // The next poll processes and shows its picture even when it is the last one shown (the
  // preview was cleared, or the frames used by a conversion); any thread may call it.
  void Forget();
};

}  // namespace zqr
