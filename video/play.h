// The preview side of the graph: the play loop that polls the grabber about every 32 ms
// while the user watches, the preview poll itself, the position bar, and the clearing of
// the video's figures from the main window.
#pragma once

#include <cstdint>
#include <string>

#include "core/control_ids.h"
#include "core/observer.h"
#include "platform/media.h"
#include "video/video_state.h"

namespace zqr {

// One preview frame of `video`: the grabber's newest sample into GrabBuffer, then
// WorkFrame, then the filter chain (which repaints the preview). One thread at a time (spin
// lock).
void PollPreviewFrame(const LoadedVideo& video, Observer& observer);
// The second half of a poll, on the picture in GrabBuffer: the conversion's step with the
// preview's `step` when PreviewConverted is on (StepPreviewFrame), else the copy into
// WorkFrame and the chain.
void ShowPolledFrame(PreviewStepState& step, Observer& observer);

// Zeroes WorkFrame and GrabBuffer and clears `video`'s preview step (when there is one);
// never while a preview poll or another clear runs (the loader clears them after a playback).
void ClearPreviewFrames(LoadedVideo* video);

// Returns once a preview poll under way has finished. After Converting is set, no poll
// touches the frames any more once this has returned.
void WaitForPreviewPoll();

// Empties labels 409, 303, 304, 305, 306 and 307, and the probe summary of `video` (when
// there is one).
void ClearVideoInfo(Observer& observer, LoadedVideo* video);
// Labels 303 (the video's path), 304, 305, 306 and 409: its frame size, rate, frame count
// and duration, as the graph build published them.
void ShowVideoInfo(const LoadedVideo& video, Observer& observer);

// The play loop on `video`'s `graph`, until PlayState becomes 0: preview poll, position bar
// and a 32-ms pump while no conversion runs, a 120-ms pump while one does.
void RunPlayLoop(const LoadedVideo& video, platform::MediaGraph& graph, Observer& observer);

}  // namespace zqr
