// Quality tables: the standard's example quantisation tables scaled for the requested
// quality, and the per-coefficient multipliers that fold the AAN DCT's output scaling and
// the division by the table value into one single-precision factor.
#include <cmath>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

const uint8_t kLuminanceBase[64] = {16,  11, 12, 14,  12,  10,  16,  14,  13, 14,  18,  17,  16,
                                    19,  24, 40, 26,  24,  22,  22,  24,  49, 35,  37,  29,  40,
                                    58,  51, 61, 60,  57,  51,  56,  55,  64, 72,  92,  78,  64,
                                    68,  87, 69, 55,  56,  80,  109, 81,  87, 95,  98,  103, 104,
                                    103, 62, 77, 113, 121, 112, 100, 120, 92, 101, 103, 99};

const uint8_t kChrominanceBase[64] = {
    17, 18, 18, 24, 21, 24, 47, 26, 26, 47, 99, 66, 56, 66, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99,
    99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99, 99};

int32_t EffectiveQuality(int32_t quality) {
  return quality < 50 || quality > 100 ? 75 : quality;
}

float AanScale(int k) {
  const long double pi = 3.141592653589793238462643383279502884L;
  long double a = k == 0 ? 1.0L : std::sqrt(2.0L) * std::cos(static_cast<long double>(k) * pi / 16);
  return static_cast<float>(1.0L / (std::sqrt(8.0L) * a));
}

namespace {

// (base x scale + 50) / 100 to the nearest integer, a half going to the even neighbour,
// then clamped to the 8-bit table range.
uint8_t ScaledEntry(int32_t base, int32_t scale) {
  int32_t n = base * scale + 50;
  int32_t t = n / 100;
  int32_t rest = n % 100;
  if (rest > 50 || (rest == 50 && (t & 1) != 0)) ++t;
  if (t < 1) t = 1;
  if (t > 255) t = 255;
  return static_cast<uint8_t>(t);
}

}  // namespace

void BuildQualityTables(int32_t quality, QualityTables& tables) {
  tables.quality = EffectiveQuality(quality);
  int32_t scale = 200 - 2 * tables.quality;
  float f[8];
  for (int k = 0; k < 8; ++k) f[k] = AanScale(k);
  for (int table = 0; table < 2; ++table) {
    const uint8_t* base = table == 0 ? kLuminanceBase : kChrominanceBase;
    for (int z = 0; z < 64; ++z) {
      uint8_t t = ScaledEntry(base[z], scale);
      tables.QuantTable[table][z] = t;
      int natural = kZigzagToNatural[z];
      long double product =
          static_cast<long double>(f[natural / 8]) * static_cast<long double>(f[natural % 8]);
      tables.QuantScale[table][z] = static_cast<float>(product / t);
    }
  }
}

}  // namespace zqr::jpeg
