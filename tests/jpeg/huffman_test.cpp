// Huffman statistics and tables: symbol counting, optimal lengths with the reserved code
// point and the 16-bit limit, canonical codes and the size estimate.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <queue>

#include "jpeg/jpeg_internal.h"
#include "tests/jpeg/jpeg_test_util.h"

namespace zqr::jpeg {
namespace {

using test::FullPlanes;

// Total cost in bits of an optimal (unlimited) prefix code for the counts.
int64_t OptimalCost(std::vector<int64_t> counts) {
  std::priority_queue<int64_t, std::vector<int64_t>, std::greater<>> queue;
  for (int64_t c : counts) {
    if (c > 0) queue.push(c);
  }
  int64_t cost = 0;
  while (queue.size() > 1) {
    int64_t a = queue.top();
    queue.pop();
    int64_t b = queue.top();
    queue.pop();
    cost += a + b;
    queue.push(a + b);
  }
  return cost;
}

// Checks the table is a valid canonical prefix code: lengths 1..16, codes increasing in
// list order, no code a prefix of another, and no code made of 1-bits only.
void ExpectCanonical(const HuffTable& t) {
  int32_t total = 0;
  for (int i = 0; i < 16; ++i) total += t.counts[i];
  ASSERT_EQ(total, t.symbol_count);
  double kraft = 0;
  int previous_length = 0;
  int64_t previous_code = -1;
  for (int i = 0; i < t.symbol_count; ++i) {
    int s = t.symbols[i];
    int length = CodeLength(t, s);
    ASSERT_GE(length, 1);
    ASSERT_LE(length, 16);
    ASSERT_GE(length, previous_length);
    int64_t code = t.code[s];
    ASSERT_GE(code, 0);
    // Canonical: each code follows the previous one shifted to its length.
    if (previous_code >= 0) {
      EXPECT_EQ(code, (previous_code + 1) << (length - previous_length)) << "symbol " << s;
    } else {
      EXPECT_EQ(code, 0);
    }
    EXPECT_NE(code, (int64_t{1} << length) - 1) << "all-ones code for symbol " << s;
    kraft += std::ldexp(1.0, -length);
    previous_length = length;
    previous_code = code;
  }
  EXPECT_LT(kraft, 1.0);  // the reserved point's place stays free
  for (int s = 0; s < 256; ++s) {
    bool listed = std::find(t.symbols, t.symbols + t.symbol_count, s) != t.symbols + t.symbol_count;
    EXPECT_EQ(t.code[s] >= 0, listed) << s;
    EXPECT_EQ(t.length_mark[s] != 0, listed) << s;
  }
}

TEST(HuffmanTables, SingleSymbolGetsTheOneBitCodeZero) {
  SymbolCounts counts = {};
  counts[0x42] = 1000;
  HuffTable t;
  BuildOptimalTable(counts, t);
  EXPECT_EQ(t.symbol_count, 1);
  EXPECT_EQ(t.counts[0], 1);
  for (int i = 1; i < 16; ++i) EXPECT_EQ(t.counts[i], 0);
  EXPECT_EQ(t.symbols[0], 0x42);
  EXPECT_EQ(t.code[0x42], 0);
  EXPECT_EQ(t.length_mark[0x42], 1u);
  EXPECT_EQ(CodeLength(t, 0x42), 1);
  // A single occurrence ties with the reserved point; the result is the same.
  SymbolCounts once = {};
  once[7] = 1;
  BuildOptimalTable(once, t);
  EXPECT_EQ(t.symbols[0], 7);
  EXPECT_EQ(t.code[7], 0);
  EXPECT_EQ(CodeLength(t, 7), 1);
}

TEST(HuffmanTables, BuildLeavesEveryCounterAtZero) {
  SymbolCounts counts = {};
  test::Lcg lcg(1);
  for (int s = 0; s < 256; s += 3) counts[s] = lcg.Range(1, 5000);
  HuffTable t;
  BuildOptimalTable(counts, t);
  for (int i = 0; i <= 256; ++i) EXPECT_EQ(counts[i], 0) << i;
}

TEST(HuffmanTables, LengthsAreOptimalWithTheReservedPoint) {
  test::Lcg lcg(2);
  for (int trial = 0; trial < 50; ++trial) {
    SymbolCounts counts = {};
    std::vector<int64_t> with_reserved;
    int n = lcg.Range(2, 200);
    for (int i = 0; i < n; ++i) counts[lcg.Range(0, 255)] += lcg.Range(1, 3000);
    for (int s = 0; s < 256; ++s) with_reserved.push_back(counts[s]);
    with_reserved.push_back(1);
    SymbolCounts kept;
    std::memcpy(kept, counts, sizeof kept);
    HuffTable t;
    BuildOptimalTable(counts, t);
    ExpectCanonical(t);
    int64_t cost = 0;
    int longest = 0;
    for (int s = 0; s < 256; ++s) {
      cost += kept[s] * CodeLength(t, s);
      longest = std::max(longest, CodeLength(t, s));
    }
    if (longest < 16) {
      // The reserved point (count 1) took a code of the longest length.
      EXPECT_EQ(cost + longest, OptimalCost(with_reserved)) << "trial " << trial;
    }
  }
}

TEST(HuffmanTables, SymbolsListedByLengthThenValue) {
  SymbolCounts counts = {};
  counts[9] = 10;
  counts[3] = 10;
  counts[200] = 40;
  counts[1] = 5;
  counts[2] = 5;
  HuffTable t;
  BuildOptimalTable(counts, t);
  ExpectCanonical(t);
  EXPECT_EQ(t.symbols[0], 200);
  for (int i = 1; i < t.symbol_count; ++i) {
    int a = t.symbols[i - 1], b = t.symbols[i];
    EXPECT_TRUE(CodeLength(t, a) < CodeLength(t, b) ||
                (CodeLength(t, a) == CodeLength(t, b) && a < b));
  }
}

TEST(HuffmanTables, EqualCountsBreakTiesTowardsTheHighestIndex) {
  // Four equal counts and the reserved point. Merges: 256 with 3, 2 with 1, then 0 with
  // the pair under 256 (the higher index of two equal sums), then the rest: the reserved
  // point and symbol 3 end up deepest, and the lower symbols share length 2.
  SymbolCounts counts = {};
  for (int s = 0; s < 4; ++s) counts[s] = 1;
  HuffTable t;
  BuildOptimalTable(counts, t);
  EXPECT_EQ(CodeLength(t, 0), 2);
  EXPECT_EQ(CodeLength(t, 1), 2);
  EXPECT_EQ(CodeLength(t, 2), 2);
  EXPECT_EQ(CodeLength(t, 3), 3);
  EXPECT_EQ(t.counts[1], 3);
  EXPECT_EQ(t.counts[2], 1);  // the reserved point's twin at length 3 was removed
}

TEST(HuffmanTables, LongCodesAreLimitedToSixteenBits) {
  // Fibonacci counts make the unlimited code lengths grow by one per symbol.
  SymbolCounts counts = {};
  int64_t a = 1, b = 1;
  for (int s = 0; s < 30; ++s) {
    counts[s] = a;
    int64_t next = a + b;
    a = b;
    b = next;
  }
  HuffTable t;
  BuildOptimalTable(counts, t);
  ExpectCanonical(t);
  EXPECT_EQ(t.symbol_count, 30);
  EXPECT_GT(t.counts[15], 0);  // some codes sit at the limit
  for (int s = 0; s < 30; ++s) EXPECT_LE(CodeLength(t, s), 16);
  // A more frequent symbol never has a longer code (symbols 0 and 1 tie).
  for (int s = 2; s < 30; ++s) EXPECT_LE(CodeLength(t, s), CodeLength(t, s - 1)) << s;
  EXPECT_LT(CodeLength(t, 29), CodeLength(t, 0));
}

TEST(HuffmanTables, EveryPossibleSymbolFitsInSixteenBits) {
  SymbolCounts counts = {};
  for (int s = 0; s < 256; ++s) counts[s] = int64_t{1} << (s % 40);
  HuffTable t;
  BuildOptimalTable(counts, t);
  ExpectCanonical(t);
  EXPECT_EQ(t.symbol_count, 256);
}

TEST(HuffmanStatistics, DcSymbolsAreSizesOfDifferencesPerComponent) {
  FullPlanes full(2, 2);
  // Y: 5, 5, -3, 0 -> diffs 5 (3), 0 (0), -8 (4), 3 (2)
  int32_t y[4] = {5, 5, -3, 0};
  // Cb: 1, 1, 1, 1 -> 1 (1), 0, 0, 0; Cr: -1 ... -> 1 (1), 0, 0, 0
  for (size_t k = 0; k < 4; ++k) {
    full.block(kY, k)[0] = y[k];
    full.block(kCb, k)[0] = 1;
    full.block(kCr, k)[0] = -1;
  }
  CoefPlanes planes;
  ASSERT_TRUE(full.Pack(planes));
  SymbolCounts luma = {}, chroma = {};
  CountDcSymbols(planes, 0, luma);
  CountDcSymbols(planes, 1, chroma);
  EXPECT_EQ(luma[3], 1);
  EXPECT_EQ(luma[0], 1);
  EXPECT_EQ(luma[4], 1);
  EXPECT_EQ(luma[2], 1);
  EXPECT_EQ(chroma[1], 2);
  EXPECT_EQ(chroma[0], 6);  // each component starts from 0 again
}

TEST(HuffmanStatistics, AcRunsEndOfBlockAndSixteenZeroRuns) {
  FullPlanes full(4, 1);
  int32_t* y = full.plane[kY].data();
  // Block 0: all ACs zero -> one end of block.
  // Block 1: last coefficient nonzero -> no end of block: run 62, size 1.
  y[64 + 63] = 1;
  // Block 2: seventeen zeros then 3 (z = 18): 0xF0, then run 1 size 2; then end of block.
  y[128 + 18] = 3;
  // Block 3: -1 at z = 1, 600 at z = 2 (size 10).
  y[192 + 1] = -1;
  y[192 + 2] = 600;
  CoefPlanes planes;
  ASSERT_TRUE(full.Pack(planes));
  SymbolCounts counts = {};
  CountAcSymbols(planes, 0, counts);
  EXPECT_EQ(counts[0x00], 3);  // blocks 0, 2 and 3
  EXPECT_EQ(counts[0xF0], 4);  // block 1: 62 zeros = 3 x 16 + 14; block 2: one
  EXPECT_EQ(counts[0xE1], 1);  // block 1: run 14, size 1
  EXPECT_EQ(counts[0x12], 1);
  EXPECT_EQ(counts[0x01], 1);
  EXPECT_EQ(counts[0x0A], 1);
  int64_t total = 0;
  for (int s = 0; s < 257; ++s) total += counts[s];
  EXPECT_EQ(total, 11);
  // Cb and Cr count into table 1: four all-zero blocks each.
  SymbolCounts chroma = {};
  CountAcSymbols(planes, 1, chroma);
  EXPECT_EQ(chroma[0x00], 8);
}

TEST(HuffmanStatistics, BlockByBlockCountsEqualWholePlaneCounts) {
  FullPlanes full(5, 3);
  test::Lcg lcg(12);
  for (int c = 0; c < 3; ++c) {
    for (int32_t& v : full.plane[c]) {
      if (lcg.Range(0, 5) == 0) v = lcg.Range(-500, 500);
    }
  }
  CoefPlanes planes;
  ASSERT_TRUE(full.Pack(planes));
  SymbolStatistics banded;
  for (size_t row = 0; row < 3; ++row) {
    for (int c = 0; c < 3; ++c) CountBlocks(banded, static_cast<Component>(c), planes, row * 5, 5);
  }
  for (int32_t t = 0; t < 2; ++t) {
    SymbolCounts dc = {}, ac = {};
    CountDcSymbols(planes, t, dc);
    CountAcSymbols(planes, t, ac);
    EXPECT_EQ(std::memcmp(dc, banded.dc[t], sizeof dc), 0) << "table " << t;
    EXPECT_EQ(std::memcmp(ac, banded.ac[t], sizeof ac), 0) << "table " << t;
  }
}

TEST(HuffmanStatistics, EstimateIsCodeAndExtraBitsRoundedUpToBytes) {
  FullPlanes full(3, 2);
  test::Lcg lcg(9);
  for (int c = 0; c < 3; ++c) {
    for (int32_t& v : full.plane[c]) {
      if (lcg.Range(0, 3) == 0) v = lcg.Range(-300, 300);
    }
  }
  CoefPlanes planes;
  ASSERT_TRUE(full.Pack(planes));
  HuffTable tables[4];
  int64_t estimate = BuildHuffmanTables(planes, tables);
  // Recount by walking every coefficient the plain way.
  int64_t bits = 0;
  for (int c = 0; c < 3; ++c) {
    const HuffTable& dc = tables[c == 0 ? kDc0 : kDc1];
    const HuffTable& ac = tables[c == 0 ? kAc0 : kAc1];
    int32_t previous = 0;
    for (size_t k = 0; k < planes.blocks(); ++k) {
      const int32_t* b = full.block(c, k);
      int32_t size = MagnitudeSize(b[0] - previous);
      previous = b[0];
      ASSERT_GT(CodeLength(dc, size), 0);
      bits += CodeLength(dc, size) + size;
      int run = 0;
      for (int z = 1; z < 64; ++z) {
        if (b[z] == 0) {
          ++run;
          continue;
        }
        for (; run > 15; run -= 16) bits += CodeLength(ac, 0xF0);
        int s = MagnitudeSize(b[z]);
        ASSERT_GT(CodeLength(ac, run * 16 + s), 0);
        bits += CodeLength(ac, run * 16 + s) + s;
        run = 0;
      }
      if (run > 0) bits += CodeLength(ac, 0x00);
    }
  }
  EXPECT_EQ(estimate, (bits + 7) / 8);
  for (const HuffTable& t : tables) ExpectCanonical(t);
}

}  // namespace
}  // namespace zqr::jpeg
