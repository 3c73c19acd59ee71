// libswscale behind the backend's scaler, and the quarter turns it does itself.
#include "platform/ffmpeg/upright_scaler.h"

extern "C" {
#include <libavformat/avformat.h>
#include <libavutil/display.h>
#include <libavutil/opt.h>
#include <libavutil/pixdesc.h>
#include <libavutil/rational.h>
#include <libswscale/swscale.h>
}

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <string_view>
#include <utility>

namespace zqr::platform::ffmpeg {
namespace {
// Largest frame the graph converts (a 32-bit sample size must hold it).
constexpr int64_t kMaxSampleBytes = int64_t{1} << 30;

// Whether a colour tag names something: neither unspecified nor reserved.
bool Named(int value, int unspecified, const char* name) {
  return value != unspecified && value != 0 && name != nullptr &&
         std::string_view(name) != "reserved";
}
}  // namespace

int QuarterTurns(const AVStream& stream) {
  const uint8_t* matrix = av_stream_get_side_data(&stream, AV_PKT_DATA_DISPLAYMATRIX, nullptr);
  if (matrix == nullptr) return 0;
  const double counter_clockwise =
      av_display_rotation_get(reinterpret_cast<const int32_t*>(matrix));
  if (std::isnan(counter_clockwise)) return 0;
  double clockwise = -std::round(counter_clockwise);
  clockwise -= 360 * std::floor(clockwise / 360 + 0.9 / 360);
  const long turns = std::lround(clockwise / 90);
  // Only whole quarter turns are applied, as ffmpeg applies them.
  if (std::fabs(clockwise - 90.0 * static_cast<double>(turns)) >= 1.0) return 0;
  return static_cast<int>(turns % 4);
}

PixelAspect ShownPixelAspect(const AVStream& stream, int quarter_turns) {
  AVRational aspect = stream.sample_aspect_ratio;
  if (aspect.num <= 0 || aspect.den <= 0) aspect = stream.codecpar->sample_aspect_ratio;
  int x = 1;
  int y = 1;
  // A pixel more than ten times wider than high (or higher than wide) is a damaged header.
  const bool sensible = aspect.num > 0 && aspect.den > 0 &&
                        av_reduce(&x, &y, aspect.num, aspect.den, 1 << 16) != 0 && x <= 10 * y &&
                        y <= 10 * x;
  if (!sensible) x = y = 1;
  if (quarter_turns % 2 == 1) std::swap(x, y);
  return PixelAspect{x, y};
}

DecodedColours DecodedColoursOf(const AVStream& stream) {
  const AVCodecParameters& parameters = *stream.codecpar;
  DecodedColours colours;
  const char* primaries = av_color_primaries_name(parameters.color_primaries);
  if (Named(parameters.color_primaries, AVCOL_PRI_UNSPECIFIED, primaries)) {
    colours.primaries = primaries;
  } else if (parameters.color_space == AVCOL_SPC_BT709) {
    colours.primaries = "bt709";
  } else if (parameters.color_space == AVCOL_SPC_SMPTE170M) {
    colours.primaries = "smpte170m";
  } else if (parameters.color_space == AVCOL_SPC_BT470BG) {
    colours.primaries = "bt470bg";
  } else if (parameters.color_space == AVCOL_SPC_BT2020_NCL ||
             parameters.color_space == AVCOL_SPC_BT2020_CL) {
    colours.primaries = "bt2020";
  } else if (parameters.height > 0 && parameters.height < 720) {
    colours.primaries = parameters.height == 576 ? "bt470bg" : "smpte170m";
  } else {
    colours.primaries = "bt709";
  }
  const char* transfer = av_color_transfer_name(parameters.color_trc);
  if (Named(parameters.color_trc, AVCOL_TRC_UNSPECIFIED, transfer)) {
    colours.transfer = transfer;
  } else if (colours.primaries == "smpte170m" || colours.primaries == "bt470bg") {
    colours.transfer = "smpte170m";
  } else {
    colours.transfer = "bt709";
  }
  return colours;
}

bool UprightScaler::Setup(int width, int height, AVPixelFormat format, AVColorSpace space,
                          AVColorRange range, int quarter_turns) {
  quarter_turns_ = quarter_turns;
  decoded_width_ = width;
  decoded_height_ = height;
  const bool sideways = quarter_turns % 2 == 1;
  width_ = sideways ? height : width;
  height_ = sideways ? width : height;
  const int64_t bytes = int64_t{width_} * height_ * 4;
  if (width_ <= 0 || height_ <= 0 || bytes > kMaxSampleBytes || format == AV_PIX_FMT_NONE ||
      sws_isSupportedInput(format) <= 0) {
    return false;
  }
  if (quarter_turns_ != 0) unturned_.resize(static_cast<size_t>(bytes / 4));
  if (!MakeContext(width, height, format, space, range)) return false;
  sample_size_ = static_cast<int32_t>(bytes);
  return true;
}

// A converter from the decoder's frames to the connected size in BGRA, working on slices
// in parallel (one thread per core), as ffmpeg's own scale filter does. A tagged matrix or
// range replaces swscale's default as the scale filter replaces it; RGB frames have none.
bool UprightScaler::MakeContext(int width, int height, AVPixelFormat format, AVColorSpace space,
                                AVColorRange range) {
  context_.reset();
  source_width_ = 0;
  SwsContextPtr context(sws_alloc_context());
  if (context == nullptr) return false;
  av_opt_set_int(context.get(), "srcw", width, 0);
  av_opt_set_int(context.get(), "srch", height, 0);
  av_opt_set_int(context.get(), "src_format", format, 0);
  av_opt_set_int(context.get(), "dstw", decoded_width_, 0);
  av_opt_set_int(context.get(), "dsth", decoded_height_, 0);
  av_opt_set_int(context.get(), "dst_format", AV_PIX_FMT_BGRA, 0);
  av_opt_set_int(context.get(), "sws_flags", SWS_BICUBIC | SWS_ACCURATE_RND | SWS_FULL_CHR_H_INT,
                 0);
  av_opt_set_int(context.get(), "threads", 0, 0);
  if (sws_init_context(context.get(), nullptr, nullptr) < 0) return false;
  int* source_table = nullptr;
  int* target_table = nullptr;
  int source_full = 0, target_full = 0, brightness = 0, contrast = 0, saturation = 0;
  if ((space != AVCOL_SPC_UNSPECIFIED || range != AVCOL_RANGE_UNSPECIFIED) &&
      sws_getColorspaceDetails(context.get(), &source_table, &source_full, &target_table,
                               &target_full, &brightness, &contrast, &saturation) >= 0) {
    const int* source_coefficients = source_table;
    if (space != AVCOL_SPC_UNSPECIFIED && space != AVCOL_SPC_RGB) {
      source_coefficients = sws_getCoefficients(space);
    }
    if (range != AVCOL_RANGE_UNSPECIFIED) source_full = range == AVCOL_RANGE_JPEG ? 1 : 0;
    sws_setColorspaceDetails(context.get(), source_coefficients, source_full, target_table,
                             target_full, brightness, contrast, saturation);
  }
  context_ = std::move(context);
  source_width_ = width;
  source_height_ = height;
  source_format_ = format;
  source_space_ = space;
  source_range_ = range;
  return true;
}

bool UprightScaler::Convert(const AVFrame& frame, uint8_t* target) {
  if (frame.width <= 0 || frame.height <= 0) return false;
  const auto format = static_cast<AVPixelFormat>(frame.format);
  if (frame.width != source_width_ || frame.height != source_height_ || format != source_format_ ||
      frame.colorspace != source_space_ || frame.color_range != source_range_) {
    if (!MakeContext(frame.width, frame.height, format, frame.colorspace, frame.color_range)) {
      return false;
    }
  }
  if (quarter_turns_ != 0) {
    uint8_t* planes[4] = {reinterpret_cast<uint8_t*>(unturned_.data()), nullptr, nullptr, nullptr};
    int strides[4] = {decoded_width_ * 4, 0, 0, 0};
    if (sws_scale(context_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) <=
        0) {
      return false;
    }
    TurnInto(target);
    return true;
  }
  const int stride = width_ * 4;
  // Bottom row first: start at the last row and step backwards.
  uint8_t* planes[4] = {target + static_cast<ptrdiff_t>(height_ - 1) * stride, nullptr, nullptr,
                        nullptr};
  int strides[4] = {-stride, 0, 0, 0};
  return sws_scale(context_.get(), frame.data, frame.linesize, 0, frame.height, planes, strides) >
         0;
}

// The scaled picture (top row first) turned by the quarter turns into the bottom-up target,
// in tiles, so that the column walks of a quarter turn stay within the cache.
void UprightScaler::TurnInto(uint8_t* target) const {
  const int32_t in_w = decoded_width_;
  const int32_t in_h = decoded_height_;
  const int32_t out_w = width_;
  const int32_t out_h = height_;
  auto* out = reinterpret_cast<uint32_t*>(target);
  const uint32_t* in = unturned_.data();
  constexpr int32_t kTile = 32;
  for (int32_t ty = 0; ty < out_h; ty += kTile) {
    for (int32_t tx = 0; tx < out_w; tx += kTile) {
      for (int32_t y = ty; y < std::min(ty + kTile, out_h); ++y) {
        // Row y from the top is row out_h - 1 - y in memory.
        uint32_t* row = out + static_cast<ptrdiff_t>(out_h - 1 - y) * out_w;
        for (int32_t x = tx; x < std::min(tx + kTile, out_w); ++x) {
          int32_t sx = x;
          int32_t sy = y;
          if (quarter_turns_ == 1) {  // clockwise: the left column becomes the top row
            sx = y;
            sy = in_h - 1 - x;
          } else if (quarter_turns_ == 2) {
            sx = in_w - 1 - x;
            sy = in_h - 1 - y;
          } else {  // three turns: counter-clockwise
            sx = in_w - 1 - y;
            sy = x;
          }
          row[x] = in[static_cast<ptrdiff_t>(sy) * in_w + sx];
        }
      }
    }
  }
}

}  // namespace zqr::platform::ffmpeg
