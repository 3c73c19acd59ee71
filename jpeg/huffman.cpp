// Huffman statistics and tables: counts the DC and AC symbols of the quantised planes, builds
// optimal code lengths from the counts (the JPEG standard's Annex K.2 procedure, limited to
// 16 bits and keeping the all-ones code free), assigns canonical codes and estimates the
// size of the entropy-coded data.
#include <cstring>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

namespace {

// Components coded with table 0 (Y) or table 1 (Cb and Cr).
inline int ComponentsOf(int32_t table, int* components) {
  if (table == 0) {
    components[0] = kY;
    return 1;
  }
  components[0] = kCb;
  components[1] = kCr;
  return 2;
}

// Entry with the smallest nonzero count, the highest index among equals; -1 when none.
inline int SmallestCount(const int64_t* counts, int skip) {
  int found = -1;
  int64_t best = 0;
  for (int i = 0; i <= 256; ++i) {
    if (counts[i] != 0 && i != skip && (found < 0 || counts[i] <= best)) {
      best = counts[i];
      found = i;
    }
  }
  return found;
}

}  // namespace

namespace {

// Counts blocks first .. first + count - 1 of one component into the DC and AC counters.
void CountComponent(const CoefPlanes& planes, int component, size_t first, size_t count,
                    int32_t& previous_dc, SymbolCounts& dc, SymbolCounts& ac) {
  if (count == 0) return;
  const int16_t* in = planes.values[component].data() + planes.start[component][first];
  const uint64_t* masks = planes.nonzero[component].data() + first;
  for (size_t k = 0; k < count; ++k) {
    int32_t value = *in++;
    ++dc[MagnitudeSize(value - previous_dc)];
    previous_dc = value;
    // Only the nonzero ACs are stored; the gaps between them are the runs of zeros.
    uint64_t rest = masks[k] & ~uint64_t{1};
    int last = 0;
    while (rest != 0) {
      int z = __builtin_ctzll(rest);
      rest &= rest - 1;
      int run = z - last - 1;
      while (run > 15) {
        ++ac[0xF0];
        run -= 16;
      }
      ++ac[(run << 4) | AcSize(*in++)];
      last = z;
    }
    if (last < 63) ++ac[0x00];
  }
}

}  // namespace

void CountDcSymbols(const CoefPlanes& planes, int32_t table, SymbolCounts& counts) {
  int components[2];
  int n = ComponentsOf(table, components);
  SymbolCounts ignored = {};
  for (int i = 0; i < n; ++i) {
    int32_t previous = 0;
    CountComponent(planes, components[i], 0, planes.blocks(), previous, counts, ignored);
  }
}

void CountAcSymbols(const CoefPlanes& planes, int32_t table, SymbolCounts& counts) {
  int components[2];
  int n = ComponentsOf(table, components);
  SymbolCounts ignored = {};
  for (int i = 0; i < n; ++i) {
    int32_t previous = 0;
    CountComponent(planes, components[i], 0, planes.blocks(), previous, ignored, counts);
  }
}

void CountBlocks(SymbolStatistics& statistics, Component component, const CoefPlanes& planes,
                 size_t first, size_t count) {
  int table = component == kY ? 0 : 1;
  CountComponent(planes, component, first, count, statistics.previous_dc[component],
                 statistics.dc[table], statistics.ac[table]);
}

void BuildOptimalTable(SymbolCounts& counts, HuffTable& table) {
  // Up to 257 entries can chain into a code as long as 256 bits before the limiting.
  int32_t code_size[257] = {};
  int32_t chain[257];
  for (int i = 0; i <= 256; ++i) chain[i] = -1;
  counts[256] = 1;  // the reserved code point takes the all-ones code
  for (;;) {
    int c1 = SmallestCount(counts, -1);
    int c2 = c1 < 0 ? -1 : SmallestCount(counts, c1);
    if (c2 < 0) {
      if (c1 >= 0) counts[c1] = 0;
      break;
    }
    counts[c1] += counts[c2];
    counts[c2] = 0;
    ++code_size[c1];
    while (chain[c1] >= 0) {
      c1 = chain[c1];
      ++code_size[c1];
    }
    chain[c1] = c2;
    ++code_size[c2];
    while (chain[c2] >= 0) {
      c2 = chain[c2];
      ++code_size[c2];
    }
  }

  int32_t bits[258] = {};
  int largest = 0;
  for (int i = 0; i <= 256; ++i) {
    if (code_size[i] == 0) continue;
    ++bits[code_size[i]];
    if (code_size[i] > largest) largest = code_size[i];
  }

  std::memset(table.counts, 0, sizeof table.counts);
  table.symbol_count = 0;
  if (largest == 0) {  // no symbol at all: an empty table
    AssignCodes(table);
    return;
  }

  // Shorten codes longer than 16 bits: a pair of the longest goes one level up, and a
  // shorter code splits to take the freed place.
  for (int i = largest; i > 16; --i) {
    while (bits[i] > 0) {
      int j = i - 2;
      while (bits[j] == 0) --j;
      bits[i] -= 2;
      bits[i - 1] += 1;
      bits[j + 1] += 2;
      bits[j] -= 1;
    }
  }
  --bits[largest > 16 ? 16 : largest];

  int32_t p = 0;
  for (int size = 1; size <= largest; ++size) {
    for (int s = 0; s < 256; ++s) {
      if (code_size[s] == size) table.symbols[p++] = static_cast<uint8_t>(s);
    }
  }
  for (int i = 1; i <= 16; ++i) table.counts[i - 1] = static_cast<uint8_t>(bits[i]);
  table.symbol_count = p;
  AssignCodes(table);
}

void AssignCodes(HuffTable& table) {
  for (int s = 0; s < 256; ++s) {
    table.length_mark[s] = 0;
    table.code[s] = -1;
  }
  int32_t code = 0;
  uint32_t mark = 1;
  int32_t p = 0;
  for (int length = 1; length <= 16; ++length) {
    for (int i = 0; i < table.counts[length - 1] && p < 256; ++i) {
      uint8_t s = table.symbols[p++];
      table.length_mark[s] = mark;
      table.code[s] = code++;
    }
    code *= 2;
    mark *= 2;
  }
}

int64_t BuildHuffmanTables(SymbolStatistics& statistics, HuffTable tables[4]) {
  SymbolCounts kept;
  int64_t bits = 0;
  for (int32_t t = 0; t < 2; ++t) {
    HuffTable& dc = tables[t == 0 ? kDc0 : kDc1];
    HuffTable& ac = tables[t == 0 ? kAc0 : kAc1];

    std::memcpy(kept, statistics.dc[t], sizeof kept);
    BuildOptimalTable(statistics.dc[t], dc);
    for (int s = 0; s < 256; ++s) {
      if (kept[s] != 0) bits += kept[s] * (CodeLength(dc, s) + s);
    }

    std::memcpy(kept, statistics.ac[t], sizeof kept);
    BuildOptimalTable(statistics.ac[t], ac);
    for (int s = 0; s < 256; ++s) {
      if (kept[s] != 0) bits += kept[s] * (CodeLength(ac, s) + (s & 15));
    }
  }
  return (bits + 7) / 8;
}

int64_t BuildHuffmanTables(const CoefPlanes& planes, HuffTable tables[4]) {
  SymbolStatistics statistics;
  for (int32_t t = 0; t < 2; ++t) {
    CountDcSymbols(planes, t, statistics.dc[t]);
    CountAcSymbols(planes, t, statistics.ac[t]);
  }
  return BuildHuffmanTables(statistics, tables);
}

}  // namespace zqr::jpeg
