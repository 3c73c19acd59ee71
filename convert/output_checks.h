// What a conversion checks of its output before it records a frame, so that nothing of
// the user's is lost and no run is refused only after the whole recording: the output
// compared with the input as files, names the encoder can take whole, a picture the
// encoder can make, and the sound cut to a picture that ended early.
#pragma once

#include <cstdint>
#include <string>

namespace zqr {

// The folder of `path`: its parent, or the current folder for a bare name.
std::string FolderOf(const std::string& path);

// Whether two names name one file: "./x.mp4", "dir/../x.mp4", "//x.mp4", links.
bool SameFile(const std::string& a, const std::string& b);

// The reasons an output name cannot be used, as the message to show; empty when it can.
std::string OutputProblem(const std::string& output);

// Why frame files of file_width x height pixels cannot be encoded at the current output
// size, as the message to show; empty when they can.
std::string SizeProblem(int32_t file_width, int32_t height);

// Memory a conversion of width x height frames into a movie_width x movie_height movie
// takes: the converter's (and what it maps for it, with the depth map's stage when asked)
// and the encoder tool's.
struct MemoryNeed {
  uint64_t converter = 0;
  uint64_t converter_mapped = 0;
  uint64_t encoder = 0;
};
MemoryNeed ConversionMemoryNeed(int32_t width, int32_t height, int64_t movie_width,
                                int64_t movie_height, bool depth_map = false);

// The message refusing a conversion whose frames would not fit in the `available` memory,
// or in the memory one program may have (`process_limit`, 0 for none); checked before
// anything is recorded. Empty when they fit or nothing is known.
std::string MemoryProblem(int32_t width, int32_t height, int64_t movie_width, int64_t movie_height,
                          uint64_t available, uint64_t process_limit, bool depth_map = false);

// A recording that ended well short of the video's length has less picture than sound: the
// movie's streams are copied up to `seconds` into a new file that takes its place.
bool CutToPicture(const std::string& movie, double seconds);

// What is wrong with a finished movie by the report of the tool that read it through
// (ffmpeg -i MOVIE -c copy -f null) and its exit status: it must open, hold a picture, a
// sound when `with_sound`, and last about `seconds` (neither much less nor much more). Empty when
// nothing is wrong; an empty report leaves the exit status alone to judge by.
std::string MovieReportProblem(const std::string& report, int exit_code, bool with_sound,
                               double seconds);

// Reads a finished movie through with PLUG-IN/ffmpeg before it takes its name, the tool's
// report going to `report_file`; see MovieReportProblem.
std::string FinishedMovieProblem(const std::string& movie, bool with_sound, double seconds,
                                 const std::string& report_file);

}  // namespace zqr
