// The stereo marks' edits of a movie's header on any bytes: no crash, a refused edit leaves
// the bytes as they were, a Matroska edit keeps the length, an MP4 edit adds one box at
// most, and a second edit finds the mark the first one made.
#include <vector>

#include "convert/stereo_marks.h"
#include "tests/fuzz/fuzz_targets.h"

namespace zqr::fuzz {

int StereoMarks(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const bool matroska = (data[0] & 1) != 0;
  const std::vector<uint8_t> input(data + 1, data + size);
  std::vector<uint8_t> bytes = input;
  if (matroska) {
    const bool set = SetMatroskaStereoMode(bytes, kMatroskaAnaglyphCyanRed);
    ZQR_FUZZ_CHECK(bytes.size() == input.size());
    if (!set) {
      ZQR_FUZZ_CHECK(bytes == input);
      return 0;
    }
    const std::vector<uint8_t> once = bytes;
    ZQR_FUZZ_CHECK(SetMatroskaStereoMode(bytes, kMatroskaAnaglyphCyanRed));
    ZQR_FUZZ_CHECK(bytes == once);
    return 0;
  }
  const int64_t moov_offset = (data[0] & 2) != 0 ? 32 : -1;
  const bool added = AddSt3dBox(bytes, moov_offset, St3dMode::kLeftRight);
  if (!added) {
    ZQR_FUZZ_CHECK(bytes == input);
    return 0;
  }
  ZQR_FUZZ_CHECK(bytes.size() == input.size() || bytes.size() == input.size() + 13);
  const std::vector<uint8_t> once = bytes;
  ZQR_FUZZ_CHECK(AddSt3dBox(bytes, moov_offset, St3dMode::kLeftRight));
  ZQR_FUZZ_CHECK(bytes == once);
  return 0;
}

}  // namespace zqr::fuzz
