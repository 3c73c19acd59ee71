// The process-wide frame storage: the arrays the graph delivers its pictures into, which the
// filter chain works on, and the frame geometry and counters. A conversion's own arrays
// belong to its recording (FrameRecording), the preview's to the loaded video
// (PreviewStepState).
//
// Ownership by thread: the graph build (re)allocates WorkFrame and GrabBuffer while no
// frame is being processed; during a conversion only the streaming thread (BufferCB)
// touches them.
#pragma once

#include <cstdint>

#include "core/shared_value.h"
#include "frames/frame.h"

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
