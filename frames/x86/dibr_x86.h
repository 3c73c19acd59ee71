// The depth renderer's vector passes (see RenderEyeRowWith in frames/dibr.cpp). SSE2 is the
// baseline; the AVX2 and AVX-512 ones run only after a check of the CPU.
#pragma once

#include <cstdint>

#include "frames/dibr.h"

namespace zqr::frames {

// Renders targets c, c + 1, .. of a surface several at a time, p being the pair whose span
// covers c (surface.pairs[c]). Returns the first target it left (at most surface.end), p
// then that target's pair; the caller takes that one alone and calls again.
int32_t Sse2SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p);
int32_t Avx2SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p);
int32_t Avx512SurfaceBlocks(const DibrSurface& surface, int32_t c, int32_t& p);

// The sets' span weights (see SpanWeightsKernel), as their blocks compute them.
void Sse2SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count);
void Avx2SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count);
void Avx512SpanWeights(const uint32_t* n, const int32_t* length, uint32_t* w, int32_t count);

// The other passes of a row in AVX-512 (F, VL, BW, VBMI): landing[x] = 256 x +
// shifts[depth[x]] and z[x] = -1 (uncovered) for x < width; the last pixel of the surface from
// `first` (the first whose pair with the next is a depth edge, else the row's last); surface.pairs
// from the pair `first` that covers the surface's first target on; the first uncovered target from
// x on, else width.
void Avx512StartRow(const uint8_t* depth, int32_t width, const int32_t* shifts, int32_t* landing,
                    int32_t* z);
int32_t Avx512SurfaceEnd(const int32_t* landing, int32_t first, int32_t width);
void Avx512Pairs(const DibrSurface& surface, int32_t first, int32_t* pairs);
int32_t Avx512NextUncovered(const int32_t* z, int32_t x, int32_t width);

}  // namespace zqr::frames
