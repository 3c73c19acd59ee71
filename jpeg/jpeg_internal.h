// Stages of the JPEG writer behind JPEGMAIN, one source file each, in the order a call
// runs them: quality tables (quant_tables.cpp), picture preparation (prepare.cpp), colour
// conversion with forward DCT and quantisation (color_dct.cpp and its AVX2 twin),
// Huffman statistics and tables (huffman.cpp), markers and the entropy-coded scan
// (markers_scan.cpp), and the entry itself (jpegmain.cpp). Every stage takes its inputs
// as arguments and keeps no process-wide state, so tests call each stage directly.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>

namespace zqr::jpeg {

// An array allocated without throwing: Allocate() reports failure instead, so a picture too
// large for memory makes the writer give up quietly rather than end the process.
template <typename T>
class Buffer {
 public:
  bool Allocate(size_t count, bool zeroed) {
    data_.reset(zeroed ? new (std::nothrow) T[count]() : new (std::nothrow) T[count]);
    size_ = data_ ? count : 0;
    return data_ != nullptr;
  }
  void Release() {
    data_.reset();
    size_ = 0;
  }
  T* data() { return data_.get(); }
  const T* data() const { return data_.get(); }
  size_t size() const { return size_; }
  T& operator[](size_t i) { return data_[i]; }
  const T& operator[](size_t i) const { return data_[i]; }

 private:
  std::unique_ptr<T[]> data_;
  size_t size_ = 0;
};

// Natural index (row x 8 + column) of each zigzag position.
inline constexpr uint8_t kZigzagToNatural[64] = {
    0,  1,  8,  16, 9,  2,  3,  10, 17, 24, 32, 25, 18, 11, 4,  5,  12, 19, 26, 33, 40, 48,
    41, 34, 27, 20, 13, 6,  7,  14, 21, 28, 35, 42, 49, 56, 57, 50, 43, 36, 29, 22, 15, 23,
    30, 37, 44, 51, 58, 59, 52, 45, 38, 31, 39, 46, 53, 60, 61, 54, 47, 55, 62, 63};

// ---------------------------------------------------------------- quality tables

// Base quantisation tables of the JPEG standard's examples, in zigzag order.
extern const uint8_t kLuminanceBase[64];
extern const uint8_t kChrominanceBase[64];

// Quality outside 50..100 is taken as 75.
int32_t EffectiveQuality(int32_t quality);

// f(k) = 1 / (sqrt(8) x a(k)), the output scaling of the AAN DCT, in single precision.
float AanScale(int k);

struct QualityTables {
  int32_t quality = 75;            // after EffectiveQuality
  uint8_t QuantTable[2][64] = {};  // zigzag order, 1..255
  float QuantScale[2][64] = {};    // zigzag order: f(r) x f(c) / QuantTable
};

void BuildQualityTables(int32_t quality, QualityTables& tables);

// ---------------------------------------------------------------- picture preparation

// Input bits per pixel after the "0 means 32" rule; 0 when the depth is refused.
int32_t NormaliseBitsPerPixel(int32_t bits_per_pixel);

// Bytes of one input row: width x depth bits padded to a multiple of 4 bytes.
size_t InputRowBytes(int32_t width, int32_t bits_per_pixel);

// Largest width or height a baseline frame header can state.
inline constexpr int32_t kMaxDimension = 65535;

// The 24-bit working picture: W8 x H8 pixels of blue, green, red bytes, rows stored top
// row first (the order blocks are taken in), black wherever the input does not reach.
struct WorkPicture {
  int32_t width = 0;  // of the input
  int32_t height = 0;
  int32_t width8 = 0;  // rounded up to multiples of 8
  int32_t height8 = 0;
  size_t stride = 0;    // bytes per row, width8 x 3
  Buffer<uint8_t> bgr;  // stride x height8 bytes plus slack for 16-byte loads
};

// Draws a bottom-up 16-, 24- or 32-bit input picture into the working picture's top-left
// corner. False (and nothing prepared) for a refused depth, a size outside 1..65535 or
// when memory runs out.
bool PreparePicture(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                    WorkPicture& picture);

// The input's depth after the "0 means 32" rule when the picture can be coded: known depth,
// pixels present, width and height within 1..65535; otherwise 0.
int32_t CheckInput(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel);

enum class Kernel { kScalar, kAvx2 };

// The working picture's rows 8 x band .. 8 x band + 7 drawn into `out` (rows `stride`
// apart, at least width8 x 3 bytes each, 16 bytes of slack after the last), black beyond
// the input. The encoder draws one band at a time, so the whole working picture never
// needs to exist; PreparePicture draws all bands. `depth` as CheckInput returns it.
void PrepareBand(const uint8_t* pixels, int32_t width, int32_t height, int32_t depth, int32_t band,
                 uint8_t* out, size_t stride, Kernel kernel);

// ---------------------------------------------------------------- colour, DCT, quantisation

enum Component { kY = 0, kCb = 1, kCr = 2 };

// Single-precision colour coefficients per component: red, green, blue, offset.
extern const float kColourCoefficients[3][4];

// The coefficient planes: the quantised coefficients of each component, block k counted row
// by row from the top-left block, 64 per block in zigzag order. They are kept packed: for
// each block its DC, then only its nonzero ACs in zigzag order, beside a mask with bit z
// set when coefficient z is nonzero. The entropy coder walks just those, and a picture
// touches a fraction of the memory the full planes would take. Coefficients of 8-bit
// pictures stay within +-2047; storage holds +-32767 (beyond that they would saturate).
struct CoefPlanes {
  int32_t bw = 0;               // blocks across
  int32_t bh = 0;               // blocks down
  Buffer<int16_t> values[3];    // room for 64 per block; filled from the start
  Buffer<uint64_t> nonzero[3];  // per block
  Buffer<uint32_t> start[3];    // per block: index of its DC in values
  size_t used[3] = {};          // values and blocks appended so far
  size_t appended[3] = {};

