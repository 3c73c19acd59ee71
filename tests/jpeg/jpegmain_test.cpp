// JPEGMAIN end to end: files written through the exported entry, decoded by libjpeg and
// compared with the input, for every depth, several qualities and sizes; the string
// helpers; and the refusals that leave no file behind.
#include <gtest/gtest.h>

#include <ostream>

#include <cstring>
#include <filesystem>
#include <string>

#include "jpeg/jpeg_internal.h"
#include "jpeg/jpegmain.h"
#include "tests/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace zqr::jpeg {
namespace {

using zqr::test::FileExists;
using zqr::test::ReadFile;
using zqr::test::ScratchDir;

// An OLE-style string holding a path, released at the end of the scope.
class NameString {
 public:
  explicit NameString(const std::string& path)
      : text_(ZqrSysAllocStringByteLen(path.data(), static_cast<uint32_t>(path.size()))) {}
  ~NameString() { ZqrSysFreeString(text_); }
  NameString(const NameString&) = delete;
  NameString& operator=(const NameString&) = delete;
  char* const* address() const { return &text_; }

 private:
  char* text_;
};

// Writes through JPEGMAIN and returns the file's bytes (empty when none was written).
std::string WriteThroughEntry(const ScratchDir& dir, const std::string& name,
                              const std::vector<uint8_t>& dib, int32_t w, int32_t h, int32_t depth,
                              int32_t quality) {
  std::string path = dir.File(name);
  NameString file_name(path);
  EXPECT_EQ(JPEGMAIN(file_name.address(), dib.data(), w, h, depth, quality), 0);
  return FileExists(path) ? ReadFile(path) : std::string();
}

// PSNR floors for pictures at least 32 pixels each way; measured values on the generated
// pictures sit 1.4 to 6 dB above them. Smaller pictures are mostly black padding, which
// costs every coder alike: they are held to libjpeg's result for the same padded picture.
double PsnrFloor(int32_t quality) {
  return quality >= 100 ? 48.0 : quality >= 75 ? 31.5 : 30.0;
}
constexpr double kTinyPictureFloorAt100 = 44.0;

// libjpeg's PSNR for the picture padded with black to whole blocks, as our writer pads it.
double LibjpegPaddedPsnr(const test::RgbPicture& p, int32_t quality) {
  test::RgbPicture padded;
  padded.width = (p.width + 7) / 8 * 8;
  padded.height = (p.height + 7) / 8 * 8;
  padded.rgb.assign(static_cast<size_t>(padded.width) * static_cast<size_t>(padded.height) * 3, 0);
  for (int32_t y = 0; y < p.height; ++y) {
    std::memcpy(padded.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(padded.width) * 3,
                p.at(0, y), static_cast<size_t>(p.width) * 3);
  }
  QualityTables tables;
  BuildQualityTables(quality, tables);
  std::vector<uint8_t> file = test::EncodeWithLibjpeg(padded, tables.QuantTable);
  test::RgbPicture decoded;
  if (!test::DecodeWithLibjpeg(file.data(), file.size(), decoded)) return -1;
  test::RgbPicture cropped = p;
  for (int32_t y = 0; y < p.height; ++y) {
    std::memcpy(cropped.rgb.data() + static_cast<size_t>(y) * static_cast<size_t>(p.width) * 3,
                decoded.at(0, y), static_cast<size_t>(p.width) * 3);
  }
  return test::Psnr(cropped, p);
}

TEST(Jpegmain, StringHelpersLayOutLengthBytesAndZero) {
  char* s = ZqrSysAllocStringByteLen("abc\0de", 6);
  ASSERT_NE(s, nullptr);
  uint32_t length;
  std::memcpy(&length, s - 4, 4);
  EXPECT_EQ(length, 6u);
  EXPECT_EQ(ZqrSysStringByteLen(s), 6u);
  EXPECT_EQ(std::memcmp(s, "abc\0de", 6), 0);
  EXPECT_EQ(s[6], '\0');
  ZqrSysFreeString(s);
  char* blank = ZqrSysAllocStringByteLen(nullptr, 3);
  ASSERT_NE(blank, nullptr);
  EXPECT_EQ(ZqrSysStringByteLen(blank), 3u);
  EXPECT_EQ(blank[0] | blank[1] | blank[2] | blank[3], 0);
  ZqrSysFreeString(blank);
  ZqrSysFreeString(nullptr);
  EXPECT_EQ(ZqrSysStringByteLen(nullptr), 0u);
}

struct DecodeCase {
  int32_t width, height;
};

void PrintTo(const DecodeCase& c, std::ostream* os) {
  *os << c.width << "x" << c.height;
}

class JpegmainDecodes : public ::testing::TestWithParam<DecodeCase> {};

TEST_P(JpegmainDecodes, EveryDepthAndQualityDecodesCloseToTheInput) {
  const DecodeCase c = GetParam();
  ScratchDir dir;
  test::RgbPicture picture = test::NaturalPicture(c.width, c.height, 17);
  for (int32_t depth : {16, 24, 32}) {
    std::vector<uint8_t> dib = test::ToDib(picture, depth);
    test::RgbPicture reference = test::AsStored(picture, depth);
    for (int32_t quality : {50, 75, 100}) {
      std::string file = WriteThroughEntry(dir, "out.jpg", dib, c.width, c.height, depth, quality);
      ASSERT_FALSE(file.empty()) << depth << " bits, quality " << quality;
      test::RgbPicture decoded;
      std::string error;
      ASSERT_TRUE(test::DecodeWithLibjpeg(file, decoded, &error)) << error;
      ASSERT_EQ(decoded.width, c.width);
      ASSERT_EQ(decoded.height, c.height);
      double psnr = test::Psnr(decoded, reference);
      if (c.width >= 32 && c.height >= 32) {
        EXPECT_GE(psnr, PsnrFloor(quality))
            << c.width << "x" << c.height << ", " << depth << " bits, quality " << quality;
      } else if (quality == 100) {
        EXPECT_GE(psnr, kTinyPictureFloorAt100) << c.width << "x" << c.height << ", " << depth;
      } else {
        EXPECT_GE(psnr, LibjpegPaddedPsnr(reference, quality) - 0.3)
            << c.width << "x" << c.height << ", " << depth << " bits, quality " << quality;
      }
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, JpegmainDecodes,
                         ::testing::Values(DecodeCase{1, 1}, DecodeCase{2, 3}, DecodeCase{8, 8},
                                           DecodeCase{10, 10}, DecodeCase{17, 9},
                                           DecodeCase{67, 45}, DecodeCase{1920, 1080}),
                         [](const auto& test_info) {
                           return std::to_string(test_info.param.width) + "x" +
                                  std::to_string(test_info.param.height);
                         });

TEST(Jpegmain, NoiseAtFullQualityDecodes) {
  // The worst case for the size estimate: every coefficient busy, many stuffed bytes.
  ScratchDir dir;
  test::RgbPicture noise = test::NoisePicture(203, 101, 5);
  std::string file = WriteThroughEntry(dir, "noise.jpg", test::ToDib(noise, 24), 203, 101, 24, 100);
  ASSERT_FALSE(file.empty());
  test::RgbPicture decoded;
  ASSERT_TRUE(test::DecodeWithLibjpeg(file, decoded));
  EXPECT_GE(test::Psnr(decoded, noise), 38.0);
}

TEST(Jpegmain, ZeroBitsPerPixelIsThirtyTwo) {
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(37, 21, 8);
  std::vector<uint8_t> dib = test::ToDib(p, 32);
  std::string as32 = WriteThroughEntry(dir, "a.jpg", dib, 37, 21, 32, 80);
  std::string as0 = WriteThroughEntry(dir, "b.jpg", dib, 37, 21, 0, 80);
  ASSERT_FALSE(as32.empty());
  EXPECT_EQ(as0, as32);
}

TEST(Jpegmain, DepthsOfTheSamePictureAgree) {
  // 24- and 32-bit input of one picture give the same file; 16-bit that of its widened twin.
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(29, 13, 9);
  std::string as24 = WriteThroughEntry(dir, "a.jpg", test::ToDib(p, 24), 29, 13, 24, 75);
  std::string as32 = WriteThroughEntry(dir, "b.jpg", test::ToDib(p, 32), 29, 13, 32, 75);
  EXPECT_EQ(as24, as32);
  test::RgbPicture widened = test::AsStored(p, 16);
  std::string as16 = WriteThroughEntry(dir, "c.jpg", test::ToDib(p, 16), 29, 13, 16, 75);
  std::string widened24 = WriteThroughEntry(dir, "d.jpg", test::ToDib(widened, 24), 29, 13, 24, 75);
  EXPECT_EQ(as16, widened24);
}

TEST(Jpegmain, QualityOutsideTheRangeIsSeventyFive) {
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(40, 30, 10);
  std::vector<uint8_t> dib = test::ToDib(p, 24);
  std::string q75 = WriteThroughEntry(dir, "a.jpg", dib, 40, 30, 24, 75);
  EXPECT_EQ(WriteThroughEntry(dir, "b.jpg", dib, 40, 30, 24, 0), q75);
  EXPECT_EQ(WriteThroughEntry(dir, "c.jpg", dib, 40, 30, 24, 101), q75);
  EXPECT_EQ(WriteThroughEntry(dir, "d.jpg", dib, 40, 30, 24, 49), q75);
  EXPECT_NE(WriteThroughEntry(dir, "e.jpg", dib, 40, 30, 24, 50), q75);
}

TEST(Jpegmain, FileMatchesTheInMemoryEncoding) {
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(64, 48, 11);
  std::vector<uint8_t> dib = test::ToDib(p, 32);
  std::string file = WriteThroughEntry(dir, "a.jpg", dib, 64, 48, 32, 90);
  OutputBuffer out;
  ASSERT_TRUE(EncodeJpeg(dib.data(), 64, 48, 32, 90, out));
  EXPECT_EQ(file, std::string(reinterpret_cast<const char*>(out.data()), out.size()));
}

TEST(Jpegmain, ExistingFileIsReplacedWhole) {
  ScratchDir dir;
  std::string path = dir.File("old.jpg");
  ASSERT_TRUE(zqr::test::WriteFile(path, std::string(1 << 20, 'x')));
  test::RgbPicture p = test::NaturalPicture(16, 16, 12);
  std::string file = WriteThroughEntry(dir, "old.jpg", test::ToDib(p, 24), 16, 16, 24, 75);
  ASSERT_LT(file.size(), 5000u);
  EXPECT_EQ(static_cast<uint8_t>(file[file.size() - 1]), 0xD9);
}

TEST(Jpegmain, RefusalsWriteNothing) {
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(16, 16, 13);
  std::vector<uint8_t> dib = test::ToDib(p, 32);
  for (int32_t depth : {1, 4, 8, 15, 48, -24}) {
    EXPECT_TRUE(WriteThroughEntry(dir, "depth.jpg", dib, 16, 16, depth, 75).empty()) << depth;
  }
  EXPECT_TRUE(WriteThroughEntry(dir, "zero.jpg", dib, 0, 16, 32, 75).empty());
  EXPECT_TRUE(WriteThroughEntry(dir, "neg.jpg", dib, 16, -16, 32, 75).empty());
  EXPECT_TRUE(WriteThroughEntry(dir, "wide.jpg", dib, 70000, 1, 32, 75).empty());

  // No name, an empty one, one with a zero byte inside, a folder that does not exist.
  EXPECT_EQ(JPEGMAIN(nullptr, dib.data(), 16, 16, 32, 75), 0);
  char* none = nullptr;
  EXPECT_EQ(JPEGMAIN(&none, dib.data(), 16, 16, 32, 75), 0);
  NameString empty("");
  EXPECT_EQ(JPEGMAIN(empty.address(), dib.data(), 16, 16, 32, 75), 0);
  std::string cut = dir.File("cut.jpg");
  cut.insert(cut.size() - 4, 1, '\0');
  NameString with_zero(cut);
  EXPECT_EQ(JPEGMAIN(with_zero.address(), dib.data(), 16, 16, 32, 75), 0);
  NameString missing_folder(dir.File("no/such/folder/x.jpg"));
  EXPECT_EQ(JPEGMAIN(missing_folder.address(), dib.data(), 16, 16, 32, 75), 0);
  EXPECT_EQ(JPEGMAIN(missing_folder.address(), nullptr, 16, 16, 32, 75), 0);

  EXPECT_TRUE(std::filesystem::is_empty(dir.path()));
}

TEST(Jpegmain, NameBytesAreUsedAsTheyStand) {
  ScratchDir dir;
  test::RgbPicture p = test::NaturalPicture(8, 8, 14);
  std::string file = WriteThroughEntry(dir, "Bild \xE4 1.jpeg", test::ToDib(p, 24), 8, 8, 24,
                                       75);  // code page byte
  EXPECT_FALSE(file.empty());
}

TEST(Jpegmain, MatchesLibjpegWithTheSameTables) {
  // libjpeg-turbo doing the same job (float DCT, optimised tables, 4:4:4, our quantisation
  // tables) is the yardstick: our file must be about as small and as faithful.
  for (int32_t quality : {50, 75, 100}) {
    test::RgbPicture p = test::NaturalPicture(320, 240, 15);
    std::vector<uint8_t> dib = test::ToDib(p, 24);
    OutputBuffer ours;
    ASSERT_TRUE(EncodeJpeg(dib.data(), 320, 240, 24, quality, ours));
    QualityTables tables;
    BuildQualityTables(quality, tables);
    std::vector<uint8_t> theirs = test::EncodeWithLibjpeg(p, tables.QuantTable);
    ASSERT_FALSE(theirs.empty());
    test::RgbPicture a, b;
    ASSERT_TRUE(test::DecodeWithLibjpeg(ours.data(), ours.size(), a));
    ASSERT_TRUE(test::DecodeWithLibjpeg(theirs.data(), theirs.size(), b));
    double ratio = static_cast<double>(ours.size()) / static_cast<double>(theirs.size());
    if (quality < 100) {
      EXPECT_NEAR(ratio, 1.0, 0.02)
          << "quality " << quality << ": " << ours.size() << " vs " << theirs.size();
      EXPECT_NEAR(test::Psnr(a, p), test::Psnr(b, p), 0.2) << "quality " << quality;
    } else {
      // libjpeg rounds Y, Cb and Cr to whole numbers before the DCT; we keep the fractions,
      // which with all-ones tables leaves less noise to code.
      EXPECT_LT(ratio, 1.0) << ours.size() << " vs " << theirs.size();
      EXPECT_GE(test::Psnr(a, p), test::Psnr(b, p) - 0.2);
    }
  }
}

}  // namespace
}  // namespace zqr::jpeg
