// Choosing where the converted movie goes, then converting: the Convert command's save
// dialog, which proposes a name derived from the loaded video.
#pragma once

#include <cstdint>
#include <string>

namespace zqr {

// The name the save dialog proposes: the loaded video's name without folder and extension,
// followed by "_Unwrapped" and, with stereo on in a side-by-side or top-and-bottom layout,
// the suffix players look for (LayoutNameSuffix).
// `copy` above 1 numbers the name (" (2)") before the layout's suffix, which players read
// at the name's end.
std::string ProposedOutputName(const std::string& current_video, int copy = 1);
// The suffix that VR and 3D players read as the full or half side-by-side or
// top-and-bottom layout ("_LRF_Full_SBS-lr", "_LR_Half_SBS-lrh", "_TBF_Full_TB-tb",
// "_TB_Half_OU-tbh"); empty for the anaglyphs.
std::string LayoutNameSuffix(int32_t layout);

// Shows the save dialog in `initial_folder` and converts the loaded video into the chosen
// file (ConvertMovie). The playback ends once a movie is written; without a choice, or when
// the conversion wrote none, the clip stays loaded, paused at its start. Mode 0 is the only
// mode; the result is empty text.
std::string ChooseOutputFile(const std::string& initial_folder, int32_t mode);

}  // namespace zqr
