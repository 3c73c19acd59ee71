// What is wrong with an input file that cannot be opened as a video, in words a user can act
// on. The decoder library says only "Invalid data found" for an empty file, a text and an MP4
// whose recording was never finished alike, and would wait forever on a named pipe; these
// checks run before it and after it fails.
#pragma once

#include <string>
#include <string_view>

namespace zqr::platform::ffmpeg {

// Before the file is opened: a named pipe, socket or device, a file that cannot be read, or
// an empty one. Empty text when none of these holds (a missing file included: the library
// says so itself).
std::string InputFileProblem(const std::string& path);

// After the library could not open it: a text file, or an MP4/MOV file without its index
// (no moov box). Empty text when the file is neither.
std::string UnreadableContent(const std::string& path);

// Whether the file's first bytes are text: no NUL, and nothing but printable characters,
// blanks and line ends (bytes of UTF-8 sequences count as printable).
bool LooksLikeText(std::string_view head);

}  // namespace zqr::platform::ffmpeg
