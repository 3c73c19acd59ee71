// Scaling: converts decoded frames with libswscale straight into the grabber's buffers,
// as bottom-up BGRX at the size the graph connected with. A video that asks to be shown
// turned (a phone held upright records its picture sideways and says so) is turned as
// ffmpeg's own autorotation turns it, so every consumer sees it upright. Each frame is
// read with the colour matrix and range it is tagged with (BT.709 for most HD video), as
// ffmpeg's own scale filter reads it; an untagged frame gets swscale's default, BT.601 in
// the studio range (full range for the JPEG pixel formats). Frames are read with full
// chroma interpolation and exact rounding: swscale's fast path is up to three levels off
// in the studio range.
#pragma once

extern "C" {
#include <libavutil/pixfmt.h>
}

#include <cstdint>
#include <string>
#include <vector>

#include "platform/ffmpeg/libav_handles.h"

struct AVStream;

namespace zqr::platform::ffmpeg {

// Clockwise quarter turns (0..3) the stream's display matrix asks for, rounded as
// ffmpeg's autorotation rounds them; 0 without one.
int QuarterTurns(const AVStream& stream);

// The shape of one pixel of the picture as shown (turned by `quarter_turns`), reduced;
// 1:1 when the stream gives none or a nonsense one.
struct PixelAspect {
  int32_t x = 1;
  int32_t y = 1;
};
PixelAspect ShownPixelAspect(const AVStream& stream, int quarter_turns);

// The primaries and transfer of the RGB the scaler makes, by the encoder tool's names. A
// stream tagged with them is in them; one tagged with a matrix only is in that standard's;
// an untagged one in the standard its size was made for: BT.601's below 720 lines (625
// lines: "bt470bg", else "smpte170m"), BT.709's above.
struct DecodedColours {
  std::string primaries;
  std::string transfer;
};
DecodedColours DecodedColoursOf(const AVStream& stream);

class UprightScaler {
 public:
  // Prepares for frames of `width` x `height` in `format` with the stream's colour tags,
  // shown turned by `quarter_turns`. False when swscale cannot read the format or the
  // frame is too large for a 32-bit sample size.
  bool Setup(int width, int height, AVPixelFormat format, AVColorSpace space, AVColorRange range,
             int quarter_turns);
  // The picture as shown, turned.
  int32_t Width() const { return width_; }
  int32_t Height() const { return height_; }
  int32_t SampleSize() const { return sample_size_; }

  // Writes the frame into `target` (SampleSize() bytes). A frame of another size, format
  // or colour tag than the stream's first (a stream may change midway, or claim to when
  // damaged) is scaled to the connected size, which the consumers were built for.
  bool Convert(const AVFrame& frame, uint8_t* target);

 private:
  bool MakeContext(int width, int height, AVPixelFormat format, AVColorSpace space,
                   AVColorRange range);
  void TurnInto(uint8_t* target) const;

  int quarter_turns_ = 0;
  int32_t decoded_width_ = 0;
  int32_t decoded_height_ = 0;
  int32_t width_ = 0;
  int32_t height_ = 0;
  int32_t sample_size_ = 0;         // once set up
  std::vector<uint32_t> unturned_;  // the scaled picture before it is turned, top row first
  SwsContextPtr context_;
  int source_width_ = 0;
  int source_height_ = 0;
  AVPixelFormat source_format_ = AV_PIX_FMT_NONE;
  AVColorSpace source_space_ = AVCOL_SPC_UNSPECIFIED;
  AVColorRange source_range_ = AVCOL_RANGE_UNSPECIFIED;
};

}  // namespace zqr::platform::ffmpeg
