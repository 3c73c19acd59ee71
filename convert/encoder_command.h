// The encoder stage of a conversion: the command line for PLUG-IN/ffmpeg_III, composed
// from the output settings as exact text.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "convert/convert_state.h"

namespace zqr {

// Everything the command line depends on.
struct EncoderInputs {
  std::string output_name;
  std::string temp_folder;
  int32_t frame_width = 0;     // frame-file width (FrameW - 16)
  int32_t frame_height = 0;    // frame-file height
  int64_t time_per_frame = 0;  // 100 ns units; 0 gives an input rate of 30
  double duration_seconds = 0.0;
  int32_t resize_mode = 0;         // 0 natural, 1..5 = 90 % .. 50 %
  int32_t audio_channels = 0;      // 0 stereo, 1 mono
  int32_t sample_rate_choice = 0;  // 0 auto, 1 48000, 2 44100, 3 22050, 4 11025
  int32_t bitrate_choice = 0;      // 0..9
  int32_t codec_mode_choice = 0;   // 0..5
  int32_t quality = 0;             // CompressionValue q: 0 default, 1 best .. 21 lower
  std::string tool_path;
  bool sound_usable = false;  // the sound file exists and is not empty
  // The frames come through the tool's standard input as 4:2:0 pictures, cut to even sizes,
  // instead of being read from the folder (the encoder runs while they are recorded).
  bool frames_from_pipe = false;
  // The sound comes through the named pipe the sound relay fills while the extraction is
  // still writing the file (the encoder was started before it ended).
  bool sound_from_pipe = false;
  // The recording's output layout (frames::OutputLayout): side-by-side and top-and-bottom
  // movies say so, so that players show them in 3D by themselves.
  int32_t layout = 0;
  // Full colour resolution (4:4:4) where the codec has it (H.264 in .mp4 .m4v .mov .mkv
  // .avi); the piped frames then come as whole 32-bit pictures, top line first.
  bool chroma444 = false;
  // The movie is tagged with the colours its pictures are made in: BT.601's matrix (the
  // frame kernels' and the tool's conversion from RGB) in the studio range, and the
  // primaries and transfer of the RGB the video was decoded into.
  bool tag_colours = false;
  std::string primaries = "bt709";
  std::string transfer = "bt709";
  // The shape of the frames' pixels as shown: a movie of pixels that are not square says
  // what its picture's aspect is, so that it is shown as the video was.
  int32_t pixel_aspect_x = 1;
  int32_t pixel_aspect_y = 1;

  bool operator==(const EncoderInputs&) const = default;
};

// The output name's extension from its last ".", lower case with the dot; empty when
// the last name part has none.
std::string OutputExtension(std::string_view output_name);

// The container the encoder writes for the output name's extension ("mp4", "ogg", ...);
// empty for an extension it does not write.
std::string OutputContainer(std::string_view output_name);

// Whether the output name's extension takes 4:4:4 colour (an H.264 movie most players of
// its container can show that way).
bool TakesFullColour(std::string_view output_name);

// Output frame size for a resize mode, from the single-precision factor exactly.
struct FrameSize {
  int64_t width = 0;
  int64_t height = 0;
};
FrameSize ResizedFrameSize(int32_t resize_mode, int32_t width, int32_t height);

// The most frames a second a movie is written with: a faster video (a high-speed camera's)
// keeps its length and gives up frames evenly, as no container's clock or player keeps up.
inline constexpr double kMaxMovieRate = 240.0;

// The complete command line; empty for an extension the encoder does not write, or when
// a path in it cannot be quoted (see CheckPathForCommandLine).
std::string EncoderCommandLine(const EncoderInputs& inputs);

// Where the encoder tool's messages go during an export: temp_encoder.txt in the folder.
std::string EncoderMessagesFile(const std::string& temp_folder);

// Whether the sound file can be muxed: it exists and is not empty right now.
bool SoundFileUsable(const std::string& path);

// The inputs of `job` with the settings as they are now: the settings' choices,
// CompressionValue, TempFolder (when the job names no folder), the tool path and the sound
// file's state.
EncoderInputs EncoderInputsFor(const EncoderJob& job);

// The run-log lines of an encoder run: "ConvertRectFFMPEG aVIDEOEXT " and "FFMPEG : ".
void LogEncoderCommand(const EncoderInputs& inputs, const std::string& command);

}  // namespace zqr
