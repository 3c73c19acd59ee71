// The FFmpeg backend of the media seam: libavformat opens the file, libavcodec decodes
// on its own threads, libswscale converts straight into bottom-up BGRX buffers, and a
// streaming thread per graph delivers the frames to the grabber callback, paced to real
// time when the graph has a clock. The preview sound goes to SDL2.
#pragma once

#include <memory>

#include "platform/grey_video.h"
#include "platform/media.h"

namespace zqr::platform {

// A new, empty graph on FFmpeg.
std::unique_ptr<MediaGraph> CreateFfmpegGraph();

// Depth planes read from and written to media files on FFmpeg (see grey_video.h).
std::unique_ptr<GreyVideoReader> OpenFfmpegGreyVideo(const std::string& path, int32_t width,
                                                     int32_t height, std::string& failure);
std::unique_ptr<GreyVideoWriter> CreateFfmpegGreyVideo(const std::string& path, int32_t width,
                                                       int32_t height, double frames_per_second,
                                                       std::string& failure);

// Makes the FFmpeg graph the one CreateMediaGraph returns, and FFmpeg the grey planes' reader
// and writer.
inline void InstallFfmpegMedia() {
  InstallMediaGraphFactory(&CreateFfmpegGraph);
  InstallGreyVideo(&OpenFfmpegGreyVideo, &CreateFfmpegGreyVideo);
}

}  // namespace zqr::platform