  size_t blocks() const { return static_cast<size_t>(bw) * static_cast<size_t>(bh); }
  bool Allocate(int32_t blocks_across, int32_t blocks_down);
  void Rewind();
  // Appends the next block of a component from its 64 zigzag coefficients.
  void AppendBlock(int component, const int32_t* zigzag);
  // Block k of a component as 64 zigzag coefficients.
  void GetBlock(int component, size_t k, int32_t* zigzag) const;
};

// Fills planes for a bw x bh block grid from full zigzag blocks (block k of component c at
// full[c] + 64 k): for tests and other callers holding whole blocks.
bool PackPlanes(int32_t blocks_across, int32_t blocks_down, const int32_t* const full[3],
                CoefPlanes& planes);

uint64_t NonzeroMask(const int32_t* block);

// The single stages, scalar. `bgr` points at the block's top-left pixel.
void ConvertBlock(const uint8_t* bgr, size_t stride, Component component, float* block);
void ForwardDct(float* block);  // in place, natural order, columns first, then rows
void QuantiseBlock(const float* dct, const float* quant_scale, int32_t* zigzag_out);

// The fastest kernel the processor runs, or scalar when ZQR_FORCE_SCALAR=1 is set.
Kernel SelectKernel();
bool KernelAvailable(Kernel kernel);

// Colour conversion, DCT and quantisation of the whole picture into the planes, which the
// caller has allocated for the picture's block grid.
void TransformPicture(const WorkPicture& picture, const QualityTables& tables, CoefPlanes& planes,
                      Kernel kernel);

// One row of `blocks` block positions (all three components), appended to the planes; the
// kernels behind TransformPicture.
void TransformBlockRowScalar(const uint8_t* bgr, size_t stride, int32_t blocks,
                             const QualityTables& tables, CoefPlanes& planes);
void TransformBlockRowAvx2(const uint8_t* bgr, size_t stride, int32_t blocks,
                           const QualityTables& tables, CoefPlanes& planes);

// ---------------------------------------------------------------- Huffman tables

// Number of significant bits of |v|.
inline int32_t MagnitudeSize(int32_t v) {
  uint32_t a = static_cast<uint32_t>(v < 0 ? -static_cast<int64_t>(v) : v);
  return a == 0 ? 0 : 32 - __builtin_clz(a);
}

// Size of an AC coefficient as its symbol's low nibble carries it. Coefficients from the
// DCT stay far below 2^15; the cap only keeps hand-made planes from indexing past a table.
inline int32_t AcSize(int32_t v) {
  int32_t size = MagnitudeSize(v);
  return size > 15 ? 15 : size;
}

struct HuffTable {
  uint32_t length_mark[256];  // 2^(code length - 1), 0 when the symbol has no code
  int32_t code[256];          // -1 when the symbol has no code
  uint8_t symbols[256];       // by code length, then by symbol
  uint8_t counts[16];         // codes of each length 1..16
  int32_t symbol_count;       // sum of counts
};

// Index of the four tables as they are kept and written: DC 0, AC 0, DC 1, AC 1.
enum TableSlot { kDc0 = 0, kAc0 = 1, kDc1 = 2, kAc1 = 3 };

// Frequency counters: 256 symbols and the reserved code point. 64-bit, so the sums the
// table construction forms cannot overflow even for the largest pictures.
using SymbolCounts = int64_t[257];

// Symbol statistics of one table: every block of the components using table `table`.
void CountDcSymbols(const CoefPlanes& planes, int32_t table, SymbolCounts& counts);
void CountAcSymbols(const CoefPlanes& planes, int32_t table, SymbolCounts& counts);

// Optimal code lengths and the symbol list from the counts; leaves every counter at 0.
void BuildOptimalTable(SymbolCounts& counts, HuffTable& table);

// Canonical codes from the table's counts and symbol list.
void AssignCodes(HuffTable& table);

// Code length of a symbol, 0 when it has none.
inline int32_t CodeLength(const HuffTable& table, int symbol) {
  uint32_t mark = table.length_mark[symbol];
  return mark == 0 ? 0 : __builtin_ctz(mark) + 1;
}

// Builds the four tables and returns the estimate E of the entropy-coded bytes.
int64_t BuildHuffmanTables(const CoefPlanes& planes, HuffTable tables[4]);

// The symbol counts of all four tables, gathered block by block while the coefficients are
// still in the cache; the same counts as CountDcSymbols and CountAcSymbols over the planes.
struct SymbolStatistics {
  SymbolCounts dc[2] = {};
  SymbolCounts ac[2] = {};
  int32_t previous_dc[3] = {};
};

// Counts blocks first .. first + count - 1 of one component, continuing its DC chain.
void CountBlocks(SymbolStatistics& statistics, Component component, const CoefPlanes& planes,
                 size_t first, size_t count);

// Builds the four tables from gathered counts (which it clears) and returns the estimate.
int64_t BuildHuffmanTables(SymbolStatistics& statistics, HuffTable tables[4]);

// ---------------------------------------------------------------- markers and scan

// The output bytes and the write position; grows (doubling) when a writer needs more room.
class OutputBuffer {
 public:
  bool Reset(size_t capacity);
  // Makes room for `extra` more bytes; false when memory runs out (the buffer then stays
  // failed and every later write is dropped).
  bool Reserve(size_t extra) { return !failed_ && (capacity_ - size_ >= extra || Grow(extra)); }
  void Put(uint8_t byte) {
    if (Reserve(1)) data_[size_++] = byte;
  }
  void Put16(uint32_t value) {
    Put(static_cast<uint8_t>(value >> 8));
    Put(static_cast<uint8_t>(value));
  }
  void PutBytes(const void* bytes, size_t count);
  uint8_t* data() { return data_.get(); }
  const uint8_t* data() const { return data_.get(); }
  size_t size() const { return size_; }
  size_t capacity() const { return capacity_; }
  bool failed() const { return failed_; }
  // Raw access for the scan's fast path, which reserves before it writes.
  uint8_t* end() { return data_.get() + size_; }
  void Advance(size_t count) { size_ += count; }

