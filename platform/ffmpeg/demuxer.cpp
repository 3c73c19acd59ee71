// libavformat behind the backend's demuxer.
#include "platform/ffmpeg/demuxer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
}

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <string_view>
#include <thread>
#include <utility>

#include "platform/ffmpeg/input_file.h"

namespace zqr::platform::ffmpeg {
namespace {
// Consecutive read errors after which a damaged file is taken to have ended.
constexpr int kMaxReadErrors = 200;

bool IsMovingVideo(const AVStream& stream) {
  return stream.codecpar->codec_type == AVMEDIA_TYPE_VIDEO &&
         (stream.disposition & AV_DISPOSITION_ATTACHED_PIC) == 0;
}
}  // namespace

MediaStatus Demuxer::Fail(int av_error) {
  char text[AV_ERROR_MAX_STRING_SIZE] = {};
  av_strerror(av_error, text, sizeof text);
  failure_ = text;
  return MediaStatus::kCannotOpen;
}

// A named pipe is never opened (the library would wait for a writer for ever), and what
// the library cannot tell apart is named by the file's own checks.
MediaStatus Demuxer::Open(const std::string& file_name) {
  av_log_set_level(AV_LOG_QUIET);
  if (std::string problem = InputFileProblem(file_name); !problem.empty()) {
    failure_ = std::move(problem);
    return MediaStatus::kCannotOpen;
  }
  AVFormatContext* opened = nullptr;
  int result = avformat_open_input(&opened, file_name.c_str(), nullptr, nullptr);
  if (result < 0) {
    const MediaStatus status = Fail(result);
    if (std::string content = UnreadableContent(file_name); !content.empty()) {
      failure_ = std::move(content);
    }
    return status;
  }
  FormatContextPtr format(opened);
  result = avformat_find_stream_info(format.get(), nullptr);
  if (result < 0) return Fail(result);
  format_ = std::move(format);
  return MediaStatus::kOk;
}

MediaStatus Demuxer::ChooseVideo() {
  const AVCodec* codec = nullptr;
  const int index = av_find_best_stream(format_.get(), AVMEDIA_TYPE_VIDEO, -1, -1, &codec, 0);
  if (index < 0 || codec == nullptr) {
    failure_ = index == AVERROR_DECODER_NOT_FOUND ? "no decoder for its video stream"
                                                  : "it holds no video stream";
    return MediaStatus::kUnsupported;
  }
  AVStream* stream = format_->streams[index];
  // Cover art is a single picture, not a movie.
  if ((stream->disposition & AV_DISPOSITION_ATTACHED_PIC) != 0) {
    failure_ = "it holds a single picture, not a video";
    return MediaStatus::kUnsupported;
  }
  // The frames become 8-bit standard dynamic range pictures; HDR read that way would look
  // washed out and dim, so it is refused rather than converted wrongly.
  const AVColorTransferCharacteristic transfer = stream->codecpar->color_trc;
  if (transfer == AVCOL_TRC_SMPTE2084 || transfer == AVCOL_TRC_ARIB_STD_B67) {
    failure_ = std::string("it is high dynamic range (HDR, ") +
               (transfer == AVCOL_TRC_SMPTE2084 ? "PQ" : "HLG") +
               ") video, which would look washed out in the standard dynamic range movie "
               "made from it; convert it to SDR first";
    return MediaStatus::kUnsupported;
  }
  // The other video streams are read (not decoded), to tell when the file goes on in one
  // of them after the chosen stream has ended.
  for (unsigned i = 0; i < format_->nb_streams; ++i) {
    AVStream* other = format_->streams[i];
    other->discard = IsMovingVideo(*other) ? AVDISCARD_DEFAULT : AVDISCARD_ALL;
  }
  video_ = stream;
  video_codec_ = codec;
  origin_ = Timing().origin;
  return MediaStatus::kOk;
}

VideoTiming Demuxer::Timing() const {
  VideoTiming timing;
  AVRational rate = video_->avg_frame_rate;
  if (rate.num <= 0 || rate.den <= 0) rate = video_->r_frame_rate;
  if (rate.num > 0 && rate.den > 0) timing.frame_duration = ToRefTime(1, rate.den, rate.num);
  const AVRational base = video_->time_base;
  if (format_->duration > 0) {
    timing.duration = ToRefTime(format_->duration, 1, AV_TIME_BASE);
  } else if (video_->duration > 0) {
    timing.duration = ToRefTime(video_->duration, base.num, base.den);
  }
  if (format_->start_time != AV_NOPTS_VALUE) {
    timing.origin = ToRefTime(format_->start_time, 1, AV_TIME_BASE);
  } else if (video_->start_time != AV_NOPTS_VALUE) {
    timing.origin = ToRefTime(video_->start_time, base.num, base.den);
  }
  // Matroska's duration is the time of its end: timestamps that start late do not lengthen
  // the clip. (Should a file mean its length, the recording finds the frames beyond.)
  if (format_->iformat != nullptr &&
      std::string_view(format_->iformat->name).starts_with("matroska") && timing.origin > 0 &&
      timing.duration > timing.origin) {
    timing.duration -= timing.origin;
  }
  // The picture ends where its own stream says, however long a sound track goes on
  // (Matroska says it in a tag; the stream's figure is then the file's).
  RefTime own = video_->duration > 0 && video_->duration != AV_NOPTS_VALUE
                    ? ToRefTime(video_->duration, base.num, base.den)
                    : 0;
  if (const AVDictionaryEntry* tag = av_dict_get(video_->metadata, "DURATION", nullptr, 0)) {
    int hours = 0;
    int minutes = 0;
    double seconds = 0;
    if (std::sscanf(tag->value, "%d:%d:%lf", &hours, &minutes, &seconds) == 3) {
      own = static_cast<RefTime>((3600.0 * hours + 60.0 * minutes + seconds) * 10'000'000.0);
    }
  }
  if (own > 0) {
    RefTime end = own;
    if (video_->start_time != AV_NOPTS_VALUE) {
      end +=
          std::max<RefTime>(ToRefTime(video_->start_time, base.num, base.den) - timing.origin, 0);
    }
    if (timing.duration <= 0 || end < timing.duration) timing.duration = end;
  }
  return timing;
}

MediaStatus Demuxer::MeasureLength(VideoTiming& timing) {
  if (timing.duration > 0) return MediaStatus::kOk;
  const PacketPtr packet = MakePacket();
  if (packet == nullptr) return MediaStatus::kOk;
  int64_t count = 0;
  for (int tries = 0; tries < 1'000'000; ++tries) {
    const Read read = ReadPacket(*packet);
    if (read == Read::kEnd) break;
    if (read == Read::kVideo) ++count;
    av_packet_unref(packet.get());
  }
  Seek(0);
  const std::string_view name = format_->iformat->name;
  if (count <= 1 && (name == "image2" || name.ends_with("_pipe"))) {
    failure_ = "it holds a single picture, not a video";
    return MediaStatus::kUnsupported;
  }
  if (timing.frame_duration > 0) timing.duration = count * timing.frame_duration;
  return MediaStatus::kOk;
}

bool Demuxer::ChooseSound() {
  if (sound_ == nullptr) {
    const int index = av_find_best_stream(format_.get(), AVMEDIA_TYPE_AUDIO, -1, -1, nullptr, 0);
    if (index < 0) return false;
    sound_ = format_->streams[index];
  }
  format_->streams[sound_->index]->discard = AVDISCARD_DEFAULT;
  return true;
}

Demuxer::Read Demuxer::ReadPacket(AVPacket& packet) {
  const int result = av_read_frame(format_.get(), &packet);
  if (result == AVERROR(EAGAIN)) {
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    return Read::kRetry;
  }
  if (result < 0) {
    const bool at_end = result == AVERROR_EOF || format_->pb == nullptr || avio_feof(format_->pb) ||
                        ++read_errors_ > kMaxReadErrors;
    return at_end ? Read::kEnd : Read::kRetry;
  }
  read_errors_ = 0;
  if (packet.stream_index == video_->index) {
    if (packet.pos < 0) {
      beyond_.clear();  // no place known: what came before it lies before it
    } else {
      chosen_end_ = std::max(chosen_end_, packet.pos);
      while (!beyond_.empty() && beyond_.front().pos >= 0 && beyond_.front().pos <= chosen_end_) {
        beyond_.pop_front();
      }
    }
    return Read::kVideo;
  }
  if (sound_ != nullptr && packet.stream_index == sound_->index) return Read::kSound;
  if (IsMovingVideo(*format_->streams[packet.stream_index])) {
    if (beyond_index_ != packet.stream_index) {
      beyond_index_ = packet.stream_index;
      beyond_.clear();
    }
    constexpr size_t kMostPlaced = 1 << 20;
    if ((packet.pos < 0 || packet.pos > chosen_end_) && beyond_.size() < kMostPlaced) {
      beyond_.push_back({packet.pos, packet.pts});
    }
  }
  return Read::kOther;
}

std::string Demuxer::VideoBeyondEnd() const {
  if (beyond_.size() < 2 || beyond_index_ < 0) return std::string();
  const AVStream* stream = format_->streams[beyond_index_];
  int64_t first = INT64_MAX;
  int64_t last = INT64_MIN;
  for (const Placed& placed : beyond_) {
    if (placed.pts == AV_NOPTS_VALUE) continue;
    first = std::min(first, placed.pts);
    last = std::max(last, placed.pts);
  }
  double seconds = 0.0;
  if (last > first) {
    seconds = static_cast<double>(last - first) * av_q2d(stream->time_base);
    const AVRational rate = stream->avg_frame_rate;
    if (rate.num > 0 && rate.den > 0) seconds += av_q2d(av_inv_q(rate));
  }
  // Two streams that end a moment apart are no stream that goes on.
  if (seconds < 1.0 && beyond_.size() < 50) return std::string();
  char text[160];
  std::snprintf(text, sizeof text, "%s, %.2f s", avcodec_get_name(stream->codecpar->codec_id),
                seconds);
  return text;
}

// The seek falls back from the video stream's own index to the file's, and for the start
// of a file without any index to its first byte. The start of an MPEG transport or
// program stream is always its first byte: their timestamp search takes any packet for a
// key frame, so it would start decoding inside the first group of pictures (with B-frames,
// often after its key frame), and the decoder would drop that whole group.
void Demuxer::Seek(RefTime target) {
  read_errors_ = 0;
  beyond_.clear();
  chosen_end_ = -1;
  const std::string_view name = format_->iformat->name;
  const bool packet_stream = name == "mpegts" || name == "mpeg";
  if (target <= 0 && packet_stream && av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE) >= 0) {
    return;
  }
  const AVRational base = video_->time_base;
  const int64_t stamp = FromRefTime(target + origin_, base.num, base.den);
  int result = av_seek_frame(format_.get(), video_->index, stamp, AVSEEK_FLAG_BACKWARD);
  if (result < 0) {
    const int64_t micro = FromRefTime(target + origin_, 1, AV_TIME_BASE);
    result = avformat_seek_file(format_.get(), -1, INT64_MIN, micro, INT64_MAX, 0);
  }
  if (result < 0 && target == 0) av_seek_frame(format_.get(), -1, 0, AVSEEK_FLAG_BYTE);
}

}  // namespace zqr::platform::ffmpeg
