// JPEGMAIN on small pictures of any size, depth, quality and content: no crash, and a
// file written for a valid call decodes with libjpeg to the picture's size.
#include <stdlib.h>
#include <unistd.h>

#include <csetjmp>
#include <cstdio>
// jpeglib.h needs FILE declared first.
#include <jpeglib.h>
#include <string>
#include <vector>

#include "jpeg/jpegmain.h"
#include "tests/fuzz/fuzz_targets.h"

namespace zqr::fuzz {

namespace {

struct DecodeError {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
};

// The decoded size, or false when libjpeg refuses the file.
bool DecodedSize(const std::string& path, int* width, int* height) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr) return false;
  jpeg_decompress_struct info{};
  DecodeError error{};
  info.err = jpeg_std_error(&error.manager);
  error.manager.error_exit = [](j_common_ptr common) {
    std::longjmp(reinterpret_cast<DecodeError*>(common->err)->jump, 1);
  };
  if (setjmp(error.jump) != 0) {
    jpeg_destroy_decompress(&info);
    std::fclose(file);
    return false;
  }
  jpeg_create_decompress(&info);
  jpeg_stdio_src(&info, file);
  jpeg_read_header(&info, TRUE);
  jpeg_start_decompress(&info);
  std::vector<JSAMPLE> row(static_cast<size_t>(info.output_width) * info.output_components);
  while (info.output_scanline < info.output_height) {
    JSAMPROW rows[1] = {row.data()};
    jpeg_read_scanlines(&info, rows, 1);
  }
  jpeg_finish_decompress(&info);
  *width = static_cast<int>(info.output_width);
  *height = static_cast<int>(info.output_height);
  jpeg_destroy_decompress(&info);
  std::fclose(file);
  return true;
}

}  // namespace

int Jpeg(const uint8_t* data, size_t size) {
  if (size < 4) return 0;
  const int width = 1 + data[0] % 48;
  const int height = 1 + data[1] % 48;
  static constexpr int kDepths[] = {0, 16, 24, 32, 8};  // 8 is refused
  const int depth = kDepths[data[2] % 5];
  const int quality = static_cast<int8_t>(data[3]) + 60;  // some in 50..100, some not
  const int bytes_per_pixel = depth == 0 ? 4 : depth / 8;
  const size_t stride = (static_cast<size_t>(width) * bytes_per_pixel + 3) / 4 * 4;
  std::vector<uint8_t> pixels(stride * height);
  for (size_t i = 0; size > 4 && i < pixels.size(); ++i) pixels[i] = data[4 + i % (size - 4)];

  static const std::string path = "/tmp/zqr-fuzz-jpeg-" + std::to_string(getpid()) + ".jpg";
  std::remove(path.c_str());
  char* name = ZqrSysAllocStringByteLen(path.c_str(), static_cast<uint32_t>(path.size()));
  JPEGMAIN(&name, pixels.data(), width, height, depth, quality);
  ZqrSysFreeString(name);
  int decoded_width = 0, decoded_height = 0;
  if (depth == 8) {
    ZQR_FUZZ_CHECK(access(path.c_str(), F_OK) != 0);
  } else {
    ZQR_FUZZ_CHECK(DecodedSize(path, &decoded_width, &decoded_height));
    ZQR_FUZZ_CHECK(decoded_width == width && decoded_height == height);
  }
  std::remove(path.c_str());
  return 0;
}

}  // namespace zqr::fuzz
