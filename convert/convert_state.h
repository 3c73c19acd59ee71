// Process-wide state of the conversion subsystem: the flags other threads poll, and what
// an export is asked to encode.
#pragma once

#include <cstdint>
#include <string>

#include "core/shared_value.h"

namespace zqr {

struct ConversionState {
  // 1 while an encoder run is under way; the progress window waits for 0.
  Shared32 EncoderRunning{0};
  // Set by the window's stop command during a conversion; the driver clears it.
  Shared32 StopRequested{0};
  // The encoder tool's exit status of the last export (-1: not started, or killed).
  Shared32 EncoderExitCode{-1};
  // 1: the driver leaves the frame files and the sound file in the temporary folder.
  Shared32 KeepWorkFiles{0};
};

extern ConversionState Conversion;

// What an export encodes: the movie's name, the frame-file size from the frame-file header,
// and the loaded video's timing. Each conversion keeps its own.
struct EncoderJob {
  std::string OutputName;
  int32_t FrameFileWidth = 0;
  int32_t FrameFileHeight = 0;
  int64_t TimePerFrame = 0;  // 100 ns units
  double DurationSeconds = 0.0;
  // The recording's temporary folder, copied when the recording started; empty: TempFolder.
  std::string TempFolder;
  // The output layout the frames were recorded in (frames::OutputLayout), fixed for the
  // recording: it decides the frame files' size and what the movie says of its views.
  int32_t Layout = 0;
  // The shape of the frames' pixels as shown, and the primaries and transfer of their RGB.
  int32_t PixelAspectX = 1;
  int32_t PixelAspectY = 1;
  std::string Primaries = "bt709";
  std::string Transfer = "bt709";
};

}  // namespace zqr
