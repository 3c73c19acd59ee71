// Depth planes from and to media files with FFmpeg's libraries: the reader decodes the file's
// video stream and takes each frame's luma at the picture's size, its range stretched to
// full; the writer encodes planes as a grey movie (lossless FFV1 in Matroska).
#include "platform/ffmpeg/ffmpeg_graph.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/imgutils.h>
#include <libavutil/pixdesc.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "platform/ffmpeg/demuxer.h"
#include "platform/ffmpeg/libav_handles.h"
#include "platform/ffmpeg/video_decoder.h"

namespace zqr::platform {

namespace {

using ffmpeg::CodecContextPtr;
using ffmpeg::FormatContextPtr;
using ffmpeg::FramePtr;
using ffmpeg::PacketPtr;
using ffmpeg::SwsContextPtr;

std::string ErrorText(int error) {
  std::array<char, AV_ERROR_MAX_STRING_SIZE> text{};
  av_strerror(error, text.data(), text.size());
  return text.data();
}

// Whether a format's samples are luma (and chroma) rather than RGB or a palette.
bool HasLuma(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  return d != nullptr && (d->flags & (AV_PIX_FMT_FLAG_RGB | AV_PIX_FMT_FLAG_PAL)) == 0 &&
         d->nb_components >= 1;
}

// Whether a luma format's untagged samples are full range: grey and the JPEG formats.
bool UntaggedFullRange(AVPixelFormat format) {
  const AVPixFmtDescriptor* d = av_pix_fmt_desc_get(format);
  if (d == nullptr) return false;
  if (d->nb_components <= 2) return true;  // grey, grey with alpha
  return format == AV_PIX_FMT_YUVJ420P || format == AV_PIX_FMT_YUVJ422P ||
         format == AV_PIX_FMT_YUVJ444P || format == AV_PIX_FMT_YUVJ440P ||
         format == AV_PIX_FMT_YUVJ411P;
}

class FfmpegGreyReader final : public GreyVideoReader {
 public:
  FfmpegGreyReader(int32_t width, int32_t height) : width_(width), height_(height) {}

  bool Open(const std::string& path, std::string& failure) {
    if (demuxer_.Open(path) != MediaStatus::kOk || demuxer_.ChooseVideo() != MediaStatus::kOk) {
      failure = demuxer_.Failure().empty() ? "it is not a video or a picture" : demuxer_.Failure();
      return false;
    }
    const ffmpeg::VideoTiming timing = demuxer_.Timing();
    if (decoder_.Open(*demuxer_.Video(), *demuxer_.VideoCodec(), timing.origin,
                      timing.frame_duration) != MediaStatus::kOk) {
      failure = "its video cannot be decoded";
      return false;
    }
    frame_ = ffmpeg::MakeFrame();
    packet_ = ffmpeg::MakePacket();
    if (!frame_ || !packet_) {
      failure = "not enough memory";
      return false;
    }
    if (!Decode()) {
      failure = "no frame of it can be decoded";
      return false;
    }
    have_first_ = true;
    // A picture file (PNG, JPEG, ...) holds one frame.
    const AVStream& stream = *demuxer_.Video();
    still_ = IsPictureCodec(stream.codecpar->codec_id) && stream.nb_frames <= 1;
    return true;
  }

  bool Next(uint8_t* plane, std::ptrdiff_t stride, double& seconds) override {
    if (have_first_) {
      have_first_ = false;
    } else if (!Decode()) {
      return false;
    }
    const RefTime time = decoder_.FrameTime(*frame_);
    if (first_time_ < 0) first_time_ = time;
    seconds = static_cast<double>(time - first_time_) / static_cast<double>(kUnitsPerSecond);
    return Convert(plane, stride);
  }

  bool IsStill() const override { return still_; }

