// Helpers for the JPEG writer's tests: generated natural-looking pictures in the 16-, 24-
// and 32-bit bottom-up layouts JPEGMAIN takes, decoding and encoding with the system's
// libjpeg as the independent reference, and picture comparison.
#pragma once

#include <jpeglib.h>

#include <cmath>
#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg::test {

// A picture as red, green, blue bytes, top row first.
struct RgbPicture {
  int32_t width = 0;
  int32_t height = 0;
  std::vector<uint8_t> rgb;
  const uint8_t* at(int32_t x, int32_t y) const {
    return rgb.data() +
           (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
  }
};

// Deterministic small random numbers.
class Lcg {
 public:
  explicit Lcg(uint32_t seed) : state_(seed * 2654435761u + 1) {}
  uint32_t Next() {
    state_ = state_ * 1664525u + 1013904223u;
    return state_ >> 8;
  }
  int32_t Range(int32_t lo, int32_t hi) {
    return lo + static_cast<int32_t>(Next() % static_cast<uint32_t>(hi - lo + 1));
  }

 private:
  uint32_t state_;
};

inline uint8_t ClampByte(double v) {
  return static_cast<uint8_t>(v < 0 ? 0 : v > 255 ? 255 : std::lround(v));
}

// Soft waves of a few dozen pixels, a disc and bars with hard edges, and mild grain: the
// mixture of flat areas, detail and edges of a video frame, at the same scale whatever the
// picture's size.
inline RgbPicture NaturalPicture(int32_t width, int32_t height, uint32_t seed) {
  RgbPicture p;
  p.width = width;
  p.height = height;
  p.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  Lcg lcg(seed);
  double phase = lcg.Range(0, 628) / 100.0;
  double cx = width * (0.3 + lcg.Range(0, 40) / 100.0);
  double cy = height * (0.3 + lcg.Range(0, 40) / 100.0);
  double radius = std::max(1.0, std::min(width, height) * 0.25);
  for (int32_t y = 0; y < height; ++y) {
    for (int32_t x = 0; x < width; ++x) {
      double r = 120 + 60 * std::sin(x / 61.0 + phase) + 35 * std::sin(y / 43.0);
      double g = 110 + 50 * std::sin((x + y) / 71.0) + 40 * std::cos(y / 29.0 + phase);
      double b = 130 + 55 * std::cos(x / 37.0 - y / 53.0) + 30 * std::sin(phase + x / 97.0);
      double dx = x - cx, dy = y - cy;
      if (dx * dx + dy * dy < radius * radius) {
        r = 0.5 * r + 110;
        g = 0.6 * g + 20;
        b = 0.4 * b;
      }
      if (x % 97 >= 80 && x % 97 < 84) {
        r = g = b = 235;
      }
      double grain = static_cast<int32_t>(lcg.Next() % 9) - 4;
      uint8_t* px =
          p.rgb.data() +
          (static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)) * 3;
      px[0] = ClampByte(r + grain);
      px[1] = ClampByte(g + grain);
      px[2] = ClampByte(b + grain);
    }
  }
  return p;
}

// Uniform noise: the hardest picture for the coder.
inline RgbPicture NoisePicture(int32_t width, int32_t height, uint32_t seed) {
  RgbPicture p;
  p.width = width;
  p.height = height;
  p.rgb.resize(static_cast<size_t>(width) * static_cast<size_t>(height) * 3);
  Lcg lcg(seed);
  for (auto& byte : p.rgb) byte = static_cast<uint8_t>(lcg.Next());
  return p;
}

// The picture in the bottom-up device-independent layout of the given depth (rows padded
// to 4 bytes; 16-bit is 5-5-5 with blue lowest). Padding bytes and the unused fourth byte
// are filled with junk so that reading them would show.
inline std::vector<uint8_t> ToDib(const RgbPicture& p, int32_t bits_per_pixel) {
  size_t stride = InputRowBytes(p.width, bits_per_pixel == 0 ? 32 : bits_per_pixel);
  std::vector<uint8_t> dib(stride * static_cast<size_t>(p.height), 0xA5);
  for (int32_t y = 0; y < p.height; ++y) {
    uint8_t* row = dib.data() + static_cast<size_t>(p.height - 1 - y) * stride;
    for (int32_t x = 0; x < p.width; ++x) {
      const uint8_t* c = p.at(x, y);
      if (bits_per_pixel == 16) {
        uint32_t v = static_cast<uint32_t>(c[2] >> 3) | static_cast<uint32_t>(c[1] >> 3) << 5 |
                     static_cast<uint32_t>(c[0] >> 3) << 10 | 0x8000;  // top bit unused
        row[2 * x] = static_cast<uint8_t>(v);
        row[2 * x + 1] = static_cast<uint8_t>(v >> 8);
      } else if (bits_per_pixel == 24) {
        row[3 * x] = c[2];
        row[3 * x + 1] = c[1];
        row[3 * x + 2] = c[0];
      } else {
        row[4 * x] = c[2];
        row[4 * x + 1] = c[1];
        row[4 * x + 2] = c[0];
        row[4 * x + 3] = 0x5A;
      }
    }
  }
  return dib;
}

// What the writer sees of a picture stored at the given depth: 16-bit keeps 5 bits per
// channel, widened back by repeating the high bits.
inline RgbPicture AsStored(const RgbPicture& p, int32_t bits_per_pixel) {
  RgbPicture q = p;
  if (bits_per_pixel == 16) {
    for (auto& byte : q.rgb) {
      uint32_t v5 = byte >> 3;
      byte = static_cast<uint8_t>(v5 << 3 | v5 >> 2);
    }
  }
  return q;
}

