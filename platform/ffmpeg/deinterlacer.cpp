// The deinterlacing kernel over one plane, and the frame stage around it.
#include "platform/ffmpeg/deinterlacer.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/frame.h>
#include <libavutil/pixdesc.h>
}

#include <algorithm>
#include <cstdlib>

namespace zqr::platform::ffmpeg {
namespace {

// The filters in units of 1 / 8192: across the kept field (spatial, and low frequencies
// when the missing field's own lines are used), and the high frequencies of the missing
// field over time.
constexpr int kSpatial[2] = {5077, 981};
constexpr int kLowFrequency[2] = {4309, 213};
constexpr int kHighFrequency[3] = {5570, 3801, 1016};

// Line `y`, stepped back into the picture by whole fields so it stays in the same field.
int FieldLine(int y, int height) {
  while (y < 0) y += 2;
  while (y >= height) y -= 2;
  return std::clamp(y, 0, height - 1);
}

}  // namespace

void DeinterlacePlane(uint8_t* out, int out_stride, const uint8_t* prev, int prev_stride,
                      const uint8_t* cur, int cur_stride, int width, int height,
                      int missing_parity) {
  for (int y = 0; y < height; ++y) {
    uint8_t* dst = out + static_cast<ptrdiff_t>(y) * out_stride;
    auto line = [&](const uint8_t* plane, int stride, int offset) {
      return plane + static_cast<ptrdiff_t>(FieldLine(y + offset, height)) * stride;
    };
    if ((y & 1) != missing_parity || height < 2) {
      std::copy_n(line(cur, cur_stride, 0), width, dst);
      continue;
    }
    // The kept field's lines around this one: one and three lines away.
    const uint8_t* above = line(cur, cur_stride, -1);
    const uint8_t* below = line(cur, cur_stride, 1);
    const uint8_t* above3 = line(cur, cur_stride, -3);
    const uint8_t* below3 = line(cur, cur_stride, 3);
    if (prev == nullptr) {
      for (int x = 0; x < width; ++x) {
        const int value =
            (kSpatial[0] * (above[x] + below[x]) - kSpatial[1] * (above3[x] + below3[x])) >> 13;
        dst[x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
      }
      continue;
    }
    // The missing field over time: this line, two and four lines away, in the frame
    // before (half a frame earlier) and in this one (half a frame later).
    const uint8_t* then0 = line(prev, prev_stride, 0);
    const uint8_t* now0 = line(cur, cur_stride, 0);
    const uint8_t* then_above2 = line(prev, prev_stride, -2);
    const uint8_t* now_above2 = line(cur, cur_stride, -2);
    const uint8_t* then_below2 = line(prev, prev_stride, 2);
    const uint8_t* now_below2 = line(cur, cur_stride, 2);
    const uint8_t* then_above4 = line(prev, prev_stride, -4);
    const uint8_t* now_above4 = line(cur, cur_stride, -4);
    const uint8_t* then_below4 = line(prev, prev_stride, 4);
    const uint8_t* now_below4 = line(cur, cur_stride, 4);
    // The kept field in the frame before, for how much it moved since.
    const uint8_t* then_above = line(prev, prev_stride, -1);
    const uint8_t* then_below = line(prev, prev_stride, 1);
    for (int x = 0; x < width; ++x) {
      const int c = above[x];
      const int e = below[x];
      const int d = (then0[x] + now0[x]) >> 1;
      const int missing_change = std::abs(then0[x] - now0[x]);
      const int kept_change = (std::abs(then_above[x] - c) + std::abs(then_below[x] - e)) >> 1;
      int diff = std::max(missing_change >> 1, kept_change);
      if (diff == 0) {
        dst[x] = static_cast<uint8_t>(d);
        continue;
      }
      const int b = ((then_above2[x] + now_above2[x]) >> 1) - c;
      const int f = ((then_below2[x] + now_below2[x]) >> 1) - e;
      const int dc = d - c;
      const int de = d - e;
      const int high = std::max({de, dc, std::min(b, f)});
      const int low = std::min({de, dc, std::max(b, f)});
      diff = std::max({diff, low, -high});
      int value;
      if (std::abs(c - e) > missing_change) {
        value = (((kHighFrequency[0] * (then0[x] + now0[x]) -
                   kHighFrequency[1] *
                       (then_above2[x] + now_above2[x] + then_below2[x] + now_below2[x]) +
                   kHighFrequency[2] *
                       (then_above4[x] + now_above4[x] + then_below4[x] + now_below4[x])) >>
                  2) +
                 kLowFrequency[0] * (c + e) - kLowFrequency[1] * (above3[x] + below3[x])) >>
                13;
      } else {
        value = (kSpatial[0] * (c + e) - kSpatial[1] * (above3[x] + below3[x])) >> 13;
      }
      value = std::clamp(value, d - diff, d + diff);
      dst[x] = static_cast<uint8_t>(std::clamp(value, 0, 255));
    }
  }
}

void Deinterlacer::Setup(const AVStream& stream, AVPixelFormat format, bool wanted) {
  previous_.reset();
  const AVFieldOrder order = stream.codecpar->field_order;
  const bool interlaced =
      order == AV_FIELD_TT || order == AV_FIELD_BB || order == AV_FIELD_TB || order == AV_FIELD_BT;
  const AVPixFmtDescriptor* descriptor = av_pix_fmt_desc_get(format);
  const bool planar_8bit =
      descriptor != nullptr && (descriptor->flags & AV_PIX_FMT_FLAG_PLANAR) != 0 &&
      (descriptor->flags &
       (AV_PIX_FMT_FLAG_HWACCEL | AV_PIX_FMT_FLAG_BITSTREAM | AV_PIX_FMT_FLAG_PAL)) == 0 &&
      descriptor->comp[0].depth == 8 && descriptor->comp[0].step == 1;
  active_ = wanted && interlaced && planar_8bit;
}

bool Deinterlacer::Apply(AVFrame& frame) {
  if (!active_) return true;
  const bool same_shape = previous_ != nullptr && previous_->width == frame.width &&
                          previous_->height == frame.height && previous_->format == frame.format;
  const AVFrame* prev = same_shape ? previous_.get() : nullptr;
  FramePtr whole;
  if (frame.interlaced_frame != 0) {
    whole = MakeFrame();
    if (whole == nullptr) return false;
    whole->format = frame.format;
    whole->width = frame.width;
    whole->height = frame.height;
    if (av_frame_get_buffer(whole.get(), 0) < 0 || av_frame_copy_props(whole.get(), &frame) < 0) {
      return false;
    }
    const auto* descriptor = av_pix_fmt_desc_get(static_cast<AVPixelFormat>(frame.format));
    // The first field is kept: the top one of a frame whose top field comes first.
    const int missing_parity = frame.top_field_first != 0 ? 1 : 0;
    for (int plane = 0; plane < 4 && frame.data[plane] != nullptr; ++plane) {
      const bool chroma = plane == 1 || plane == 2;
      const int width =
          chroma ? AV_CEIL_RSHIFT(frame.width, descriptor->log2_chroma_w) : frame.width;
      const int height =
          chroma ? AV_CEIL_RSHIFT(frame.height, descriptor->log2_chroma_h) : frame.height;
      DeinterlacePlane(whole->data[plane], whole->linesize[plane],
                       prev != nullptr ? prev->data[plane] : nullptr,
                       prev != nullptr ? prev->linesize[plane] : 0, frame.data[plane],
                       frame.linesize[plane], width, height, missing_parity);
    }
    whole->interlaced_frame = 0;
  }
  // The frame before is kept as it was decoded.
  if (previous_ == nullptr) previous_ = MakeFrame();
  if (previous_ != nullptr) {
    av_frame_unref(previous_.get());
    if (av_frame_ref(previous_.get(), &frame) < 0) previous_.reset();
  }
  if (whole != nullptr) {
    av_frame_unref(&frame);
    av_frame_move_ref(&frame, whole.get());
  }
  return true;
}

void Deinterlacer::Flush() {
  previous_.reset();
}

}  // namespace zqr::platform::ffmpeg