 private:
  static bool IsPictureCodec(AVCodecID id) {
    const AVCodecDescriptor* d = avcodec_descriptor_get(id);
    return d != nullptr && (d->props & AV_CODEC_PROP_INTRA_ONLY) != 0 &&
           (id == AV_CODEC_ID_PNG || id == AV_CODEC_ID_MJPEG || id == AV_CODEC_ID_BMP ||
            id == AV_CODEC_ID_TIFF || id == AV_CODEC_ID_WEBP || id == AV_CODEC_ID_PGM ||
            id == AV_CODEC_ID_PPM || id == AV_CODEC_ID_PAM || id == AV_CODEC_ID_TARGA);
  }

  // The next decoded frame into frame_; false at the end.
  bool Decode() {
    for (;;) {
      av_frame_unref(frame_.get());
      switch (decoder_.Receive(*frame_)) {
        case ffmpeg::VideoDecoder::Received::kFrame:
          return true;
        case ffmpeg::VideoDecoder::Received::kEnd:
          return false;
        case ffmpeg::VideoDecoder::Received::kNeedsPacket:
          break;
      }
      if (ended_) return false;
      for (;;) {
        const ffmpeg::Demuxer::Read read = demuxer_.ReadPacket(*packet_);
        if (read == ffmpeg::Demuxer::Read::kVideo) {
          decoder_.Send(*packet_);
          av_packet_unref(packet_.get());
          break;
        }
        av_packet_unref(packet_.get());
        if (read == ffmpeg::Demuxer::Read::kEnd) {
          decoder_.Drain();
          ended_ = true;
          break;
        }
      }
    }
  }

  bool Convert(uint8_t* plane, std::ptrdiff_t stride) {
    const auto format = static_cast<AVPixelFormat>(frame_->format);
    const bool luma = HasLuma(format);
    const AVColorRange range = frame_->color_range;
    const bool limited = luma && (range == AVCOL_RANGE_MPEG ||
                                  (range == AVCOL_RANGE_UNSPECIFIED && !UntaggedFullRange(format)));
    // 8-bit luma in a plane of its own at the plane's size (a grey or YUV depth video made
    // from the clip itself) is the plane already: copied row by row, bottom row first.
    const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
    if (luma && descriptor->comp[0].depth == 8 && descriptor->comp[0].step == 1 &&
        descriptor->comp[0].shift == 0 && frame_->width == width_ && frame_->height == height_) {
      const int luma_plane = descriptor->comp[0].plane;
      for (int32_t y = 0; y < height_; ++y) {
        std::memcpy(plane + (height_ - 1 - y) * stride,
                    frame_->data[luma_plane] + y * frame_->linesize[luma_plane],
                    static_cast<size_t>(width_));
      }
      if (limited) StretchLimitedRange(plane, stride);
      return true;
    }
    if (!scaler_ || frame_->width != source_width_ || frame_->height != source_height_ ||
        format != source_format_) {
      scaler_.reset(sws_getContext(frame_->width, frame_->height, format, width_, height_,
                                   AV_PIX_FMT_GRAY8, SWS_BILINEAR, nullptr, nullptr, nullptr));
      if (!scaler_) return false;
      // Luma is taken as it is stored (the range stretched below, exactly); an RGB picture
      // becomes full-range luma.
      const int* coefficients = sws_getCoefficients(SWS_CS_DEFAULT);
      sws_setColorspaceDetails(scaler_.get(), coefficients, 1, coefficients, 1, 0, 1 << 16,
                               1 << 16);
      source_width_ = frame_->width;
      source_height_ = frame_->height;
      source_format_ = format;
    }
    // Top row first into the plane's last row: the plane is stored bottom row first.
    uint8_t* top = plane + (height_ - 1) * stride;
    uint8_t* targets[4] = {top, nullptr, nullptr, nullptr};
    const int strides[4] = {static_cast<int>(-stride), 0, 0, 0};
    if (sws_scale(scaler_.get(), frame_->data, frame_->linesize, 0, frame_->height, targets,
                  strides) != height_) {
      return false;
    }
    if (limited) StretchLimitedRange(plane, stride);
    return true;
  }

