// Sound-track extraction: PLUG-IN/ffmpeg writes the loaded video's sound as a 44100 Hz
// stereo 16-bit WAV file into TempFolder while the frames are recorded.
#pragma once

#include <cstdint>
#include <string>

namespace zqr {

// The extraction command: the tool path unquoted, then "-i", the quoted video and the
// fixed WAV options. Empty when a path cannot be quoted (see CheckPathForCommandLine).
std::string SoundCommandLine(const std::string& tool_path, const std::string& video_path,
                             const std::string& sound_file);

// Thread body: extracts CurrentVideo's sound into SoundFile(TempFolder) and waits for
// the tool. The parameter is not read; nothing is logged or reported.
void MakeWave(int32_t unused);

// Starts MakeWave on a detached 1 MiB thread for the sound file of `temp_folder`;
// Conversion.SoundRunning is 1 until the tool has ended (its status in SoundExitCode).
bool StartMakeWave(const std::string& temp_folder);
bool StartMakeWave();

}  // namespace zqr
