// Markers and the scan: the output buffer, the JFIF headers, the quantisation, frame and
// Huffman table segments, and the entropy-coded data with its byte stuffing and the final
// padding with 1-bits.
#include <algorithm>
#include <cstring>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

const char kCommentText[] = "Kavelund Inc.\r\nCodding by zqrstereo JPEGMAIN";

bool OutputBuffer::Reset(size_t capacity) {
  data_.reset(new (std::nothrow) uint8_t[capacity]);
  size_ = 0;
  capacity_ = data_ ? capacity : 0;
  failed_ = data_ == nullptr;
  return !failed_;
}

bool OutputBuffer::Grow(size_t extra) {
  size_t wanted = std::max(capacity_ * 2, size_ + extra);
  std::unique_ptr<uint8_t[]> bigger(new (std::nothrow) uint8_t[wanted]);
  if (!bigger) {
    failed_ = true;
    return false;
  }
  if (size_ != 0) std::memcpy(bigger.get(), data_.get(), size_);
  data_ = std::move(bigger);
  capacity_ = wanted;
  return true;
}

void OutputBuffer::PutBytes(const void* bytes, size_t count) {
  if (count == 0 || !Reserve(count)) return;
  std::memcpy(data_.get() + size_, bytes, count);
  size_ += count;
}

void WriteHeaders(OutputBuffer& out, const QualityTables& tables, int32_t width, int32_t height) {
  static const uint8_t kStartAndJfif[] = {0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10, 'J',
                                          'F',  'I',  'F',  0x00, 0x01, 0x01, 0x00,
                                          0x00, 0x01, 0x00, 0x01, 0x00, 0x00};
  out.PutBytes(kStartAndJfif, sizeof kStartAndJfif);

  size_t comment = sizeof kCommentText - 1;
  if (comment != 0) {
    out.Put16(0xFFFE);
    out.Put16(static_cast<uint32_t>(2 + comment));
    out.PutBytes(kCommentText, comment);
  }

  for (int t = 0; t < 2; ++t) {
    out.Put16(0xFFDB);
    out.Put16(67);
    out.Put(static_cast<uint8_t>(t));
    out.PutBytes(tables.QuantTable[t], 64);
  }

  out.Put16(0xFFC0);
  out.Put16(17);
  out.Put(8);
  out.Put16(static_cast<uint32_t>(height));
  out.Put16(static_cast<uint32_t>(width));
  out.Put(3);
  for (uint8_t component = 1; component <= 3; ++component) {
    out.Put(component);
    out.Put(0x11);
    out.Put(component == 1 ? 0 : 1);
  }
}

void WriteHuffmanSegment(OutputBuffer& out, int32_t table_class, int32_t table_number,
                         const HuffTable& table) {
  int32_t m = 0;
  for (int i = 0; i < 16; ++i) m += table.counts[i];
  out.Put16(0xFFC4);
  out.Put16(static_cast<uint32_t>(19 + m));
  out.Put(static_cast<uint8_t>(16 * table_class + table_number));
  out.PutBytes(table.counts, 16);
  out.PutBytes(table.symbols, static_cast<size_t>(std::min(m, 256)));
}

void WriteEndOfImage(OutputBuffer& out) {
  out.Put16(0xFFD9);
}

void BitWriter::Finish() {
  int used = 64 - free_;
  int pad = (8 - used % 8) % 8;
  if (pad != 0) {
    if (!out_.Reserve(16)) return;
    Put((uint64_t{1} << pad) - 1, pad);
  }
  used = 64 - free_;
  uint64_t left = used == 0 ? 0 : acc_ << free_;
  for (int i = 0; i < used / 8; ++i) {
    uint8_t byte = static_cast<uint8_t>(left >> 56);
    left <<= 8;
    out_.Put(byte);
    if (byte == 0xFF) out_.Put(0x00);
  }
  acc_ = 0;
  free_ = 64;
}

namespace {

// Code and length of every symbol of one table, in the form the scan loop wants.
struct CodeTable {
  uint32_t code[256];
  uint8_t length[256];

