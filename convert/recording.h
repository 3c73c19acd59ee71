// The recording phase of a conversion: the loop that watches the graph deliver every
// frame (progress, stop requests, a full disk, the end of the stream or a stall), and the
// end of the recording with the gaps of its grid filled.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "core/observer.h"
#include "platform/media.h"
#include "video/frame_callback.h"

namespace zqr {

enum class RecordEnd { kStopped, kEnded, kWriteFailed, kCalledOff };

// Polls the graph until `recording` ends. `each_wait` runs every 10 ms of a wait and ends
// the recording (kCalledOff) by returning true; while `held_back` says the frames wait for
// the encoder, no progress is no stall.
RecordEnd RecordLoop(platform::MediaGraph& graph, const FrameRecording& recording,
                     int32_t* frames_done, const std::function<bool()>& each_wait,
                     const std::function<bool()>& held_back, Observer& observer);

// Stops the frames: no callback, no writer of `recording` (if any) still busy. Returns the
// recording's numbers and gaps. The encoder's feed must take pictures or be aborted by then, as a
// frame waiting for room in its queue holds the callback.
RecordedFrames StopRecording(platform::MediaGraph* graph, FrameRecording* recording);

// Fills each gap of the recording with the frame file before it; how many files it made.
int32_t RepeatFrames(const std::string& folder, const std::vector<FrameGap>& gaps);

// Drops the events the graph has queued (an end of stream the preview reached).
void DiscardGraphEvents(platform::MediaGraph& graph);

}  // namespace zqr
