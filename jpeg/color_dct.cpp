// Colour conversion, forward DCT and quantisation: each 8 x 8 block of the working picture
// becomes three blocks of quantised coefficients (Y, Cb, Cr) in zigzag order. This file
// holds the scalar reference kernels and the picture loop; color_dct_avx2.cpp holds the
// vector twin, which must produce the same bits.
#include <cmath>
#include <cstdlib>

#include "jpeg/jpeg_internal.h"

namespace zqr::jpeg {

const float kColourCoefficients[3][4] = {
    {0.299f, 0.587f, 0.114f, -128.0f},
    {-0.16874f, -0.33126f, 0.5f, 0.0f},
    {0.5f, -0.41869f, -0.08131f, 0.0f},
};

namespace {

// One 8-point AAN forward DCT (the Independent JPEG Group's floating-point form, output
// unscaled) over d[0], d[step], ..., d[7 x step]. Every intermediate is a float, and the
// file is built without contraction, so each product and sum rounds on its own.
inline void Dct8(float* d, int step) {
  float tmp0 = d[0 * step] + d[7 * step];
  float tmp7 = d[0 * step] - d[7 * step];
  float tmp1 = d[1 * step] + d[6 * step];
  float tmp6 = d[1 * step] - d[6 * step];
  float tmp2 = d[2 * step] + d[5 * step];
  float tmp5 = d[2 * step] - d[5 * step];
  float tmp3 = d[3 * step] + d[4 * step];
  float tmp4 = d[3 * step] - d[4 * step];

  float tmp10 = tmp0 + tmp3;
  float tmp13 = tmp0 - tmp3;
  float tmp11 = tmp1 + tmp2;
  float tmp12 = tmp1 - tmp2;

  d[0 * step] = tmp10 + tmp11;
  d[4 * step] = tmp10 - tmp11;

  float z1 = (tmp12 + tmp13) * 0.707106781f;
  d[2 * step] = tmp13 + z1;
  d[6 * step] = tmp13 - z1;

  tmp10 = tmp4 + tmp5;
  tmp11 = tmp5 + tmp6;
  tmp12 = tmp6 + tmp7;

  float z5 = (tmp10 - tmp12) * 0.382683433f;
  float z2 = 0.541196100f * tmp10 + z5;
  float z4 = 1.306562965f * tmp12 + z5;
  float z3 = tmp11 * 0.707106781f;

  float z11 = tmp7 + z3;
  float z13 = tmp7 - z3;

  d[5 * step] = z13 + z2;
  d[3 * step] = z13 - z2;
  d[1 * step] = z11 + z4;
  d[7 * step] = z11 - z4;
}

}  // namespace

bool CoefPlanes::Allocate(int32_t blocks_across, int32_t blocks_down) {
  bw = blocks_across;
  bh = blocks_down;
  Rewind();
  for (int c = 0; c < 3; ++c) {
    // Only the pages the packed values reach are ever touched.
    if (!values[c].Allocate(blocks() * 64, false) || !nonzero[c].Allocate(blocks(), false) ||
        !start[c].Allocate(blocks(), false)) {
      return false;
    }
  }
  return true;
}

void CoefPlanes::Rewind() {
  for (int c = 0; c < 3; ++c) used[c] = appended[c] = 0;
}

namespace {

inline int16_t Saturate16(int32_t v) {
  return static_cast<int16_t>(v > 32767 ? 32767 : v < -32768 ? -32768 : v);
}

}  // namespace

void CoefPlanes::AppendBlock(int component, const int32_t* zigzag) {
  int16_t short_block[64];
  for (int z = 0; z < 64; ++z) short_block[z] = Saturate16(zigzag[z]);
  uint64_t mask = 0;
  for (int z = 0; z < 64; ++z) mask |= static_cast<uint64_t>(short_block[z] != 0) << z;
  size_t k = appended[component]++;
  int16_t* out = values[component].data();
  size_t p = used[component];
  start[component][k] = static_cast<uint32_t>(p);
  nonzero[component][k] = mask;
  out[p++] = short_block[0];
  for (int z = 1; z < 64; ++z) {
    if (short_block[z] != 0) out[p++] = short_block[z];
  }
  used[component] = p;
}

void CoefPlanes::GetBlock(int component, size_t k, int32_t* zigzag) const {
  const int16_t* in = values[component].data() + start[component][k];
  uint64_t mask = nonzero[component][k];
  zigzag[0] = *in++;
  for (int z = 1; z < 64; ++z) zigzag[z] = (mask >> z) & 1 ? *in++ : 0;
}

bool PackPlanes(int32_t blocks_across, int32_t blocks_down, const int32_t* const full[3],
                CoefPlanes& planes) {
  if (!planes.Allocate(blocks_across, blocks_down)) return false;
  for (int c = 0; c < 3; ++c) {
    for (size_t k = 0; k < planes.blocks(); ++k) planes.AppendBlock(c, full[c] + 64 * k);
  }
  return true;
}

uint64_t NonzeroMask(const int32_t* block) {
  uint64_t mask = 0;
  for (int z = 0; z < 64; ++z) {
    if (block[z] != 0) mask |= uint64_t{1} << z;
  }
  return mask;
}

void ConvertBlock(const uint8_t* bgr, size_t stride, Component component, float* block) {
  const float* k = kColourCoefficients[component];
  for (int y = 0; y < 8; ++y) {
    const uint8_t* p = bgr + static_cast<size_t>(y) * stride;
    for (int x = 0; x < 8; ++x, p += 3) {
      // Each product of a float and a byte, and their sum, is exact in double precision
      // (at most 36 significant bits), so this equals the extended-precision sum rounded
      // once to single precision.
      double sum = static_cast<double>(k[0]) * p[2] + static_cast<double>(k[1]) * p[1] +
                   static_cast<double>(k[2]) * p[0] + static_cast<double>(k[3]);
      block[y * 8 + x] = static_cast<float>(sum);
    }
  }
}

void ForwardDct(float* block) {
  for (int c = 0; c < 8; ++c) Dct8(block + c, 8);
  for (int r = 0; r < 8; ++r) Dct8(block + 8 * r, 1);
}

void QuantiseBlock(const float* dct, const float* quant_scale, int32_t* zigzag_out) {
  for (int z = 0; z < 64; ++z) {
    // The product of two floats is exact in double precision; lrint rounds half to even.
    double product =
        static_cast<double>(dct[kZigzagToNatural[z]]) * static_cast<double>(quant_scale[z]);
    zigzag_out[z] = static_cast<int32_t>(std::lrint(product));
  }
}

void TransformBlockRowScalar(const uint8_t* bgr, size_t stride, int32_t blocks,
                             const QualityTables& tables, CoefPlanes& planes) {
  float block[64];
  int32_t coefs[64];
  for (int32_t b = 0; b < blocks; ++b) {
    for (int c = 0; c < 3; ++c) {
      ConvertBlock(bgr + static_cast<size_t>(b) * 24, stride, static_cast<Component>(c), block);
      ForwardDct(block);
      QuantiseBlock(block, tables.QuantScale[c == kY ? 0 : 1], coefs);
      planes.AppendBlock(c, coefs);
    }
  }
}

#if !defined(__x86_64__) && !defined(__i386__)
void TransformBlockRowAvx2(const uint8_t* bgr, size_t stride, int32_t blocks,
                           const QualityTables& tables, CoefPlanes& planes) {
  TransformBlockRowScalar(bgr, stride, blocks, tables, planes);
}
#endif

bool KernelAvailable(Kernel kernel) {
  if (kernel == Kernel::kScalar) return true;
#if defined(__x86_64__) || defined(__i386__)
  return __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
#else
  return false;
#endif
}

Kernel SelectKernel() {
  const char* force = std::getenv("ZQR_FORCE_SCALAR");
  if (force != nullptr && force[0] == '1') return Kernel::kScalar;
  return KernelAvailable(Kernel::kAvx2) ? Kernel::kAvx2 : Kernel::kScalar;
}

void TransformPicture(const WorkPicture& picture, const QualityTables& tables, CoefPlanes& planes,
                      Kernel kernel) {
  if (!KernelAvailable(kernel)) kernel = Kernel::kScalar;
  auto row_kernel = kernel == Kernel::kAvx2 ? TransformBlockRowAvx2 : TransformBlockRowScalar;
  planes.Rewind();
  for (int32_t row = 0; row < planes.bh; ++row) {
    const uint8_t* bgr = picture.bgr.data() + static_cast<size_t>(row) * 8 * picture.stride;
    row_kernel(bgr, picture.stride, planes.bw, tables, planes);
  }
}

}  // namespace zqr::jpeg
