// Colour conversion, forward DCT and quantisation, and the vector kernel proven
// bit-identical to the scalar one on random pictures of many widths.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>

#include "jpeg/jpeg_internal.h"
#include "tests/jpeg/jpeg_test_util.h"

namespace zqr::jpeg {
namespace {

using test::Lcg;

// One 8 x 8 block of blue, green, red pixels with the given colour everywhere.
std::vector<uint8_t> FlatBlock(uint8_t r, uint8_t g, uint8_t b) {
  std::vector<uint8_t> bgr(8 * 24 + 16);
  for (int i = 0; i < 64; ++i) {
    bgr[3 * i] = b;
    bgr[3 * i + 1] = g;
    bgr[3 * i + 2] = r;
  }
  return bgr;
}

TEST(ColourConversion, FlatColoursGiveTheExpectedSamples) {
  struct Case {
    uint8_t r, g, b;
  };
  for (Case c : {Case{255, 255, 255}, Case{0, 0, 0}, Case{255, 0, 0}, Case{10, 200, 30}}) {
    std::vector<uint8_t> bgr = FlatBlock(c.r, c.g, c.b);
    float block[64];
    for (int comp = 0; comp < 3; ++comp) {
      ConvertBlock(bgr.data(), 24, static_cast<Component>(comp), block);
      const double k[3][4] = {
          {0.299, 0.587, 0.114, -128}, {-0.16874, -0.33126, 0.5, 0}, {0.5, -0.41869, -0.08131, 0}};
      double want = k[comp][0] * c.r + k[comp][1] * c.g + k[comp][2] * c.b + k[comp][3];
      for (int i = 0; i < 64; ++i) {
        ASSERT_NEAR(static_cast<double>(block[i]), want, 1e-4) << comp << " " << i;
      }
    }
  }
}

TEST(ColourConversion, SumIsRoundedOnceToSinglePrecision) {
  // The exact sum with the single-precision coefficients, rounded once.
  Lcg lcg(3);
  std::vector<uint8_t> bgr(8 * 24 + 16);
  for (auto& byte : bgr) byte = static_cast<uint8_t>(lcg.Next());
  float block[64];
  ConvertBlock(bgr.data(), 24, kCr, block);
  for (int i = 0; i < 64; ++i) {
    const uint8_t* p = bgr.data() + 3 * i;
    long double exact = 0.5L * p[2] + static_cast<long double>(-0.41869f) * p[1] +
                        static_cast<long double>(-0.08131f) * p[0];
    EXPECT_EQ(block[i], static_cast<float>(exact)) << i;
  }
}

// The JPEG standard's DCT, in double precision.
double ReferenceDct(const float* s, int u, int v) {
  const double pi = std::acos(-1.0);
  double sum = 0;
  for (int y = 0; y < 8; ++y) {
    for (int x = 0; x < 8; ++x) {
      sum += static_cast<double>(s[y * 8 + x]) * std::cos((2 * x + 1) * u * pi / 16) *
             std::cos((2 * y + 1) * v * pi / 16);
    }
  }
  double cu = u == 0 ? 1 / std::sqrt(2.0) : 1, cv = v == 0 ? 1 / std::sqrt(2.0) : 1;
  return 0.25 * cu * cv * sum;
}

TEST(ForwardDct, ScaledOutputIsTheStandardTransform) {
  Lcg lcg(11);
  for (int trial = 0; trial < 20; ++trial) {
    float samples[64], block[64];
    for (int i = 0; i < 64; ++i) samples[i] = static_cast<float>(lcg.Range(-128, 127));
    std::memcpy(block, samples, sizeof block);
    ForwardDct(block);
    for (int r = 0; r < 8; ++r) {
      for (int c = 0; c < 8; ++c) {
        // r is the vertical frequency, c the horizontal one.
        double scaled = static_cast<double>(block[r * 8 + c]) * static_cast<double>(AanScale(r)) *
                        static_cast<double>(AanScale(c));
        ASSERT_NEAR(scaled, ReferenceDct(samples, c, r), 2e-3) << r << "," << c;
      }
    }
  }
}

TEST(ForwardDct, FlatBlockHasOnlyTheSumAsDc) {
  float block[64];
  for (float& s : block) s = -3.5f;
  ForwardDct(block);
  EXPECT_EQ(block[0], -3.5f * 64);
  for (int i = 1; i < 64; ++i) EXPECT_NEAR(static_cast<double>(block[i]), 0.0, 1e-4) << i;
}

// The IJG floating-point 1-D transform written out again, as the model for exactness.
void ModelDct8(float* v[8]) {
  float s07 = *v[0] + *v[7], d07 = *v[0] - *v[7];
  float s16 = *v[1] + *v[6], d16 = *v[1] - *v[6];
  float s25 = *v[2] + *v[5], d25 = *v[2] - *v[5];
  float s34 = *v[3] + *v[4], d34 = *v[3] - *v[4];
  float e0 = s07 + s34, e3 = s07 - s34, e1 = s16 + s25, e2 = s16 - s25;
  *v[0] = e0 + e1;
  *v[4] = e0 - e1;
  float m = (e2 + e3) * 0.707106781f;
  *v[2] = e3 + m;
  *v[6] = e3 - m;
  float o0 = d34 + d25, o1 = d25 + d16, o2 = d16 + d07;
  float z5 = (o0 - o2) * 0.382683433f;
  float z2 = 0.541196100f * o0 + z5;
  float z4 = 1.306562965f * o2 + z5;
  float z3 = o1 * 0.707106781f;
  float z11 = d07 + z3, z13 = d07 - z3;
  *v[5] = z13 + z2;
  *v[3] = z13 - z2;
  *v[1] = z11 + z4;
  *v[7] = z11 - z4;
}

void ModelDct(float* block, bool columns_first) {
  for (int pass = 0; pass < 2; ++pass) {
    bool columns = (pass == 0) == columns_first;
    for (int i = 0; i < 8; ++i) {
      float* v[8];
      for (int j = 0; j < 8; ++j) v[j] = columns ? &block[j * 8 + i] : &block[i * 8 + j];
      ModelDct8(v);
    }
  }
}

TEST(ForwardDct, RunsDownTheColumnsFirstInSinglePrecision) {
  Lcg lcg(5);
  int order_matters = 0;
  for (int trial = 0; trial < 300; ++trial) {
    float block[64], columns_first[64], rows_first[64];
    for (int i = 0; i < 64; ++i) {
      block[i] = static_cast<float>(lcg.Range(-128, 127)) * 0.999f;
    }
    std::memcpy(columns_first, block, sizeof block);
    std::memcpy(rows_first, block, sizeof block);
    ModelDct(columns_first, true);
    ModelDct(rows_first, false);
    ForwardDct(block);
    ASSERT_EQ(std::memcmp(block, columns_first, sizeof block), 0) << "trial " << trial;
    order_matters += std::memcmp(block, rows_first, sizeof block) != 0;
  }
  // The inputs are rich enough to tell the two orders apart.
  EXPECT_GT(order_matters, 0);
}

TEST(Quantise, RoundsHalfToEvenAndStoresInZigzagOrder) {
  float dct[64] = {};
  float scale[64];
  for (float& s : scale) s = 0.5f;
  dct[0] = 5;            // 2.5 -> 2
  dct[1] = 7;            // (0,1) is zigzag 1: 3.5 -> 4
  dct[8] = -5;           // (1,0) is zigzag 2: -2.5 -> -2
  dct[16] = -7;          // (2,0) is zigzag 3: -3.5 -> -4
  dct[63] = 3.0000002f;  // just above 1.5 -> 2
  int32_t out[64];
  QuantiseBlock(dct, scale, out);
  EXPECT_EQ(out[0], 2);
  EXPECT_EQ(out[1], 4);
  EXPECT_EQ(out[2], -2);
  EXPECT_EQ(out[3], -4);
  EXPECT_EQ(out[63], 2);
  for (int z = 4; z < 63; ++z) EXPECT_EQ(out[z], 0);
}

TEST(Quantise, ProductIsFormedInMoreThanSinglePrecision) {
  // 0.5000000298 x 5 = 2.500000149: single precision would round the product to 2.5 and
  // then to 2; the exact product rounds to 3.
  float dct[64] = {};
  float scale[64];
  for (float& s : scale) s = std::nextafter(0.5f, 1.0f);
  dct[0] = 5;
  int32_t out[64];
  QuantiseBlock(dct, scale, out);
  EXPECT_EQ(out[0], 3);
}

TEST(NonzeroMasks, MarkExactlyTheNonzeroCoefficients) {
  int32_t block[64] = {};
  EXPECT_EQ(NonzeroMask(block), 0u);
  block[0] = -1;
  block[17] = 3;
  block[63] = 1;
  EXPECT_EQ(NonzeroMask(block), (uint64_t{1} << 0) | (uint64_t{1} << 17) | (uint64_t{1} << 63));
}

// A random picture with the given block width; also bands of extremes.
WorkPicture RandomWorkPicture(int32_t blocks_across, int32_t blocks_down, uint32_t seed) {
  WorkPicture w;
  w.width8 = blocks_across * 8;
  w.height8 = blocks_down * 8;
  w.width = w.width8;
  w.height = w.height8;
  w.stride = static_cast<size_t>(w.width8) * 3;
  w.bgr.Allocate(w.stride * static_cast<size_t>(w.height8) + 16, true);
  Lcg lcg(seed);
  for (size_t i = 0; i < w.stride * static_cast<size_t>(w.height8); ++i) {
    uint32_t mode = static_cast<uint32_t>(i / 200) % 4;
    w.bgr[i] = mode == 0 ? 255 : mode == 1 ? 0 : static_cast<uint8_t>(lcg.Next());
  }
  return w;
}

TEST(TransformKernels, VectorKernelMatchesScalarBitForBit) {
  if (!KernelAvailable(Kernel::kAvx2)) GTEST_SKIP() << "no AVX2 on this processor";
  for (int32_t across : {1, 2, 3, 5, 9, 17}) {
    for (int32_t q : {50, 75, 100}) {
      WorkPicture w = RandomWorkPicture(across, 3, static_cast<uint32_t>(across * 100 + q));
      QualityTables tables;
      BuildQualityTables(q, tables);
      CoefPlanes scalar, vector;
      ASSERT_TRUE(scalar.Allocate(across, 3));
      ASSERT_TRUE(vector.Allocate(across, 3));
      TransformPicture(w, tables, scalar, Kernel::kScalar);
      TransformPicture(w, tables, vector, Kernel::kAvx2);
      for (int c = 0; c < 3; ++c) {
        ASSERT_EQ(scalar.used[c], vector.used[c]) << "component " << c;
        ASSERT_EQ(std::memcmp(scalar.values[c].data(), vector.values[c].data(),
                              scalar.used[c] * sizeof(int16_t)),
                  0)
            << "component " << c << ", " << across << " blocks across, quality " << q;
        ASSERT_EQ(std::memcmp(scalar.nonzero[c].data(), vector.nonzero[c].data(),
                              scalar.blocks() * sizeof(uint64_t)),
                  0);
        ASSERT_EQ(std::memcmp(scalar.start[c].data(), vector.start[c].data(),
                              scalar.blocks() * sizeof(uint32_t)),
                  0);
        for (size_t k = 0; k < scalar.blocks(); ++k) {
          int32_t block[64];
          scalar.GetBlock(c, k, block);
          ASSERT_EQ(scalar.nonzero[c][k], NonzeroMask(block));
        }
      }
    }
  }
}

TEST(TransformKernels, WholeFilesMatchAcrossKernels) {
  if (!KernelAvailable(Kernel::kAvx2)) GTEST_SKIP() << "no AVX2 on this processor";
  for (auto [w, h] : {std::pair{67, 45}, {1, 1}, {9, 17}, {33, 8}}) {
    test::RgbPicture p = test::NaturalPicture(w, h, 77);
    std::vector<uint8_t> dib = test::ToDib(p, 24);
    OutputBuffer a, b;
    ASSERT_TRUE(EncodeJpegWith(dib.data(), w, h, 24, 80, Kernel::kScalar, a));
    ASSERT_TRUE(EncodeJpegWith(dib.data(), w, h, 24, 80, Kernel::kAvx2, b));
    ASSERT_EQ(a.size(), b.size());
    EXPECT_EQ(std::memcmp(a.data(), b.data(), a.size()), 0) << w << "x" << h;
  }
}

TEST(TransformKernels, ForcingScalarIsHonoured) {
  const char* force = std::getenv("ZQR_FORCE_SCALAR");
  if (force != nullptr && force[0] == '1') {
    EXPECT_EQ(SelectKernel(), Kernel::kScalar);
  } else {
    EXPECT_EQ(SelectKernel(), KernelAvailable(Kernel::kAvx2) ? Kernel::kAvx2 : Kernel::kScalar);
  }
}

}  // namespace
}  // namespace zqr::jpeg
