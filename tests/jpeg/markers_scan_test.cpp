// Markers and scan: the bit writer's stuffing and padding, the exact bits of the worked
// cases, a full decode of random scans against their planes, the file layout and the
// growing output buffer.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "jpeg/jpeg_internal.h"
#include "tests/jpeg/jpeg_test_util.h"

namespace zqr::jpeg {
namespace {

std::vector<uint8_t> Bytes(const OutputBuffer& out) {
  return std::vector<uint8_t>(out.data(), out.data() + out.size());
}

// The model of the bit writer: a string of '0' and '1', padded with 1-bits, every 0xFF
// byte followed by 0x00.
std::vector<uint8_t> Pack(std::string bits) {
  while (bits.size() % 8 != 0) bits += '1';
  std::vector<uint8_t> out;
  for (size_t i = 0; i < bits.size(); i += 8) {
    uint8_t byte = static_cast<uint8_t>(std::stoi(bits.substr(i, 8), nullptr, 2));
    out.push_back(byte);
    if (byte == 0xFF) out.push_back(0x00);
  }
  return out;
}

std::string Code(const HuffTable& t, int symbol) {
  int length = CodeLength(t, symbol);
  EXPECT_GT(length, 0) << "symbol " << symbol << " has no code";
  std::string s;
  for (int i = length - 1; i >= 0; --i) s += ((t.code[symbol] >> i) & 1) ? '1' : '0';
  return s;
}

TEST(BitWriter, PaddingWithOnesAndStuffing) {
  struct Case {
    std::vector<std::pair<uint64_t, int>> puts;
    std::vector<uint8_t> want;
  };
  const Case cases[] = {
      {{{0b1111, 4}}, {0xFF, 0x00}},  // the padding completes a 0xFF byte
      {{{0xFF, 8}}, {0xFF, 0x00}},
      {{{0b101, 3}}, {0xBF}},
      {{{0, 8}}, {0x00}},
      {{{0x3F, 7}}, {0x7F}},
      {{{0x7F, 7}}, {0xFF, 0x00}},
      {{{0xFFFF, 16}, {0, 1}}, {0xFF, 0x00, 0xFF, 0x00, 0x7F}},
      {{}, {}},
  };
  for (const Case& c : cases) {
    OutputBuffer out;
    ASSERT_TRUE(out.Reset(64));
    BitWriter bits(out);
    for (auto [value, count] : c.puts) bits.Put(value, count);
    bits.Finish();
    EXPECT_EQ(Bytes(out), c.want);
  }
}

TEST(BitWriter, LongRandomSequencesMatchTheModel) {
  test::Lcg lcg(4);
  for (int trial = 0; trial < 50; ++trial) {
    OutputBuffer out;
    ASSERT_TRUE(out.Reset(16));
    BitWriter bits(out);
    std::string model;
    int n = lcg.Range(0, 400);
    for (int i = 0; i < n; ++i) {
      int count = lcg.Range(1, 32);
      // Plenty of 1-bits, so that 0xFF bytes are common.
      uint64_t value =
          (lcg.Range(0, 2) == 0 ? ~uint64_t{0} : (uint64_t{lcg.Next()} << 16 ^ lcg.Next())) &
          ((uint64_t{1} << count) - 1);
      ASSERT_TRUE(out.Reserve(16));
      bits.Put(value, count);
      for (int b = count - 1; b >= 0; --b) model += ((value >> b) & 1) ? '1' : '0';
    }
    bits.Finish();
    EXPECT_EQ(Bytes(out), Pack(model)) << "trial " << trial;
  }
}

// Planes of a 1 x 1 block picture with the given Y, Cb, Cr blocks.
void OneBlockPlanes(CoefPlanes& planes, const int32_t* y, const int32_t* cb, const int32_t* cr) {
  test::FullPlanes full(1, 1);
  std::memcpy(full.block(kY, 0), y, 64 * sizeof(int32_t));
  std::memcpy(full.block(kCb, 0), cb, 64 * sizeof(int32_t));
  std::memcpy(full.block(kCr, 0), cr, 64 * sizeof(int32_t));
  ASSERT_TRUE(full.Pack(planes));
}

// The entropy-coded bytes of a scan: after the 14-byte scan header.
std::vector<uint8_t> ScanData(const CoefPlanes& planes, HuffTable* tables) {
  BuildHuffmanTables(planes, tables);
  OutputBuffer out;
  EXPECT_TRUE(out.Reset(1024));
  EXPECT_TRUE(WriteScan(out, planes, tables));
  std::vector<uint8_t> all = Bytes(out);
  EXPECT_GE(all.size(), 14u);
  return std::vector<uint8_t>(all.begin() + 14, all.end());
}

TEST(Scan, SeventeenZerosThenThree) {
  int32_t y[64] = {}, zero[64] = {};
  y[18] = 3;
  CoefPlanes planes;
  OneBlockPlanes(planes, y, zero, zero);
  HuffTable t[4];
  std::vector<uint8_t> data = ScanData(planes, t);
  std::string bits = Code(t[kDc0], 0) + Code(t[kAc0], 0xF0) + Code(t[kAc0], 0x12) + "11" +
                     Code(t[kAc0], 0x00) + Code(t[kDc1], 0) + Code(t[kAc1], 0x00) +
                     Code(t[kDc1], 0) + Code(t[kAc1], 0x00);
  EXPECT_EQ(data, Pack(bits));
}

TEST(Scan, NegativeValuesWriteTheLowBitsOfValueMinusOne) {
  int32_t y[64] = {}, zero[64] = {};
  y[0] = -3;  // DC difference -3: size 2, bits 00
  y[1] = -3;
  y[2] = -1;  // size 1, bit 0
  y[3] = 1;   // size 1, bit 1
  y[4] = -6;  // size 3: -7 -> 001
  CoefPlanes planes;
  OneBlockPlanes(planes, y, zero, zero);
  HuffTable t[4];
  std::vector<uint8_t> data = ScanData(planes, t);
  std::string bits = Code(t[kDc0], 2) + "00" + Code(t[kAc0], 0x02) + "00" + Code(t[kAc0], 0x01) +
                     "0" + Code(t[kAc0], 0x01) + "1" + Code(t[kAc0], 0x03) + "001" +
                     Code(t[kAc0], 0x00) + Code(t[kDc1], 0) + Code(t[kAc1], 0x00) +
                     Code(t[kDc1], 0) + Code(t[kAc1], 0x00);
  EXPECT_EQ(data, Pack(bits));
}

TEST(Scan, AllZeroAcsAreOnlyDcAndEndOfBlock) {
  int32_t y[64] = {}, cb[64] = {}, cr[64] = {};
  y[0] = 5;
  cb[0] = -2;
  cr[0] = 2;
  CoefPlanes planes;
  OneBlockPlanes(planes, y, cb, cr);
  HuffTable t[4];
  std::vector<uint8_t> data = ScanData(planes, t);
  std::string bits = Code(t[kDc0], 3) + "101" + Code(t[kAc0], 0x00) + Code(t[kDc1], 2) + "01" +
                     Code(t[kAc1], 0x00) + Code(t[kDc1], 2) + "10" + Code(t[kAc1], 0x00);
  EXPECT_EQ(data, Pack(bits));
  EXPECT_EQ(t[kAc0].symbol_count, 1);  // only the end of block was counted
}

TEST(Scan, NonzeroLastCoefficientEndsWithoutEndOfBlock) {
  int32_t y[64] = {}, zero[64] = {};
  y[63] = 2;
  CoefPlanes planes;
  OneBlockPlanes(planes, y, zero, zero);
  HuffTable t[4];
  std::vector<uint8_t> data = ScanData(planes, t);
  std::string bits = Code(t[kDc0], 0) + Code(t[kAc0], 0xF0) + Code(t[kAc0], 0xF0) +
                     Code(t[kAc0], 0xF0) + Code(t[kAc0], 0xE2) + "10" + Code(t[kDc1], 0) +
                     Code(t[kAc1], 0x00) + Code(t[kDc1], 0) + Code(t[kAc1], 0x00);
  EXPECT_EQ(data, Pack(bits));
  EXPECT_EQ(CodeLength(t[kAc0], 0x00), 0);  // no end of block anywhere in table 0
}

TEST(Scan, ByteOfOnesFromThePaddingIsStuffed) {
  // Search the DC of Y until the data before padding ends in a byte that the padding
  // completes to 0xFF; Cr's last coefficient 7 ends the data with the bits 111.
  bool found = false;
  for (int32_t dc = 0; dc < 64 && !found; ++dc) {
    int32_t y[64] = {}, cb[64] = {}, cr[64] = {};
    y[0] = dc;
    cr[63] = 7;
    CoefPlanes planes;
    OneBlockPlanes(planes, y, cb, cr);
    HuffTable t[4];
    std::vector<uint8_t> data = ScanData(planes, t);
    int32_t size = MagnitudeSize(dc);
    std::string bits = Code(t[kDc0], size);
    for (int i = size - 1; i >= 0; --i) bits += ((dc >> i) & 1) ? '1' : '0';
    bits += Code(t[kAc0], 0x00) + Code(t[kDc1], 0) + Code(t[kAc1], 0x00) + Code(t[kDc1], 0) +
            Code(t[kAc1], 0xF0) + Code(t[kAc1], 0xF0) + Code(t[kAc1], 0xF0) + Code(t[kAc1], 0xE3) +
            "111";
    ASSERT_EQ(data, Pack(bits)) << "dc " << dc;
    size_t tail = bits.size() % 8;
    if (tail != 0 && bits.substr(bits.size() - tail) == std::string(tail, '1')) {
      found = true;
      ASSERT_GE(data.size(), 2u);
      EXPECT_EQ(data[data.size() - 2], 0xFF);
      EXPECT_EQ(data[data.size() - 1], 0x00);
    }
  }
  EXPECT_TRUE(found);
}

// Reads the entropy-coded data back with the tables, as a decoder would.
class ScanReader {
 public:
  ScanReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  bool Bit(int& bit) {
    if (bit_ == 0) {
      if (pos_ >= size_) return false;
      byte_ = data_[pos_++];
      if (byte_ == 0xFF) {
        if (pos_ >= size_ || data_[pos_] != 0x00) return false;  // unstuffed 0xFF
        ++pos_;
      }
      bit_ = 8;
    }
    bit = (byte_ >> --bit_) & 1;
    return true;
  }
  bool Symbol(const HuffTable& t, int& symbol) {
    int32_t code = 0;
    for (int length = 1; length <= 16; ++length) {
      int bit;
      if (!Bit(bit)) return false;
      code = code * 2 + bit;
      for (int s = 0; s < 256; ++s) {
        if (CodeLength(t, s) == length && t.code[s] == code) {
          symbol = s;
          return true;
        }
      }
    }
    return false;
  }
  bool Value(int size, int32_t& value) {
    int32_t raw = 0;
    for (int i = 0; i < size; ++i) {
      int bit;
      if (!Bit(bit)) return false;
      raw = raw * 2 + bit;
    }
    value = size == 0 ? 0 : raw >= (1 << (size - 1)) ? raw : raw - (1 << size) + 1;
    return true;
  }
  // The bits left in the current byte: all must be padding 1-bits.
  bool RestIsPadding() {
    for (; bit_ > 0; --bit_) {
      if (((byte_ >> (bit_ - 1)) & 1) == 0) return false;
    }
    return pos_ == size_;
  }

