// The frame-grabbing graph of the loaded video: its build and play (BuildAndPlayGraph,
// run on the loader's thread until playback ends), its teardown, and the frame callback
// that the conversion driver installs so every decoded frame runs through BufferCB.
#pragma once

#include <cstdint>
#include <string>

#include "core/observer.h"
#include "platform/media.h"
#include "video/video_state.h"

namespace zqr {

// Message texts of the graph build (caption kGraphErrorCaption).
inline constexpr const char* kGraphErrorCaption = "Error Monitoring";
inline constexpr const char* kNoGraphText = "FilterGraph Error.";
inline constexpr const char* kGrabberErrorText = "ISampleGrabber Error.";
inline constexpr const char* kAddGrabberErrorText = "GraphBuilder AddFilter Error.";
inline constexpr const char* kMediaTypeErrorText = "ISampleGrabber SetMediaType Error.";
inline constexpr const char* kAddSourceErrorText = "AddSourceFile Error";
inline constexpr const char* kUnsupportedText = "Unsupported media type!";
inline constexpr const char* kAddRendererErrorText = "AddFilter m_pNullRenderer";
inline constexpr const char* kStream010Text = "Stream Error 010";
inline constexpr const char* kStream011Text = "Stream Error 011";
inline constexpr const char* kFormatErrorText =
    "Format of the file is not support.\r\nOr - File can be open by another app.";

// A new video for `file_name`, made the current one, then BuildGraphPaused and
// PlayBuiltGraph when it was built. Returns 0.
int32_t BuildAndPlayGraph(const std::string& file_name, Observer& observer);

// The graph for `video` built and left paused as the video's graph, its figures published;
// kBusy at once while another build is active, kFailed with the message of the step that
// failed (after it was shown and the graph let go of), and for a source that would not open
// or connect the reason after it ("AddSourceFile Error: the file is empty"). Then either
// PlayBuiltGraph plays it in the preview until PlayState becomes 0 and tears it down, or a
// conversion that needs no preview uses it and EndPausedGraph lets go of it.
enum class GraphBuild { kBuilt, kFailed, kBusy };
GraphBuild BuildGraphPaused(LoadedVideo& video, std::string* failure, Observer& observer);
void PlayBuiltGraph(LoadedVideo& video, Observer& observer);
void EndPausedGraph(LoadedVideo& video, Observer& observer);

// The conversion driver's installation: the grabber's SetCallback with the recording's
// callback (its BufferCB runs for every frame) and selector 1; kNotBuilt without a graph.
// The recording outlives the installation: the driver takes it out first.
platform::MediaStatus InstallFrameCallback(platform::MediaGraph* graph,
                                           platform::SampleGrabberCallback& recording);

// The settle time after the graph starts (step before the play loop), 1000 ms. Tests
// shorten it.
void SetGraphSettleMs(int milliseconds);

}  // namespace zqr
