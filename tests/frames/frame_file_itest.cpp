// Frame files read back by independent decoders (ffmpeg and ImageMagick), which must see
// exactly the colours written, top row first.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "frames/frame_file.h"
#include "tests/support/test_support.h"

namespace zqr::frames {
namespace {

// Blue, green and red of each pixel, top line of the picture first.
std::string TopDownBgr(const std::vector<uint32_t>& pixels, int32_t w, int32_t h) {
  std::string bytes;
  for (int32_t y = h - 1; y >= 0; --y) {
    for (int32_t x = 0; x < w; ++x) {
      const uint32_t p = pixels[static_cast<size_t>(y) * w + x];
      bytes.push_back(static_cast<char>(p & 0xFF));
      bytes.push_back(static_cast<char>((p >> 8) & 0xFF));
      bytes.push_back(static_cast<char>((p >> 16) & 0xFF));
    }
  }
  return bytes;
}

class FrameFileDecoders : public ::testing::TestWithParam<std::pair<int32_t, int32_t>> {};

TEST_P(FrameFileDecoders, DecodeToThePixelsWritten) {
  const auto [w, h] = GetParam();
  std::mt19937 rng(static_cast<uint32_t>(w * 31 + h));
  std::vector<uint32_t> pixels(static_cast<size_t>(w) * h);
  for (uint32_t& p : pixels) p = static_cast<uint32_t>(rng());  // fourth byte random too
  test::ScratchDir dir;
  const std::string path = FrameFileName(dir.path(), 7);
  ASSERT_TRUE(WriteFrameFileNow(path, w, h, pixels.data(), w));
  const std::string expected = TopDownBgr(pixels, w, h);

  const test::RunResult ffmpeg =
      test::Run({"ffmpeg", "-v", "error", "-i", path, "-f", "rawvideo", "-pix_fmt", "bgr24", "-"});
  ASSERT_EQ(ffmpeg.exit_code, 0) << ffmpeg.errors;
  EXPECT_TRUE(ffmpeg.output == expected) << "ffmpeg decoded other pixels";

  const test::RunResult magick = test::Run({"convert", path, "-depth", "8", "bgr:-"});
  ASSERT_EQ(magick.exit_code, 0) << magick.errors;
  EXPECT_TRUE(magick.output == expected) << "ImageMagick decoded other pixels";

  const test::RunResult probe = test::Run(
      {"ffprobe", "-v", "error", "-show_entries", "stream=width,height", "-of", "csv=p=0", path});
  EXPECT_EQ(probe.output, std::to_string(w) + "," + std::to_string(h) + "\n");
}

INSTANTIATE_TEST_SUITE_P(Sizes, FrameFileDecoders,
                         ::testing::Values(std::make_pair(1, 1), std::make_pair(29, 5),
                                           std::make_pair(624, 480), std::make_pair(1905, 3)));

}  // namespace
}  // namespace zqr::frames
