// The colour anaglyphs' plain kernels and Dubois's tables, which are worked out by the
// compiler so that nothing is set up at run time. Dubois is integer arithmetic but for the
// conversion of each sum to a float, which the vector kernels repeat exactly.
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

constexpr int64_t Round(double v) {
  return v >= 0 ? static_cast<int64_t>(v + 0.5) : -static_cast<int64_t>(-v + 0.5);
}

// Linear light 1 in the units of kSrgbToLinear, which sets the coefficients' unit too
// (kDuboisOne / kLinearScale). Of the scales that keep both within 16 bits, one with a small
// worst case in the bound of layouts_test.cpp over every input: 0.75 of a byte.
constexpr double kLinearScale = 24000.0;

constexpr std::array<int16_t, 256> MakeDecodeTable() {
  std::array<int16_t, 256> table{};
  for (int32_t v = 0; v < 256; ++v) {
    table[static_cast<size_t>(v)] =
        static_cast<int16_t>(Round(SrgbDecode(v / 255.0) * kLinearScale));
  }
  return table;
}

constexpr std::array<std::array<int16_t, 6>, 3> MakeDuboisWords() {
  std::array<std::array<int16_t, 6>, 3> words{};
  for (size_t row = 0; row < 3; ++row) {
    for (size_t column = 0; column < 6; ++column) {
      words[row][column] =
          static_cast<int16_t>(Round(static_cast<double>(kDuboisMatrix[row][column]) / kDuboisUnit *
                                     kDuboisOne / kLinearScale));
    }
  }
  return words;
}

// 255 x the sRGB encoding of a biased sum's float, clipped to linear 0 .. 1.
constexpr double EncodedByte(double x) {
  const double linear = std::min(std::max((x - kDuboisBias) / kDuboisOne, 0.0), 1.0);
  return 255.0 * (linear <= 0.0031308 ? 12.92 * linear : 1.055 * Pow(linear, 1 / 2.4) - 0.055);
}

// Each piece follows the encoding's minimax straight line over the piece (the encoding is
// concave, so that is its chord raised by half the largest gap), taken at the middle of
// each step.
constexpr std::array<uint32_t, kDuboisPieces> MakeEncodePieces() {
  std::array<uint32_t, kDuboisPieces> pieces{};
  auto entry = [](double rise, double start) {
    const auto low = static_cast<uint32_t>(Round(rise * 65536.0));
    const auto high = static_cast<uint32_t>(Round((start + 0.5) * 128.0));
    return low | high << 16;
  };
  // The bits above the piece number of kDuboisBias's float: the first octave's first piece.
  constexpr int32_t kFirst = ((127 + 22) << 2) & (kDuboisPieces - 1);
  for (int32_t octave = 0; octave < 8; ++octave) {
    for (int32_t quarter = 0; quarter < 4; ++quarter) {
      const auto s = static_cast<size_t>((kFirst + 4 * octave + quarter) & (kDuboisPieces - 1));
      if (octave == 7) {
        pieces[s] = entry(0.0, 255.0);
        continue;
      }
      const double width = static_cast<double>(int64_t{1} << (20 + octave));
      const double x0 =
          static_cast<double>(kDuboisBias) * static_cast<double>(int64_t{1} << octave) +
          quarter * width;
      const double x1 = x0 + width;
      const double chord = (EncodedByte(x1) - EncodedByte(x0)) / width;
      auto gap = [&](double x) { return EncodedByte(x) - EncodedByte(x0) - chord * (x - x0); };
      double lo = x0, hi = x1;
      for (int32_t step = 0; step < 100; ++step) {
        const double a = lo + (hi - lo) / 3, b = hi - (hi - lo) / 3;
        if (gap(a) < gap(b)) {
          lo = a;
        } else {
          hi = b;
        }
      }
      const double rise = chord * width / kDuboisSteps;
      pieces[s] = entry(rise, EncodedByte(x0) + gap((lo + hi) / 2) / 2 + rise / 2);
    }
  }
  return pieces;
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

constexpr std::array<int16_t, 256> kSrgbToLinear = MakeDecodeTable();
constexpr std::array<std::array<int16_t, 6>, 3> kDuboisWords = MakeDuboisWords();
constexpr std::array<uint32_t, kDuboisPieces> kLinearToSrgb = MakeEncodePieces();

void DuboisScalar(const uint32_t* left, const uint32_t* right, uint32_t* out, int64_t count) {
  for (int64_t i = 0; i < count; ++i) {
    // Red, green, blue of the left view, then of the right view.
    const int32_t in[6] = {kSrgbToLinear[Byte(left[i], 16)], kSrgbToLinear[Byte(left[i], 8)],
                           kSrgbToLinear[Byte(left[i], 0)],  kSrgbToLinear[Byte(right[i], 16)],
                           kSrgbToLinear[Byte(right[i], 8)], kSrgbToLinear[Byte(right[i], 0)]};
    uint32_t pixel = left[i] & 0xFF000000u;
    for (size_t row = 0; row < 3; ++row) {
      int32_t sum = kDuboisBias;
      for (size_t column = 0; column < 6; ++column) sum += kDuboisWords[row][column] * in[column];
      pixel |= DuboisEncode(sum) << (16 - 8 * row);
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
