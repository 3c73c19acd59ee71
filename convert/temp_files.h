// The working files of a conversion in TempFolder (numbered frame files and the sound
// file) and the clean-up that removes them before and after every conversion.
#pragma once

#include <cstdint>
#include <string>

namespace zqr {

// TempFolder + "/temp%06d.bmp": frame files temp000000.bmp, temp000001.bmp, ...
std::string FramePattern(const std::string& temp_folder);
// TempFolder + "/temp.wav".
std::string SoundFile(const std::string& temp_folder);

// Thread body: deletes the frame files, waits half a second, deletes them again, deletes
// the sound files, and with keep_avi 0 the AVI files. Every failure is ignored.
void CleanTempFiles(int32_t keep_avi);
// The same for a given folder.
void CleanTempFolder(const std::string& folder, int32_t keep_avi);

// Starts CleanTempFiles on a detached 1 MiB thread; nobody waits for it.
bool StartCleanTempFiles(int32_t keep_avi);

}  // namespace zqr