  explicit CodeTable(const HuffTable& table) {
    for (int s = 0; s < 256; ++s) {
      length[s] = static_cast<uint8_t>(CodeLength(table, s));
      code[s] = table.code[s] < 0 ? 0 : static_cast<uint32_t>(table.code[s]);
    }
  }
};

// Room one block position can need at most: three blocks of 64 symbols with 16-bit codes
// and up to 16 extra bits, every byte stuffed, plus a spilled accumulator.
constexpr size_t kMaxBytesPerPosition = 3 * 64 * 4 * 2 + 32;

// Writes one block from its packed values (advancing `in`); false when a symbol has no code
// in the tables.
inline bool CodeBlock(BitWriter& bits, const int16_t*& in, uint64_t mask, int32_t& previous_dc,
                      const CodeTable& dc, const CodeTable& ac) {
  int32_t value = *in++;
  int32_t diff = value - previous_dc;
  previous_dc = value;
  int32_t size = MagnitudeSize(diff);
  if (size > 16) return false;
  int length = dc.length[size];
  if (length == 0) return false;
  if (size == 0) {
    bits.Put(dc.code[0], length);
  } else {
    uint32_t extra = static_cast<uint32_t>(diff < 0 ? diff - 1 : diff) & ((1u << size) - 1);
    bits.Put(static_cast<uint64_t>(dc.code[size]) << size | extra, length + size);
  }

  uint64_t rest = mask & ~uint64_t{1};
  int last = 0;
  uint32_t missing = 0;
  while (rest != 0) {
    int z = __builtin_ctzll(rest);
    rest &= rest - 1;
    int run = z - last - 1;
    while (run > 15) {
      missing |= ac.length[0xF0] == 0;
      bits.Put(ac.code[0xF0], ac.length[0xF0] | (ac.length[0xF0] == 0));
      run -= 16;
    }
    int32_t v = *in++;
    int32_t vsize = AcSize(v);
    int symbol = (run << 4) | vsize;
    int vlength = ac.length[symbol];
    missing |= vlength == 0;
    uint32_t extra = static_cast<uint32_t>(v < 0 ? v - 1 : v) & ((1u << vsize) - 1);
    bits.Put(static_cast<uint64_t>(ac.code[symbol]) << vsize | extra, vlength + vsize);
    last = z;
  }
  if (last < 63) {
    missing |= ac.length[0x00] == 0;
    bits.Put(ac.code[0x00], ac.length[0x00] | (ac.length[0x00] == 0));
  }
  return missing == 0;
}

}  // namespace

bool WriteScan(OutputBuffer& out, const CoefPlanes& planes, const HuffTable tables[4]) {
  static const uint8_t kScanHeader[] = {0xFF, 0xDA, 0x00, 0x0C, 0x03, 0x01, 0x00,
                                        0x02, 0x11, 0x03, 0x11, 0x00, 0x3F, 0x00};
  out.PutBytes(kScanHeader, sizeof kScanHeader);

  const CodeTable dc0(tables[kDc0]), ac0(tables[kAc0]), dc1(tables[kDc1]), ac1(tables[kAc1]);
  const CodeTable* dc[3] = {&dc0, &dc1, &dc1};
  const CodeTable* ac[3] = {&ac0, &ac1, &ac1};
  int32_t previous_dc[3] = {0, 0, 0};
  const int16_t* in[3] = {planes.values[0].data(), planes.values[1].data(),
                          planes.values[2].data()};
  const uint64_t* masks[3] = {planes.nonzero[0].data(), planes.nonzero[1].data(),
                              planes.nonzero[2].data()};
  BitWriter bits(out);
  bool ok = true;
  size_t blocks = planes.blocks();
  for (size_t k = 0; k < blocks && ok; ++k) {
    if (!out.Reserve(kMaxBytesPerPosition)) return false;
    ok &= CodeBlock(bits, in[0], masks[0][k], previous_dc[0], *dc[0], *ac[0]);
    ok &= CodeBlock(bits, in[1], masks[1][k], previous_dc[1], *dc[1], *ac[1]);
    ok &= CodeBlock(bits, in[2], masks[2][k], previous_dc[2], *dc[2], *ac[2]);
  }
  bits.Finish();
  return ok && !out.failed();
}

}  // namespace zqr::jpeg
