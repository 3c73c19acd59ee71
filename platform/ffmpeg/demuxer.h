// Demuxing: opens a media file, chooses its video stream (and, for the preview, its sound
// stream), reads their packets and seeks. Every other stream of the file is skipped
// unread. Used by the building thread until the graph streams, then by the streaming
// thread alone.
#pragma once

#include <cstdint>
#include <deque>
#include <string>

#include "platform/ffmpeg/libav_handles.h"
#include "platform/media.h"

struct AVCodec;
struct AVStream;

namespace zqr::platform::ffmpeg {

// The figures of the video stream the graph reports, in media time.
struct VideoTiming {
  RefTime frame_duration = 0;  // nominal; 0 when the file gives no frame rate
  RefTime duration = 0;
  RefTime origin = 0;  // the file's timestamp of stream time 0
};

class Demuxer {
 public:
  enum class Read { kVideo, kSound, kOther, kRetry, kEnd };

  // Opens and probes `file_name`: kCannotOpen when it cannot be read or is no media file.
  MediaStatus Open(const std::string& file_name);
  bool IsOpen() const { return format_ != nullptr; }
  // The decoder library's words for the last failed Open or ChooseVideo.
  const std::string& Failure() const { return failure_; }

  // Chooses the file's best video stream and finds its decoder; kUnsupported when there
  // is none, only a cover picture, or HDR video (PQ or HLG). The other streams are skipped
  // from then on.
  MediaStatus ChooseVideo();
  const AVStream* Video() const { return video_; }
  const AVCodec* VideoCodec() const { return video_codec_; }
  VideoTiming Timing() const;
  // For a file that names no length (a raw stream): its video packets counted through to
  // the end, then back to the start; the length they make. kUnsupported for a single
  // picture, which is no video.
  MediaStatus MeasureLength(VideoTiming& timing);

  // Reads the best sound stream too; false when the file has none.
  bool ChooseSound();
  const AVStream* Sound() const { return sound_; }

  // The next packet of a chosen stream. kRetry after a damaged or not yet ready read;
  // kEnd at the end of the file, and when the reads of a damaged file keep failing.
  Read ReadPacket(AVPacket& packet);
  // Moves to the key frame at or before `target`, stream time.
  void Seek(RefTime target);
  // After the last packet: the codec and length of another video stream that the file went
  // on with once the chosen one had ended (files of two codecs joined end to end), such as
  // "mpeg2video, 3.00 s"; empty when there was none.
  std::string VideoBeyondEnd() const;

 private:
  MediaStatus Fail(int av_error);
  FormatContextPtr format_;
  std::string failure_;
  const AVStream* video_ = nullptr;
  const AVCodec* video_codec_ = nullptr;
  const AVStream* sound_ = nullptr;
  RefTime origin_ = 0;
  int read_errors_ = 0;
  // The packets of another video stream that lie in the file after the chosen stream's
  // last one (its position and time stamp). By position, not by the order of reading: a
  // transport stream hands out each stream's last packet only at the end of the file.
  struct Placed {
    int64_t pos = 0;
    int64_t pts = 0;
  };
  int beyond_index_ = -1;
  std::deque<Placed> beyond_;
  int64_t chosen_end_ = -1;
};

}  // namespace zqr::platform::ffmpeg