 private:
  const uint8_t* data_;
  size_t size_;
  size_t pos_ = 0;
  int bit_ = 0;
  uint8_t byte_ = 0;
};

TEST(Scan, RandomPlanesDecodeBackExactly) {
  test::Lcg lcg(21);
  for (int trial = 0; trial < 12; ++trial) {
    int32_t across = lcg.Range(1, 6), down = lcg.Range(1, 4);
    test::FullPlanes full(across, down);
    int sparsity = lcg.Range(1, 20);
    for (int c = 0; c < 3; ++c) {
      for (size_t i = 0; i < full.blocks() * 64; ++i) {
        bool dc = i % 64 == 0;
        full.plane[c][i] = dc                            ? lcg.Range(-1024, 1016)
                           : lcg.Range(0, sparsity) == 0 ? lcg.Range(-1023, 1023)
                                                         : 0;
      }
    }
    CoefPlanes planes;
    ASSERT_TRUE(full.Pack(planes));
    HuffTable t[4];
    std::vector<uint8_t> data = ScanData(planes, t);
    ScanReader reader(data.data(), data.size());
    int32_t previous[3] = {};
    for (size_t k = 0; k < planes.blocks(); ++k) {
      for (int c = 0; c < 3; ++c) {
        const HuffTable& dc = t[c == 0 ? kDc0 : kDc1];
        const HuffTable& ac = t[c == 0 ? kAc0 : kAc1];
        int32_t block[64] = {};
        int size;
        int32_t diff;
        ASSERT_TRUE(reader.Symbol(dc, size));
        ASSERT_TRUE(reader.Value(size, diff));
        block[0] = previous[c] + diff;
        previous[c] = block[0];
        for (int z = 1; z < 64;) {
          int symbol;
          ASSERT_TRUE(reader.Symbol(ac, symbol)) << "block " << k << " z " << z;
          if (symbol == 0x00) break;
          z += symbol >> 4;
          ASSERT_LT(z, 64);
          int32_t v;
          ASSERT_TRUE(reader.Value(symbol & 15, v));
          if ((symbol & 15) != 0) block[z] = v;
          ++z;
        }
        ASSERT_EQ(std::memcmp(block, full.block(c, k), sizeof block), 0)
            << "trial " << trial << " block " << k << " component " << c;
      }
    }
    EXPECT_TRUE(reader.RestIsPadding());
  }
}

TEST(OutputBuffer, GrowsWhenTheEstimateIsShort) {
  test::FullPlanes full(8, 8);
  test::Lcg lcg(8);
  for (int c = 0; c < 3; ++c) {
    for (int32_t& v : full.plane[c]) v = lcg.Range(-1023, 1023);
  }
  CoefPlanes planes;
  ASSERT_TRUE(full.Pack(planes));
  HuffTable t[4];
  BuildHuffmanTables(planes, t);
  OutputBuffer roomy, tiny;
  ASSERT_TRUE(roomy.Reset(1 << 20));
  ASSERT_TRUE(tiny.Reset(1));
  ASSERT_TRUE(WriteScan(roomy, planes, t));
  ASSERT_TRUE(WriteScan(tiny, planes, t));
  EXPECT_GT(tiny.capacity(), 1u);
  EXPECT_EQ(Bytes(tiny), Bytes(roomy));
  EXPECT_GT(roomy.size(), 10000u);
}

TEST(OutputBuffer, ScanRefusesSymbolsWithoutCode) {
  int32_t y[64] = {}, zero[64] = {};
  y[5] = 9;
  CoefPlanes planes, other;
  OneBlockPlanes(planes, y, zero, zero);
  OneBlockPlanes(other, zero, zero, zero);
  HuffTable t[4];
  BuildHuffmanTables(other, t);  // tables that never saw the coefficient
  OutputBuffer out;
  ASSERT_TRUE(out.Reset(256));
  EXPECT_FALSE(WriteScan(out, planes, t));
}

// ------------------------------------------------------------------ file layout

uint32_t Be16(const std::vector<uint8_t>& b, size_t at) {
  return static_cast<uint32_t>(b[at]) << 8 | b[at + 1];
}

TEST(FileLayout, SegmentsInOrderWithTheirFields) {
  test::RgbPicture p = test::NaturalPicture(10, 10, 2);
  std::vector<uint8_t> dib = test::ToDib(p, 32);
  OutputBuffer out;
  ASSERT_TRUE(EncodeJpeg(dib.data(), 10, 10, 32, 75, out));
  std::vector<uint8_t> f = Bytes(out);
  ASSERT_GT(f.size(), 200u);
  EXPECT_EQ(std::vector<uint8_t>(f.begin(), f.begin() + 6),
            (std::vector<uint8_t>{0xFF, 0xD8, 0xFF, 0xE0, 0x00, 0x10}));
  EXPECT_EQ(f[f.size() - 2], 0xFF);
  EXPECT_EQ(f[f.size() - 1], 0xD9);

  // JFIF application segment.
  const uint8_t app0[] = {'J', 'F', 'I', 'F', 0, 1, 1, 0, 0, 1, 0, 1, 0, 0};
  EXPECT_EQ(std::memcmp(f.data() + 6, app0, sizeof app0), 0);

  // Then the segments, in this order, with these markers.
  const uint8_t order[] = {0xFE, 0xDB, 0xDB, 0xC0, 0xC4, 0xC4, 0xC4, 0xC4, 0xDA};
  size_t at = 20;
  QualityTables tables;
  BuildQualityTables(75, tables);
  int huffman = 0;
  for (uint8_t marker : order) {
    ASSERT_LT(at + 4, f.size());
    ASSERT_EQ(f[at], 0xFF);
    ASSERT_EQ(f[at + 1], marker) << "at " << at;
    uint32_t length = Be16(f, at + 2);
    const uint8_t* body = f.data() + at + 4;
    if (marker == 0xFE) {
      std::string text(reinterpret_cast<const char*>(body), length - 2);
      EXPECT_EQ(text.rfind("Kavelund Inc.\r\nCodding by ", 0), 0u) << text;
      EXPECT_GT(text.size(), std::string("Kavelund Inc.\r\nCodding by ").size());
    } else if (marker == 0xDB) {
      EXPECT_EQ(length, 67u);
      int table = body[0];
      EXPECT_EQ(std::memcmp(body + 1, tables.QuantTable[table], 64), 0);
    } else if (marker == 0xC0) {
      const uint8_t sof[] = {8, 0, 10, 0, 10, 3, 1, 0x11, 0, 2, 0x11, 1, 3, 0x11, 1};
      EXPECT_EQ(length, 17u);
      EXPECT_EQ(std::memcmp(body, sof, sizeof sof), 0);
    } else if (marker == 0xC4) {
      const uint8_t ids[] = {0x00, 0x10, 0x01, 0x11};
      EXPECT_EQ(body[0], ids[huffman++]);
      uint32_t m = 0;
      for (int i = 1; i <= 16; ++i) m += body[i];
      EXPECT_EQ(length, 19 + m);
    } else {
      const uint8_t sos[] = {3, 1, 0x00, 2, 0x11, 3, 0x11, 0, 63, 0};
      EXPECT_EQ(length, 12u);
      EXPECT_EQ(std::memcmp(body, sos, sizeof sos), 0);
    }
    at += 2 + length;
  }
  // Both quantisation tables came in table order.
  EXPECT_EQ(f[test::FindSegment(f.data(), f.size(), 0xDB) + 4], 0);
}

TEST(FileLayout, TenByTenIsCodedAsTwoByTwoBlocksWithBlackPadding) {
  test::RgbPicture p = test::NaturalPicture(10, 10, 3);
  for (auto& byte : p.rgb) byte = static_cast<uint8_t>(std::max<int>(byte, 120));  // bright
  std::vector<uint8_t> dib = test::ToDib(p, 24);
  OutputBuffer out;
  ASSERT_TRUE(EncodeJpeg(dib.data(), 10, 10, 24, 100, out));
  std::vector<uint8_t> f = Bytes(out);
  long sof = test::FindSegment(f.data(), f.size(), 0xC0);
  ASSERT_GT(sof, 0);
  EXPECT_EQ(Be16(f, static_cast<size_t>(sof) + 5), 10u);  // height
  EXPECT_EQ(Be16(f, static_cast<size_t>(sof) + 7), 10u);  // width

  // Claiming 16 x 16 in the frame header shows the whole coded area.
  f[static_cast<size_t>(sof) + 6] = 16;
  f[static_cast<size_t>(sof) + 8] = 16;
  test::RgbPicture whole;
  ASSERT_TRUE(test::DecodeWithLibjpeg(f.data(), f.size(), whole));
  ASSERT_EQ(whole.width, 16);
  ASSERT_EQ(whole.height, 16);
  for (int32_t y = 0; y < 16; ++y) {
    for (int32_t x = 0; x < 16; ++x) {
      const uint8_t* px = whole.at(x, y);
      if (x >= 12 || y >= 12) {  // clear of the ringing at the edge
        EXPECT_LE(px[0] + px[1] + px[2], 30) << x << "," << y;
      } else if (x < 8 && y < 8) {
        EXPECT_GE(px[0] + px[1] + px[2], 300) << x << "," << y;
      }
    }
  }
}

}  // namespace
}  // namespace zqr::jpeg