  // 16 -> 0, 235 -> 255, rounded.
  void StretchLimitedRange(uint8_t* plane, std::ptrdiff_t stride) const {
    std::array<uint8_t, 256> stretch{};
    for (int v = 0; v < 256; ++v) {
      const int scaled = (v - 16) * 510 + 219;
      stretch[static_cast<size_t>(v)] =
          static_cast<uint8_t>(scaled < 0 ? 0 : std::min(255, scaled / 438));
    }
    for (int32_t y = 0; y < height_; ++y) {
      uint8_t* row = plane + y * stride;
      for (int32_t x = 0; x < width_; ++x) row[x] = stretch[row[x]];
    }
  }

  int32_t width_;
  int32_t height_;
  ffmpeg::Demuxer demuxer_;
  ffmpeg::VideoDecoder decoder_;
  FramePtr frame_;
  PacketPtr packet_;
  SwsContextPtr scaler_;
  int source_width_ = 0;
  int source_height_ = 0;
  AVPixelFormat source_format_ = AV_PIX_FMT_NONE;
  bool have_first_ = false;
  RefTime first_time_ = -1;
  bool ended_ = false;
  bool still_ = false;
};

class FfmpegGreyWriter final : public GreyVideoWriter {
 public:
  bool Create(const std::string& path, int32_t width, int32_t height, double fps) {
    width_ = width;
    height_ = height;
    AVFormatContext* made = nullptr;
    if (avformat_alloc_output_context2(&made, nullptr, nullptr, path.c_str()) < 0 ||
        made == nullptr) {
      failure_ = "its name ends in no movie type known (try .mkv)";
      return false;
    }
    format_.reset(made);
    const bool matroska = std::string_view(made->oformat->name) == "matroska";
    const AVCodec* codec =
        avcodec_find_encoder(matroska ? AV_CODEC_ID_FFV1 : made->oformat->video_codec);
    if (codec == nullptr) {
      failure_ = "no encoder for its movie type";
      return false;
    }
    AVPixelFormat pix = AV_PIX_FMT_YUV420P;
    if (codec->pix_fmts != nullptr) {
      bool grey = false;
      bool yuv = false;
      for (const AVPixelFormat* p = codec->pix_fmts; *p != AV_PIX_FMT_NONE; ++p) {
        grey = grey || *p == AV_PIX_FMT_GRAY8;
        yuv = yuv || *p == AV_PIX_FMT_YUV420P;
      }
      pix = grey ? AV_PIX_FMT_GRAY8 : yuv ? AV_PIX_FMT_YUV420P : codec->pix_fmts[0];
    }
    if (pix != AV_PIX_FMT_GRAY8 && pix != AV_PIX_FMT_YUV420P) {
      failure_ = "its movie type takes no grey pictures";
      return false;
    }
    codec_.reset(avcodec_alloc_context3(codec));
    stream_ = avformat_new_stream(made, nullptr);
    frame_ = ffmpeg::MakeFrame();
    packet_ = ffmpeg::MakePacket();
    if (!codec_ || stream_ == nullptr || !frame_ || !packet_) {
      failure_ = "not enough memory";
      return false;
    }
    const AVRational rate = av_d2q(fps > 0 ? fps : 25.0, 1001000);
    codec_->width = width;
    codec_->height = height;
    codec_->pix_fmt = pix;
    codec_->time_base = av_inv_q(rate);
    codec_->framerate = rate;
    codec_->color_range = AVCOL_RANGE_JPEG;
    codec_->thread_count = 0;
    if ((made->oformat->flags & AVFMT_GLOBALHEADER) != 0) {
      codec_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
    }
    AVDictionary* options = nullptr;
    if (codec->id == AV_CODEC_ID_FFV1) av_dict_set(&options, "slices", "4", 0);
    int result = avcodec_open2(codec_.get(), codec, &options);
    av_dict_free(&options);
    if (result < 0) return Fail("its encoder did not start", result);
    avcodec_parameters_from_context(stream_->codecpar, codec_.get());
    stream_->time_base = codec_->time_base;
    if ((made->oformat->flags & AVFMT_NOFILE) == 0) {
      result = avio_open(&made->pb, path.c_str(), AVIO_FLAG_WRITE);
      if (result < 0) return Fail("it cannot be created", result);
    }
    result = avformat_write_header(made, nullptr);
    if (result < 0) return Fail("its header cannot be written", result);
    frame_->width = width;
    frame_->height = height;
    frame_->format = pix;
    frame_->color_range = AVCOL_RANGE_JPEG;
    if (av_frame_get_buffer(frame_.get(), 0) < 0) {
      failure_ = "not enough memory";
      return false;
    }
    open_ = true;
    return true;
  }

