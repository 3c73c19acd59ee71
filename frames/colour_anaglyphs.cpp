// The colour anaglyphs' plain kernels and the sRGB tables, which are worked out by the
// compiler so that nothing is set up at run time. The Dubois sums are single-precision
// products added in a fixed order, which the vector kernels repeat exactly.
#include "frames/colour_anaglyphs.h"

#include <algorithm>

namespace zqr::frames {

namespace {

constexpr double kLn2 = 0.69314718055994530942;

constexpr double Exp(double x) {
  const int32_t k = static_cast<int32_t>(x / kLn2 + (x >= 0 ? 0.5 : -0.5));
  const double r = x - k * kLn2;
  double term = 1.0;
  double sum = 1.0;
  for (int32_t n = 1; n < 30; ++n) {
    term *= r / n;
    sum += term;
  }
  for (int32_t e = k; e > 0; --e) sum *= 2.0;
  for (int32_t e = k; e < 0; ++e) sum /= 2.0;
  return sum;
}

// x > 0: x = m 2^e with m in [0.5, 1), and log m = 2 atanh((m - 1) / (m + 1)).
constexpr double Log(double x) {
  int32_t e = 0;
  while (x >= 1.0) {
    x /= 2.0;
    ++e;
  }
  while (x < 0.5) {
    x *= 2.0;
    --e;
  }
  const double z = (x - 1.0) / (x + 1.0);
  double power = z;
  double sum = 0.0;
  for (int32_t n = 1; n < 80; n += 2) {
    sum += power / n;
    power *= z * z;
  }
  return 2.0 * sum + e * kLn2;
}

constexpr double Pow(double x, double y) {
  return x <= 0.0 ? 0.0 : Exp(y * Log(x));
}

// The sRGB transfer function, encoded value (0..1) to linear light.
constexpr double SrgbDecode(double e) {
  return e <= 0.04045 ? e / 12.92 : Pow((e + 0.055) / 1.055, 2.4);
}

constexpr std::array<float, 256> MakeDecodeTable() {
  std::array<float, 256> table{};
  for (int32_t v = 0; v < 256; ++v) table[v] = static_cast<float>(SrgbDecode(v / 255.0));
  return table;
}

// Entry j is the byte nearest the encoding of j / kLinearSteps: the number of bytes
// k = 1..255 whose lower rounding bound, decoded, is at most that linear value.
constexpr std::array<uint8_t, kLinearSteps + 4> MakeEncodeTable() {
  std::array<double, 256> bound{};
  for (int32_t k = 1; k < 256; ++k) bound[k] = SrgbDecode((k - 0.5) / 255.0);
  std::array<uint8_t, kLinearSteps + 4> table{};
  int32_t byte = 0;
  for (int32_t j = 0; j <= kLinearSteps; ++j) {
    const double linear = static_cast<double>(j) / kLinearSteps;
    while (byte < 255 && bound[byte + 1] <= linear) ++byte;
    table[j] = static_cast<uint8_t>(byte);
  }
  return table;
}

uint32_t Byte(uint32_t pixel, int32_t shift) {
  return (pixel >> shift) & 0xFFu;
}

uint32_t Luma(uint32_t pixel) {
  return (kFullLumaR * Byte(pixel, 16) + kFullLumaG * Byte(pixel, 8) + kFullLumaB * Byte(pixel, 0) +
          (1u << (kFullLumaShift - 1))) >>
         kFullLumaShift;
}

}  // namespace

constexpr std::array<float, 256> kSrgbToLinear = MakeDecodeTable();
constexpr std::array<uint8_t, kLinearSteps + 4> kLinearToSrgb = MakeEncodeTable();

void DuboisScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    // Red, green, blue of the left view, then of the right view.
    const float in[6] = {kSrgbToLinear[Byte(left[i], 16)], kSrgbToLinear[Byte(left[i], 8)],
                         kSrgbToLinear[Byte(left[i], 0)],  kSrgbToLinear[Byte(right[i], 16)],
                         kSrgbToLinear[Byte(right[i], 8)], kSrgbToLinear[Byte(right[i], 0)]};
    uint32_t pixel = left[i] & 0xFF000000u;
    for (int32_t row = 0; row < 3; ++row) {
      float sum = DuboisCoefficient(row, 0) * in[0];
      for (int32_t column = 1; column < 6; ++column)
        sum += DuboisCoefficient(row, column) * in[column];
      const float clipped = std::min(std::max(sum, 0.0f), 1.0f);
      const auto step = static_cast<int32_t>(clipped * static_cast<float>(kLinearSteps) + 0.5f);
      pixel |= uint32_t{kLinearToSrgb[static_cast<size_t>(step)]} << (16 - 8 * row);
    }
    out[i] = pixel;
  }
}

void HalfColourScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    out[i] = (left[i] & 0xFF000000u) | (Luma(left[i]) << 16) | (right[i] & 0x0000FFFFu);
  }
}

void GreyScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    const uint32_t cyan = Luma(right[i]);
    out[i] = (left[i] & 0xFF000000u) | (Luma(left[i]) << 16) | (cyan << 8) | cyan;
  }
}

}  // namespace zqr::frames
