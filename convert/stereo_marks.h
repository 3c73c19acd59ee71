// What a finished movie tells players of its two views where the encoder cannot say it:
// Google's `st3d` box in an MP4, M4V or MOV movie of a side-by-side or top-and-bottom
// layout, and Matroska's StereoMode in an anaglyph MKV. Both are small edits of the
// written file's header, so the movie's samples and their timing stay exactly as encoded
// (a remux through Matroska to get the box would move every frame onto its millisecond
// clock).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zqr {

// The stereo modes of the `st3d` box.
enum class St3dMode : uint8_t { kMonoscopic = 0, kTopBottom = 1, kLeftRight = 2 };

// Matroska's StereoMode of a red/cyan anaglyph ("anaglyph_cyan_red").
constexpr uint8_t kMatroskaAnaglyphCyanRed = 10;

// Gives the first video sample entry of the whole `moov` box in `moov` an st3d box of
// `mode` (or sets the mode of the one it has). `moov_offset` is where the box starts in
// the file: when the media data lies behind it, the chunk offsets beyond it move with the
// box's growth. False, the box unchanged, when it holds no video track it can read.
bool AddSt3dBox(std::vector<uint8_t>& moov, int64_t moov_offset, St3dMode mode);

// Sets the StereoMode of the first video track of the Matroska file whose first bytes,
// through its Tracks element, are `head`. A StereoMode that is missing is made room for
// by taking four bytes of the Void that the muxer leaves before the Tracks, so no byte
// behind the Tracks moves; the SeekHead's positions and the CRC-32 elements follow. False,
// `head` unchanged, when the file is not laid out so.
bool SetMatroskaStereoMode(std::vector<uint8_t>& head, uint8_t mode);

// The marks of the recorded layout (frames::OutputLayout; `stereo` whether the stereo
// effect made the frames) on the finished movie, chosen by its extension. True when
// there was nothing to mark or the mark was written; a failure is logged and leaves the
// movie as the encoder wrote it.
bool MarkStereoViews(const std::string& movie, bool stereo, int32_t layout);

}  // namespace zqr
