// Composition of the encoder command line from fixed fragments.
// The fragments are exact text: their leading and trailing blanks simply add up where
// two of them meet, and the tool splits the line into arguments.
#include "convert/encoder_command.h"

#include <algorithm>

#include <cmath>
#include <filesystem>
#include <system_error>

#include "convert/convert_state.h"
#include "convert/temp_files.h"
#include "core/numbers.h"
#include "core/run_log.h"
#include "core/settings.h"
#include "core/shell_state.h"
#include "core/tool_runner.h"
#include "frames/yuv420.h"
#include "platform/path.h"
#include "platform/system.h"

namespace zqr {

namespace {

// Single-precision on purpose: 0.9f and 0.7f lie below their decimal values, so 640
// columns become 560 at 90 %, not 576.
constexpr float kResizeFactors[] = {0.9f, 0.8f, 0.7f, 0.6f, 0.5f};

constexpr const char* kBitrateFragments[] = {
    "",           " -b 500k ",  " -b 700k ",  " -b 900k ",  " -b 1200k ",
    " -b 1500k ", " -b 2000k ", " -b 3000k ", " -b 4000k ", " -b 5000k ",
};

constexpr const char* kA1 =
    " -threads 0 -coder 0 -flags +loop -cmp +chroma -partitions "
    "-parti8x8-parti4x4-partp8x8-partp4x4-partb8x8  -subq 0 -me_range 16 ";
constexpr const char* kA2 =
    " -threads 0 -coder 0 -flags +loop -cmp +chroma -partitions "
    "-parti8x8+parti4x4+partp8x8-partp4x4-partb8x8  -subq 3 -me_range 16 ";
constexpr const char* kA3 =
    " -threads 0 -coder 1 -flags +loop -cmp +chroma -partitions "
    "-parti8x8+parti4x4+partp8x8+partp4x4-partb8x8  -subq 5 -me_range 16 ";
constexpr const char* kA4 =
    " -threads 0 -coder 1 -flags +loop -cmp +chroma -partitions "
    "+parti8x8+parti4x4+partp8x8+partp4x4-partb8x8  -subq 8 ";
constexpr const char* kB =
    " -g 250 -keyint_min 25 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 -qcomp 0.6 "
    "-qmin 10 -qmax 51 -qdiff 4 ";
constexpr const char* kB16 =
    " -me_range 16 -g 250 -keyint_min 25 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 "
    "-qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -refs 16 ";
constexpr const char* kB4 =
    " -me_range 16 -g 250 -keyint_min 25 -sc_threshold 40 -i_qfactor 0.71 -b_strategy 1 "
    "-qcomp 0.6 -qmin 10 -qmax 51 -qdiff 4 -refs 4 ";

std::string CodecModeFragment(int32_t choice) {
  switch (choice) {
    case 1:
      return std::string(kA1) + kB;
    case 2:
      return std::string(kA2) + kB;
    case 3:
      return std::string(kA3) + kB;
    case 4:
      return std::string(kA4) + kB16;
    case 5:
      return std::string(kA4) + kB4;
    default:
      return std::string();
  }
}

std::string SizeFragment(int32_t resize_mode, int32_t width, int32_t height) {
  if (resize_mode < 1 || resize_mode > 5) return std::string();
  FrameSize size = ResizedFrameSize(resize_mode, width, height);
  return " -s " + std::to_string(size.width) + "x" + std::to_string(size.height) + " ";
}

std::string SampleRateFragment(int32_t choice, const std::string& extension) {
  switch (choice) {
    case 0:
    case 2:
      return " -ar 44100 ";
    case 1:
      return extension == ".flv" ? " -ar 44100 " : " -ar 48000 ";
    case 3:
      return " -ar 22050 ";
    case 4:
      return " -ar 11025 ";
    default:
      return std::string();
  }
}

// Per extension: the container name, and whether the extension gets the explicit x264
// codecs (with the audio codec) or the container's defaults at an output rate of 30.
struct OutputForm {
  const char* extension;
  const char* container;
  const char* codecs;  // nullptr: the container's default codecs, output rate 30
};

constexpr const char* kV1 = " -vcodec libx264 -acodec mp3 ";
constexpr const char* kV2 = " -vcodec libx264 -acodec pcm_s16le ";

constexpr OutputForm kOutputForms[] = {
    {".flv", "flv", kV1},     {".mov", "mov", kV1},       {".avi", "avi", kV2},
    {".mp4", "mp4", nullptr}, {".m4v", "m4v", nullptr},   {".ogg", "ogg", nullptr},
    {".ogv", "ogg", nullptr}, {".webm", "webm", nullptr}, {".mkv", "matroska", kV1},
};

// The layouts that show both views whole or squeezed, and how players are told: Matroska's
// StereoMode and H.264's frame-packing message (3 side by side, 4 top and bottom). The
// values follow frames::OutputLayout.
constexpr int32_t kFirstSideBySide = 4;
constexpr int32_t kFirstTopAndBottom = 6;

std::string StereoFragment(int32_t layout, const std::string& extension) {
  if (layout < kFirstSideBySide || layout > kFirstTopAndBottom + 1) return std::string();
  const bool side_by_side = layout < kFirstTopAndBottom;
  std::string fragment;
  // WebM is Matroska, and its StereoMode is one of the few elements it keeps.
  if (extension == ".mkv" || extension == ".webm") {
    fragment += side_by_side ? " -metadata:s:v:0 stereo_mode=left_right "
                             : " -metadata:s:v:0 stereo_mode=top_bottom ";
  }
  if (extension == ".mp4" || extension == ".mov" || extension == ".mkv") {
    fragment += side_by_side ? " -x264-params frame-packing=3 " : " -x264-params frame-packing=4 ";
  }
  return fragment;
}

// Players assume BT.709 for untagged HD movies, which are made with BT.601's matrix.
std::string ColourTags(const EncoderInputs& in) {
  return " -colorspace smpte170m -color_primaries " + in.primaries + " -color_trc " + in.transfer +
         " -color_range tv ";
}

// The shape of pixels that are not square, set on the encoder's picture, which a resize
// then keeps the aspect of; empty for square ones. The filter replaces the tool's own cut
// to even sizes, so it makes that cut itself where 4:2:0 needs it.
std::string AspectFragment(const EncoderInputs& in, bool full_colour) {
  if (in.pixel_aspect_x <= 0 || in.pixel_aspect_y <= 0 || in.pixel_aspect_x == in.pixel_aspect_y) {
    return std::string();
  }
  const std::string shape =
      "setsar=" + std::to_string(in.pixel_aspect_x) + "/" + std::to_string(in.pixel_aspect_y);
  return full_colour ? " -vf " + shape + " "
                     : " -vf crop=trunc(iw/2)*2:trunc(ih/2)*2," + shape + " ";
}

}  // namespace

std::string OutputExtension(std::string_view output_name) {
  size_t dot = output_name.find_last_of('.');
  size_t separator = output_name.find_last_of(platform::kPathSeparators);
  if (dot == std::string_view::npos) return std::string();
  if (separator != std::string_view::npos && separator > dot) return std::string();
  return ToLowerAscii(output_name.substr(dot));
}

std::string OutputContainer(std::string_view output_name) {
  const std::string extension = OutputExtension(output_name);
  for (const OutputForm& form : kOutputForms) {
    if (extension == form.extension) return form.container;
  }
  return std::string();
}

bool TakesFullColour(std::string_view output_name) {
  const std::string extension = OutputExtension(output_name);
  for (const char* known : {".mp4", ".m4v", ".mov", ".mkv", ".avi"}) {
    if (extension == known) return true;
  }
  return false;
}

FrameSize ResizedFrameSize(int32_t resize_mode, int32_t width, int32_t height) {
  if (resize_mode < 1 || resize_mode > 5) return FrameSize{width, height};
  // The float widens to double exactly, and the product and the division by 16 are
  // exact in double for any 32-bit size, so truncation sees the float's true value.
  double factor = static_cast<double>(kResizeFactors[resize_mode - 1]);
  const int64_t scaled_width =
      16 * static_cast<int64_t>(factor * static_cast<double>(width) / 16.0);
  // The height follows the width to the nearest even row: each rounded to 16 on its own would
  // change the picture's shape by up to 3 %.
  const int64_t twice_height = scaled_width * height * 2 / std::max(width, 1);
  return FrameSize{scaled_width, 2 * ((twice_height + 2) / 4)};
}

std::string EncoderCommandLine(const EncoderInputs& in) {
  const std::string extension = OutputExtension(in.output_name);
  const OutputForm* form = nullptr;
  for (const OutputForm& candidate : kOutputForms) {
    if (extension == candidate.extension) form = &candidate;
  }
  if (form == nullptr) return std::string();

  const std::string& output = in.output_name;
  // The tool reads the frame files by a numbered pattern, in which a "%" of the folder's
  // own name must be written twice.
  std::string folder;
  for (char c : in.temp_folder) folder += c == '%' ? std::string("%%") : std::string(1, c);
  const std::string frames = FramePattern(folder);
  const std::string sound =
      in.sound_from_pipe ? SoundPipeFile(in.temp_folder) : SoundFile(in.temp_folder);
  for (const std::string* path : {&output, &frames, &sound, &in.tool_path}) {
    if (!PathFitsCommandLine(*path)) return std::string();
  }

  const std::string size = SizeFragment(in.resize_mode, in.frame_width, in.frame_height);
  const std::string channels = in.audio_channels == 0 ? " -ac 2 " : " -ac 1 ";
  const std::string channels_and_rate =
      channels + SampleRateFragment(in.sample_rate_choice, extension);
  const int32_t q = in.quality;
  const std::string bitrate =
      in.bitrate_choice >= 0 && in.bitrate_choice <= 9 ? kBitrateFragments[in.bitrate_choice] : "";
  // Whole seconds, rounded up: the encoder stops reading at this time, and cut down it would
  // lose the movie's last fraction of a second.
  const std::string timing = " -t " + FormatHms(std::ceil(in.duration_seconds)) + bitrate +
                             CodecModeFragment(in.codec_mode_choice) + size;
  const std::string input_rate =
      in.time_per_frame == 0
          ? std::string(" -r 30 ")
          : " -r " + FormatMask0000(10000000.0 / static_cast<double>(in.time_per_frame)) + " ";
  const std::string sound_input =
      in.sound_usable ? "-i " + Quoted(sound) + channels_and_rate : std::string(" ");

  const bool full_colour = in.chroma444 && TakesFullColour(output);
  const frames::Yuv420Size piped = frames::Yuv420SizeFor(in.frame_width, in.frame_height);
  const std::string frame_input =
      !in.frames_from_pipe ? "-i " + Quoted(frames) + " "
      : full_colour ? "-f rawvideo -pix_fmt bgra -s " + std::to_string(in.frame_width) + "x" +
                          std::to_string(in.frame_height) + " -i pipe:0 "
                    : "-f rawvideo -pix_fmt yuv420p -s " + std::to_string(piped.width) + "x" +
                          std::to_string(piped.height) + " -i pipe:0 ";
  const std::string prefix = Quoted(in.tool_path) + " " + input_rate + frame_input + sound_input;
  const std::string container = " -f " + std::string(form->container) + " ";
  const std::string output_fragment = " -y " + Quoted(output);
  std::string command = prefix;
  if (form->codecs != nullptr) {
    const bool too_fast = in.time_per_frame > 0 &&
                          10000000.0 / static_cast<double>(in.time_per_frame) > kMaxMovieRate;
    if (too_fast) command += " -r " + FormatMask0000(kMaxMovieRate) + " ";
    command += form->codecs + timing;
    command += q == 0 ? std::string(" -crf 22 -qscale 15") : " -crf " + std::to_string(q + 10);
  } else {
    command += " -r 30 " + timing;
    command += q == 0 ? std::string(" -sameq -qscale 15") : " -qscale " + std::to_string(q);
  }
  // Fragments of the newer choices, added only where they are chosen, so every command line
  // of the older choices stays as it was.
  command += StereoFragment(in.layout, extension);
  if (in.tag_colours) command += ColourTags(in);
  command += AspectFragment(in, full_colour);
  if (full_colour) command += " -pix_fmt yuv444p ";
  command += container + output_fragment;
  return command;
}

std::string EncoderMessagesFile(const std::string& temp_folder) {
  return temp_folder + platform::kPathSeparator + "temp_encoder.txt";
}

bool SoundFileUsable(const std::string& path) {
  std::error_code error;
  if (!std::filesystem::is_regular_file(platform::PathOf(path), error)) return false;
  auto length = std::filesystem::file_size(platform::PathOf(path), error);
  return !error && length > 0;
}

EncoderInputs EncoderInputsFor(const EncoderJob& job) {
  EncoderInputs in;
  in.output_name = job.OutputName;
  in.temp_folder = job.TempFolder.empty() ? Shell.TempFolder : job.TempFolder;
  in.frame_width = job.FrameFileWidth;
  in.frame_height = job.FrameFileHeight;
  in.time_per_frame = job.TimePerFrame;
  in.duration_seconds = job.DurationSeconds;
  in.resize_mode = Settings.ResizeMode;
  in.audio_channels = Settings.AudioChannels;
  in.sample_rate_choice = Settings.SampleRateChoice;
  in.bitrate_choice = Settings.BitrateChoice;
  in.codec_mode_choice = Settings.CodecModeChoice;
  in.quality = Settings.CompressionValue;
  in.tool_path = ToolPath("ffmpeg_III");
  in.layout = job.Layout;
  in.chroma444 = Settings.Chroma444 != 0 && TakesFullColour(in.output_name);
  in.tag_colours = true;
  in.primaries = job.Primaries;
  in.transfer = job.Transfer;
  in.pixel_aspect_x = job.PixelAspectX;
  in.pixel_aspect_y = job.PixelAspectY;
  in.sound_usable = SoundFileUsable(SoundFile(in.temp_folder));
  return in;
}

void LogEncoderCommand(const EncoderInputs& inputs, const std::string& command) {
  LogLine("ConvertRectFFMPEG aVIDEOEXT " + OutputExtension(inputs.output_name));
  LogLine("FFMPEG : " + command);
}

}  // namespace zqr
