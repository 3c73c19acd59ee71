// The exported entry JPEGMAIN: runs the stages (quality tables, picture preparation,
// colour/DCT/quantisation with the symbol statistics, Huffman tables, markers and scan) into
// a buffer in memory and writes the file with one write. Also the length-prefixed string
// helpers for its callers.
#include "jpeg/jpegmain.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

bool EncodeJpegWith(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                    int32_t quality, Kernel kernel, OutputBuffer& out) {
  int32_t depth = CheckInput(pixels, width, height, bits_per_pixel);
  if (depth == 0) return false;
  if (!KernelAvailable(kernel)) kernel = Kernel::kScalar;

  QualityTables tables;
  BuildQualityTables(quality, tables);

  // Picture to coefficient planes, one band of block rows at a time: draw the band, convert,
  // transform and quantise it, and count its symbols while it is still in the cache.
  int32_t width8 = (width + 7) & ~7;
  int32_t height8 = (height + 7) & ~7;
  CoefPlanes planes;
  Buffer<uint8_t> band;
  size_t stride = static_cast<size_t>(width8) * 3;
  if (!planes.Allocate(width8 / 8, height8 / 8) || !band.Allocate(stride * 8 + 16, true)) {
    return false;
  }
  auto row_kernel = kernel == Kernel::kAvx2 ? TransformBlockRowAvx2 : TransformBlockRowScalar;
  SymbolStatistics statistics;
  size_t bw = static_cast<size_t>(planes.bw);
  for (int32_t row = 0; row < planes.bh; ++row) {
    PrepareBand(pixels, width, height, depth, row, band.data(), stride, kernel);
    row_kernel(band.data(), stride, planes.bw, tables, planes);
    for (int c = 0; c < 3; ++c) {
      CountBlocks(statistics, static_cast<Component>(c), planes, static_cast<size_t>(row) * bw, bw);
    }
  }
  band.Release();

  HuffTable huffman[4];
  int64_t estimate = BuildHuffmanTables(statistics, huffman);

  // The estimate leaves out stuffing and headers; the buffer grows if it is still short.
  long double wanted = 1.3L * static_cast<long double>(estimate) + 1000;
  if (!out.Reset(static_cast<size_t>(std::llrint(wanted)) + 1)) return false;

  WriteHeaders(out, tables, width, height);
  WriteHuffmanSegment(out, 0, 0, huffman[kDc0]);
  WriteHuffmanSegment(out, 1, 0, huffman[kAc0]);
  WriteHuffmanSegment(out, 0, 1, huffman[kDc1]);
  WriteHuffmanSegment(out, 1, 1, huffman[kAc1]);
  if (!WriteScan(out, planes, huffman)) return false;
  WriteEndOfImage(out);
  return !out.failed();
}

bool EncodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                int32_t quality, OutputBuffer& out) {
  return EncodeJpegWith(pixels, width, height, bits_per_pixel, quality, SelectKernel(), out);
}

namespace {

// The bytes of the OLE-style string as a path; empty when there is none or when it holds a
// zero byte, which would silently cut the name short.
std::string PathFromString(char* const* file_name) {
  if (file_name == nullptr || *file_name == nullptr) return {};
  const char* bytes = *file_name;
  uint32_t length = ZqrSysStringByteLen(bytes);
  if (length == 0 || std::memchr(bytes, 0, length) != nullptr) return {};
  return std::string(bytes, length);
}

}  // namespace

}  // namespace zqr::jpeg

extern "C" {

int32_t JPEGMAIN(char* const* file_name, const uint8_t* pixels, int32_t width, int32_t height,
                 int32_t bits_per_pixel, int32_t quality) {
  using namespace zqr::jpeg;
  std::string path = PathFromString(file_name);
  if (path.empty()) return 0;
  OutputBuffer out;
  if (!EncodeJpeg(pixels, width, height, bits_per_pixel, quality, out)) return 0;

  std::FILE* file = std::fopen(path.c_str(), "wb");
  if (file == nullptr) return 0;
  bool written = std::fwrite(out.data(), 1, out.size(), file) == out.size();
  written = std::fclose(file) == 0 && written;
  // A cut-off file would look like a picture but not decode; better none at all.
  if (!written) std::remove(path.c_str());
  return 0;
}

char* ZqrSysAllocStringByteLen(const char* bytes, uint32_t length) {
  auto* block = static_cast<char*>(std::malloc(sizeof(uint32_t) + size_t{length} + 1));
  if (block == nullptr) return nullptr;
  std::memcpy(block, &length, sizeof length);
  char* text = block + sizeof(uint32_t);
  if (bytes != nullptr) {
    std::memcpy(text, bytes, length);
  } else {
    std::memset(text, 0, length);
  }
  text[length] = '\0';
  return text;
}

uint32_t ZqrSysStringByteLen(const char* string) {
  if (string == nullptr) return 0;
  uint32_t length;
  std::memcpy(&length, string - sizeof(uint32_t), sizeof length);
  return length;
}

void ZqrSysFreeString(char* string) {
  if (string != nullptr) std::free(string - sizeof(uint32_t));
}

}  // extern "C"
