// Quality tables: scaling of the standard tables with half-to-even rounding, the quality
// rule, and the multipliers that fold the DCT scaling and the division together.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {
namespace {

TEST(QualityTables, Quality75LuminanceStartsAsTheWorkedExample) {
  QualityTables t;
  BuildQualityTables(75, t);
  const uint8_t expected[16] = {8, 6, 6, 8, 6, 6, 8, 8, 7, 8, 10, 9, 8, 10, 12, 20};
  for (int z = 0; z < 16; ++z) EXPECT_EQ(t.QuantTable[0][z], expected[z]) << "zigzag " << z;
}

TEST(QualityTables, Quality50RaisesOddValuesAndKeepsEvenOnes) {
  QualityTables t;
  BuildQualityTables(50, t);
  for (int z = 0; z < 64; ++z) {
    for (int table = 0; table < 2; ++table) {
      int base = table == 0 ? kLuminanceBase[z] : kChrominanceBase[z];
      EXPECT_EQ(t.QuantTable[table][z], base % 2 == 0 ? base : base + 1) << table << " " << z;
    }
  }
  EXPECT_EQ(t.QuantTable[0][0], 16);
  EXPECT_EQ(t.QuantTable[0][1], 12);  // base 11
}

TEST(QualityTables, Quality100IsAllOnes) {
  QualityTables t;
  BuildQualityTables(100, t);
  for (int z = 0; z < 64; ++z) {
    EXPECT_EQ(t.QuantTable[0][z], 1);
    EXPECT_EQ(t.QuantTable[1][z], 1);
  }
}

TEST(QualityTables, OutOfRangeQualityBehavesAs75) {
  QualityTables q75;
  BuildQualityTables(75, q75);
  for (int32_t quality : {0, 49, 101, -5, 1000}) {
    QualityTables t;
    BuildQualityTables(quality, t);
    EXPECT_EQ(t.quality, 75);
    EXPECT_EQ(std::memcmp(t.QuantTable, q75.QuantTable, sizeof t.QuantTable), 0) << quality;
    EXPECT_EQ(std::memcmp(t.QuantScale, q75.QuantScale, sizeof t.QuantScale), 0) << quality;
  }
  EXPECT_EQ(EffectiveQuality(50), 50);
  EXPECT_EQ(EffectiveQuality(100), 100);
}

TEST(QualityTables, EveryQualityRoundsHalvesToEvenWithinByteRange) {
  for (int32_t q = 50; q <= 100; ++q) {
    QualityTables t;
    BuildQualityTables(q, t);
    int32_t scale = 200 - 2 * q;
    for (int table = 0; table < 2; ++table) {
      for (int z = 0; z < 64; ++z) {
        int base = table == 0 ? kLuminanceBase[z] : kChrominanceBase[z];
        double exact = (base * scale + 50) / 100.0;
        double rounded = std::nearbyint(exact);  // the default mode rounds half to even
        rounded = std::min(255.0, std::max(1.0, rounded));
        EXPECT_EQ(t.QuantTable[table][z], static_cast<int>(rounded)) << q << " " << z;
      }
    }
  }
}

TEST(QualityTables, AanScalesMatchTheCosineFormula) {
  const double pi = std::acos(-1.0);
  for (int k = 0; k < 8; ++k) {
    double a = k == 0 ? 1.0 : std::sqrt(2.0) * std::cos(k * pi / 16);
    double f = 1.0 / (std::sqrt(8.0) * a);
    EXPECT_NEAR(static_cast<double>(AanScale(k)), f, f * 1e-7) << k;
  }
  // f(0) and f(4) are both 1 / sqrt(8).
  EXPECT_EQ(AanScale(0), AanScale(4));
}

TEST(QualityTables, QuantScaleFoldsBothScalesAndTheTableValue) {
  for (int32_t q : {50, 75, 90, 100}) {
    QualityTables t;
    BuildQualityTables(q, t);
    for (int table = 0; table < 2; ++table) {
      for (int z = 0; z < 64; ++z) {
        int n = kZigzagToNatural[z];
        double f = static_cast<double>(AanScale(n / 8)) * static_cast<double>(AanScale(n % 8));
        double expected = f / t.QuantTable[table][z];
        // Rounded once to single precision: within half a unit in the last place.
        EXPECT_NEAR(static_cast<double>(t.QuantScale[table][z]), expected, expected * 6e-8)
            << q << " " << table << " " << z;
      }
    }
  }
}

}  // namespace
}  // namespace zqr::jpeg
