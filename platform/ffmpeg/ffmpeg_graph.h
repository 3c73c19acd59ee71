// The FFmpeg backend of the media seam: libavformat opens the file, libavcodec decodes
// on its own threads, libswscale converts straight into bottom-up BGRX buffers, and a
// streaming thread per graph delivers the frames to the grabber callback, paced to real
// time when the graph has a clock. The preview sound goes to SDL2.
#pragma once

#include <memory>

#include "platform/media.h"

namespace zqr::platform {

// A new, empty graph on FFmpeg.
std::unique_ptr<MediaGraph> CreateFfmpegGraph();

// Makes the FFmpeg graph the one CreateMediaGraph returns.
inline void InstallFfmpegMedia() {
  InstallMediaGraphFactory(&CreateFfmpegGraph);
}

}  // namespace zqr::platform