inline double Psnr(const RgbPicture& a, const RgbPicture& b) {
  if (a.width != b.width || a.height != b.height || a.rgb.size() != b.rgb.size()) return -1;
  double sum = 0;
  for (size_t i = 0; i < a.rgb.size(); ++i) {
    double d = static_cast<double>(a.rgb[i]) - static_cast<double>(b.rgb[i]);
    sum += d * d;
  }
  double mse = sum / static_cast<double>(a.rgb.size());
  return mse == 0 ? 99.0 : 10.0 * std::log10(255.0 * 255.0 / mse);
}

// libjpeg reports errors through a callback that must not return; it jumps back here.
struct ReferenceError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

inline void ReferenceErrorExit(j_common_ptr info) {
  auto* error = reinterpret_cast<ReferenceError*>(info->err);
  (*info->err->format_message)(info, error->message);
  std::longjmp(error->jump, 1);
}

// Decodes with libjpeg; false (with the reason in `error`) when libjpeg refuses the file.
inline bool DecodeWithLibjpeg(const uint8_t* data, size_t size, RgbPicture& out,
                              std::string* error = nullptr) {
  jpeg_decompress_struct info;
  ReferenceError err;
  info.err = jpeg_std_error(&err.manager);
  err.manager.error_exit = ReferenceErrorExit;
  err.message[0] = '\0';
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_decompress(&info);
    if (error != nullptr) *error = err.message;
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_mem_src(&info, data, static_cast<unsigned long>(size));
  jpeg_read_header(&info, TRUE);
  info.out_color_space = JCS_RGB;
  jpeg_start_decompress(&info);
  out.width = static_cast<int32_t>(info.output_width);
  out.height = static_cast<int32_t>(info.output_height);
  out.rgb.assign(static_cast<size_t>(out.width) * static_cast<size_t>(out.height) * 3, 0);
  while (info.output_scanline < info.output_height) {
    JSAMPROW row = out.rgb.data() +
                   static_cast<size_t>(info.output_scanline) * static_cast<size_t>(out.width) * 3;
    jpeg_read_scanlines(&info, &row, 1);
  }
  jpeg_finish_decompress(&info);
  jpeg_destroy_decompress(&info);
  return true;
}

inline bool DecodeWithLibjpeg(const std::string& bytes, RgbPicture& out,
                              std::string* error = nullptr) {
  return DecodeWithLibjpeg(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out,
                           error);
}

// Sets libjpeg (after jpeg_set_defaults and any jpeg_set_quality) to the job our writer
// does: float DCT, optimised Huffman tables, 4:4:4, and, when given, our quantisation
// tables (zigzag order, as ours are kept). The tests and the benchmark share it, so both
// compare against the same configuration.
inline void SetLibjpegToOurJob(jpeg_compress_struct& info, const uint8_t (*tables)[64]) {
  if (tables != nullptr) {
    for (int t = 0; t < 2; ++t) {
      unsigned int natural[64];
      for (int z = 0; z < 64; ++z) natural[kZigzagToNatural[z]] = tables[t][z];
      jpeg_add_quant_table(&info, t, natural, 100, TRUE);
    }
  }
  info.dct_method = JDCT_FLOAT;
  info.optimize_coding = TRUE;
  for (int c = 0; c < 3; ++c) {
    info.comp_info[c].h_samp_factor = 1;
    info.comp_info[c].v_samp_factor = 1;
  }
}

// Encodes with libjpeg as our writer works: float DCT, optimised Huffman tables, 4:4:4, and
// the given quantisation tables (zigzag order, as ours are kept).
inline std::vector<uint8_t> EncodeWithLibjpeg(const RgbPicture& p, const uint8_t (*tables)[64]) {
  jpeg_compress_struct info;
  ReferenceError err;
  info.err = jpeg_std_error(&err.manager);
  err.manager.error_exit = ReferenceErrorExit;
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  std::vector<uint8_t> result;
  if (setjmp(err.jump) != 0) {
    jpeg_destroy_compress(&info);
    std::free(buffer);
    return result;
  }
  jpeg_create_compress(&info);
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(p.width);
  info.image_height = static_cast<JDIMENSION>(p.height);
  info.input_components = 3;
  info.in_color_space = JCS_RGB;
  jpeg_set_defaults(&info);
  SetLibjpegToOurJob(info, tables);
  jpeg_start_compress(&info, TRUE);
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<uint8_t*>(p.at(0, static_cast<int32_t>(info.next_scanline)));
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  result.assign(buffer, buffer + size);
  jpeg_destroy_compress(&info);
  std::free(buffer);
  return result;
}

// Coefficient planes as whole zigzag blocks, to fill by hand and then pack.
struct FullPlanes {
  int32_t bw;
  int32_t bh;
  std::vector<int32_t> plane[3];
  FullPlanes(int32_t across, int32_t down) : bw(across), bh(down) {
    for (auto& p : plane) p.assign(blocks() * 64, 0);
  }
  size_t blocks() const { return static_cast<size_t>(bw) * static_cast<size_t>(bh); }
  int32_t* block(int component, size_t k) { return plane[component].data() + 64 * k; }
  bool Pack(CoefPlanes& planes) const {
    const int32_t* full[3] = {plane[0].data(), plane[1].data(), plane[2].data()};
    return PackPlanes(bw, bh, full, planes);
  }
};

// Byte offset of the first marker segment `marker` (e.g. 0xC0) before the scan, or -1.
inline long FindSegment(const uint8_t* data, size_t size, uint8_t marker) {
  size_t i = 2;
  while (i + 4 <= size && data[i] == 0xFF) {
    if (data[i + 1] == marker) return static_cast<long>(i);
    if (data[i + 1] == 0xDA) return -1;
    i += 2 + (static_cast<size_t>(data[i + 2]) << 8 | data[i + 3]);
  }
  return -1;
}

}  // namespace zqr::jpeg::test
