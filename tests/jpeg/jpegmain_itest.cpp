// JPEGMAIN as other programs reach it: loaded from libzqrjpeg.so and exported by the
// zqrstereo executable; pictures made by ffmpeg, files decoded by the djpeg tool.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <string>
#include <vector>

#include "tests/support/test_support.h"

namespace {

using zqr::test::BinDir;
using zqr::test::FileExists;
using zqr::test::ReadFile;

using zqr::test::ScratchDir;

using JpegmainFn = int32_t (*)(char* const*, const uint8_t*, int32_t, int32_t, int32_t, int32_t);
using AllocFn = char* (*)(const char*, uint32_t);
using FreeFn = void (*)(char*);

struct Library {
  void* handle = nullptr;
  JpegmainFn jpegmain = nullptr;
  AllocFn alloc = nullptr;
  FreeFn free = nullptr;
  Library() {
    handle = dlopen((BinDir() + "/libzqrjpeg.so").c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle == nullptr) return;
    jpegmain = reinterpret_cast<JpegmainFn>(dlsym(handle, "JPEGMAIN"));
    alloc = reinterpret_cast<AllocFn>(dlsym(handle, "ZqrSysAllocStringByteLen"));
    free = reinterpret_cast<FreeFn>(dlsym(handle, "ZqrSysFreeString"));
  }
  ~Library() {
    if (handle != nullptr) dlclose(handle);
  }
  Library(const Library&) = delete;
  Library& operator=(const Library&) = delete;
};

// One frame of an ffmpeg source as raw top-down pixels of the given pixel format.
bool MakePicture(const std::string& path, const std::string& source, const std::string& format) {
  auto r = zqr::test::Run({"ffmpeg", "-v", "error", "-y", "-f", "lavfi", "-i", source, "-frames:v",
                           "1", "-pix_fmt", format, "-f", "rawvideo", path});
  return r.exit_code == 0 && FileExists(path);
}

// Top-down rows of `bytes_per_pixel` into the bottom-up layout with rows padded to 4 bytes.
std::vector<uint8_t> BottomUp(const std::string& raw, int w, int h, int bytes_per_pixel) {
  size_t row = static_cast<size_t>(w) * static_cast<size_t>(bytes_per_pixel);
  size_t stride = (row + 3) / 4 * 4;
  std::vector<uint8_t> dib(stride * static_cast<size_t>(h), 0);
  for (int y = 0; y < h; ++y) {
    std::memcpy(dib.data() + static_cast<size_t>(h - 1 - y) * stride,
                raw.data() + static_cast<size_t>(y) * row, row);
  }
  return dib;
}

// Red, green, blue of every pixel, top row first, as the writer sees the input.
std::vector<uint8_t> ReferenceRgb(const std::string& raw, int w, int h, int bytes_per_pixel) {
  std::vector<uint8_t> rgb;
  for (size_t i = 0; i < static_cast<size_t>(w) * static_cast<size_t>(h); ++i) {
    const auto* p =
        reinterpret_cast<const uint8_t*>(raw.data()) + i * static_cast<size_t>(bytes_per_pixel);
    if (bytes_per_pixel == 2) {
      uint32_t v = p[0] | static_cast<uint32_t>(p[1]) << 8;
      for (int shift : {10, 5, 0}) {
        uint32_t c = (v >> shift) & 31;
        rgb.push_back(static_cast<uint8_t>(c << 3 | c >> 2));
      }
    } else {
      rgb.push_back(p[2]);
      rgb.push_back(p[1]);
      rgb.push_back(p[0]);
    }
  }
  return rgb;
}

// Decodes with the djpeg tool into red, green, blue bytes; empty on failure.
std::vector<uint8_t> Djpeg(const ScratchDir& dir, const std::string& jpeg, int& w, int& h) {
  std::string ppm = dir.File("decoded.ppm");
  auto r = zqr::test::Run({"djpeg", "-ppm", "-outfile", ppm, jpeg});
  if (r.exit_code != 0 || !r.errors.empty()) return {};
  std::string data = ReadFile(ppm);
  int max = 0, consumed = 0;
  if (std::sscanf(data.c_str(), "P6 %d %d %d%n", &w, &h, &max, &consumed) != 3 || max != 255) {
    return {};
  }
  return std::vector<uint8_t>(data.begin() + consumed + 1, data.end());
}

double Psnr(const std::vector<uint8_t>& a, const std::vector<uint8_t>& b) {
  if (a.size() != b.size() || a.empty()) return -1;
  double sum = 0;
  for (size_t i = 0; i < a.size(); ++i) sum += (a[i] - b[i]) * static_cast<double>(a[i] - b[i]);
  double mse = sum / static_cast<double>(a.size());
  return mse == 0 ? 99 : 10 * std::log10(255.0 * 255.0 / mse);
}

TEST(JpegmainLibrary, ExportsTheEntryAndStringHelpers) {
  Library lib;
  ASSERT_NE(lib.handle, nullptr) << dlerror();
  EXPECT_NE(lib.jpegmain, nullptr);
  EXPECT_NE(lib.alloc, nullptr);
  EXPECT_NE(lib.free, nullptr);
  EXPECT_NE(dlsym(lib.handle, "ZqrSysStringByteLen"), nullptr);
  // The stages stay private.
  EXPECT_EQ(dlsym(lib.handle, "_ZN3zqr4jpeg10EncodeJpegEPKhiiiiRNS0_12OutputBufferE"), nullptr);
}

TEST(JpegmainLibrary, FfmpegPicturesDecodeWithDjpeg) {
  Library lib;
  ASSERT_NE(lib.jpegmain, nullptr);
  ScratchDir dir;
  struct Case {
    const char* source;
    int w, h;
    const char* format;
    int bytes_per_pixel;
    int depth;
    int quality;
    double floor;
  };
  // Floors 2.4 to 5.5 dB below the measured values (27.9, 38.6, 34.3 and 53.5 dB).
  const Case cases[] = {
      {"testsrc2=size=68x46,format=rgb24,crop=67:45:0:0", 67, 45, "bgr24", 3, 24, 75, 25.5},
      {"mandelbrot=size=320x240", 320, 240, "bgra", 4, 32, 90, 35.0},
      {"smptebars=size=200x120", 200, 120, "rgb555le", 2, 16, 50, 31.0},
      {"testsrc2=size=1920x1080", 1920, 1080, "bgra", 4, 0, 100, 48.0},
  };
  for (const Case& c : cases) {
    std::string raw_path = dir.File("picture.raw");
    ASSERT_TRUE(MakePicture(raw_path, c.source, c.format)) << c.source;
    std::string raw = ReadFile(raw_path);
    ASSERT_EQ(raw.size(), static_cast<size_t>(c.w) * c.h * c.bytes_per_pixel);
    std::vector<uint8_t> dib = BottomUp(raw, c.w, c.h, c.bytes_per_pixel);
    std::string out = dir.File("picture.jpg");
    char* name = lib.alloc(out.data(), static_cast<uint32_t>(out.size()));
    ASSERT_NE(name, nullptr);
    EXPECT_EQ(lib.jpegmain(&name, dib.data(), c.w, c.h, c.depth, c.quality), 0);
    lib.free(name);
    ASSERT_TRUE(FileExists(out)) << c.source;
    int w = 0, h = 0;
    std::vector<uint8_t> decoded = Djpeg(dir, out, w, h);
    ASSERT_FALSE(decoded.empty()) << c.source;
    EXPECT_EQ(w, c.w);
    EXPECT_EQ(h, c.h);
    double psnr = Psnr(decoded, ReferenceRgb(raw, c.w, c.h, c.bytes_per_pixel));
    EXPECT_GE(psnr, c.floor) << c.source << " quality " << c.quality;
  }
}

TEST(JpegmainExecutable, ExportsJpegmain) {
  std::string exe = BinDir() + "/zqrstereo";
  if (!FileExists(exe)) GTEST_SKIP() << "zqrstereo not built";
  auto r = zqr::test::Run({"nm", "-D", "--defined-only", exe});
  ASSERT_EQ(r.exit_code, 0) << r.errors;
  EXPECT_NE(r.output.find(" T JPEGMAIN\n"), std::string::npos);
  EXPECT_NE(r.output.find(" T ZqrSysAllocStringByteLen\n"), std::string::npos);
  EXPECT_NE(r.output.find(" T ZqrSysFreeString\n"), std::string::npos);
}

}  // namespace