 private:
  bool Grow(size_t extra);

  std::unique_ptr<uint8_t[]> data_;
  size_t size_ = 0;
  size_t capacity_ = 0;
  bool failed_ = false;
};

// Bits of the scan, most significant first, collected in a 64-bit accumulator; whole
// accumulators go out as eight bytes at once unless one of them is 0xFF and needs its
// stuffed zero. The caller reserves room in the buffer before each batch of Put calls
// (at most 2 x 8 bytes per 32 bits put).
class BitWriter {
 public:
  explicit BitWriter(OutputBuffer& out) : out_(out) {}

  // `bits` holds exactly `count` bits, 1 <= count <= 32.
  inline void Put(uint64_t bits, int count) {
    if (count < free_) {
      acc_ = (acc_ << count) | bits;
      free_ -= count;
      return;
    }
    int rest = count - free_;
    Flush8((acc_ << free_) | (bits >> rest));
    // The already written high bits of `bits` are shifted out before the next flush.
    acc_ = bits;
    free_ = 64 - rest;
  }

  // Completes the last byte with 1-bits and writes what is left (with stuffing).
  void Finish();

 private:
  inline void Flush8(uint64_t full) {
    uint8_t* p = out_.end();
    // Cheap test for a 0xFF byte among the eight.
    if ((full & 0x8080808080808080ULL & ~(full + 0x0101010101010101ULL)) == 0) {
      for (int i = 0; i < 8; ++i) p[i] = static_cast<uint8_t>(full >> (56 - 8 * i));
      out_.Advance(8);
      return;
    }
    size_t n = 0;
    for (int i = 0; i < 8; ++i) {
      uint8_t byte = static_cast<uint8_t>(full >> 56);
      full <<= 8;
      p[n++] = byte;
      if (byte == 0xFF) p[n++] = 0x00;
    }
    out_.Advance(n);
  }

  OutputBuffer& out_;
  uint64_t acc_ = 0;
  int free_ = 64;
};

// The comment segment's text.
extern const char kCommentText[];

// Start of image, JFIF application segment, comment, both quantisation tables and the
// baseline frame header for a width x height picture.
void WriteHeaders(OutputBuffer& out, const QualityTables& tables, int32_t width, int32_t height);

// One Huffman table segment, table class 0 (DC) or 1 (AC).
void WriteHuffmanSegment(OutputBuffer& out, int32_t table_class, int32_t table_number,
                         const HuffTable& table);

// Scan header and entropy-coded data of all blocks, interleaved Y, Cb, Cr per position.
// False when a block needs a symbol its table has no code for (tables not built from these
// planes); the output is then unusable.
bool WriteScan(OutputBuffer& out, const CoefPlanes& planes, const HuffTable tables[4]);

void WriteEndOfImage(OutputBuffer& out);

// ---------------------------------------------------------------- the whole writer

// The complete file in memory, exactly as JPEGMAIN writes it. False, with `out` unspecified,
// when the input is refused or memory runs out.
bool EncodeJpeg(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                int32_t quality, OutputBuffer& out);

// As EncodeJpeg with a chosen colour/DCT kernel (tests compare kernels through it).
bool EncodeJpegWith(const uint8_t* pixels, int32_t width, int32_t height, int32_t bits_per_pixel,
                    int32_t quality, Kernel kernel, OutputBuffer& out);

}  // namespace zqr::jpeg