  ~FfmpegGreyWriter() override {
    if (open_) Finish();
  }

  bool Write(const uint8_t* plane, std::ptrdiff_t stride) override {
    if (!open_) return false;
    if (av_frame_make_writable(frame_.get()) < 0) return Fail("not enough memory", 0);
    for (int32_t y = 0; y < height_; ++y) {
      std::memcpy(frame_->data[0] + y * frame_->linesize[0], plane + (height_ - 1 - y) * stride,
                  static_cast<size_t>(width_));
    }
    if (frame_->format == AV_PIX_FMT_YUV420P) {
      for (int c = 1; c <= 2; ++c) {
        for (int32_t y = 0; y < (height_ + 1) / 2; ++y) {
          std::memset(frame_->data[c] + y * frame_->linesize[c], 128,
                      static_cast<size_t>((width_ + 1) / 2));
        }
      }
    }
    frame_->pts = next_pts_++;
    return Send(frame_.get());
  }

  bool Finish() override {
    if (!open_) return failure_.empty();
    open_ = false;
    bool ok = Send(nullptr);
    const int result = av_write_trailer(format_.get());
    if (result < 0) ok = Fail("its end cannot be written", result);
    if ((format_->oformat->flags & AVFMT_NOFILE) == 0 && format_->pb != nullptr) {
      if (avio_closep(&format_->pb) < 0 && ok) ok = Fail("it cannot be closed", 0);
    }
    return ok;
  }

  std::string Failure() const override { return failure_; }

 private:
  bool Fail(const std::string& what, int error) {
    failure_ = error < 0 ? what + " (" + ErrorText(error) + ")" : what;
    return false;
  }

  bool Send(const AVFrame* frame) {
    int result = avcodec_send_frame(codec_.get(), frame);
    if (result < 0) return Fail("a frame cannot be encoded", result);
    for (;;) {
      result = avcodec_receive_packet(codec_.get(), packet_.get());
      if (result == AVERROR(EAGAIN) || result == AVERROR_EOF) return true;
      if (result < 0) return Fail("a frame cannot be encoded", result);
      av_packet_rescale_ts(packet_.get(), codec_->time_base, stream_->time_base);
      packet_->stream_index = stream_->index;
      result = av_interleaved_write_frame(format_.get(), packet_.get());
      if (result < 0) return Fail("it cannot be written", result);
    }
  }

  int32_t width_ = 0;
  int32_t height_ = 0;
  FormatContextPtr format_;
  CodecContextPtr codec_;
  AVStream* stream_ = nullptr;
  FramePtr frame_;
  PacketPtr packet_;
  int64_t next_pts_ = 0;
  bool open_ = false;
  std::string failure_;
};

}  // namespace

std::unique_ptr<GreyVideoReader> OpenFfmpegGreyVideo(const std::string& path, int32_t width,
                                                     int32_t height, std::string& failure) {
  if (width < 1 || height < 1) {
    failure = "the picture has no size";
    return nullptr;
  }
  auto reader = std::make_unique<FfmpegGreyReader>(width, height);
  if (!reader->Open(path, failure)) return nullptr;
  return reader;
}

std::unique_ptr<GreyVideoWriter> CreateFfmpegGreyVideo(const std::string& path, int32_t width,
                                                       int32_t height, double frames_per_second,
                                                       std::string& failure) {
  auto writer = std::make_unique<FfmpegGreyWriter>();
  if (!writer->Create(path, width, height, frames_per_second)) {
    failure = writer->Failure();
    return nullptr;
  }
  return writer;
}

}  // namespace zqr::platform
