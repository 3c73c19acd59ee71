// Vector kernels for x86.
//
// Why hand-written x86 intrinsics and not a portable layer such as Google Highway: the
// product runs on x86-64 desktops, where SSE2 is always present and AVX2 nearly always;
// the kernels are few and short, their hard part (the serial chain of the smoothing pass)
// is about instruction latency, which is easier to control with the instructions in
// view; and the build needs no further library. An ARM port would add a neon/ folder
// beside this one with its own init, the plain kernels staying the reference for both.
//
// The SSE2 kernels are the baseline; the AVX2 ones replace them after a run-time check of
// the CPU. Every kernel gives exactly the bytes of its plain twin.
#pragma once

#include <immintrin.h>

#include <cstdint>
#include <vector>

#include "frames/kernels.h"

namespace zqr::frames {

// What this CPU runs: AVX2, and the AVX-512 features the AVX-512 files are built for.
bool HasAvx2();
bool HasAvx512Vbmi();

// Replaces the entries of `kernels` by the best vector kernels this CPU can run.
void InstallX86Kernels(FrameKernels& kernels);
// Appends each vector kernel set this CPU can run, baseline first.
void AppendX86KernelSets(std::vector<FrameKernels>& sets);

// The kernel sets themselves (kernels_sse2.cpp, kernels_avx2.cpp).
FrameKernels Sse2Kernels();
FrameKernels Avx2Kernels();
// The output-layout kernels of the SSE2 and AVX2 sets (layouts_sse2.cpp, layouts_avx2.cpp).
LayoutKernels Sse2LayoutKernels();
LayoutKernels Avx2LayoutKernels();
// The AVX2 set's stereo and sharpen kernels by name, for what the AVX-512 set leaves to them.
void Avx2StereoRange(const StereoPassArgs& args, int64_t range_begin, int64_t range_end);
void Avx2SharpenRange(const uint32_t* src, uint32_t* dst, int32_t width, int64_t begin, int64_t end,
                      int32_t amount, int32_t radius);
// AVX2 plus AVX-512 F, VL, BW, VBMI and VNNI (kernels_avx512.cpp), and its output-layout
// kernels (layouts_avx512.cpp).
FrameKernels Avx512Kernels();
LayoutKernels Avx512LayoutKernels();

// Completes stores past the cache (every set's stream_fence).
void StreamFence();

// Unaligned loads and stores of pixels: 128 bits, and 256 bits in the files built for AVX2.
// Each kernel file takes the width it works in with a using-declaration.
namespace xmm {
inline __m128i Load(const uint32_t* p) {
  return _mm_loadu_si128(reinterpret_cast<const __m128i*>(p));
}
inline void Store(uint32_t* p, __m128i v) {
  _mm_storeu_si128(reinterpret_cast<__m128i*>(p), v);
}
}  // namespace xmm
#ifdef __AVX2__
namespace ymm {
inline __m256i Load(const uint32_t* p) {
  return _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p));
}
inline void Store(uint32_t* p, __m256i v) {
  _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), v);
}
}  // namespace ymm
#endif

// How far ahead (in pixels) the kernels that stream a frame through memory ask for its
// lines: the delivered picture and the WorkFrame in the first smoothing pass, the
// sharpened frame in the sharpen pass (a store to a line not in the cache waits for the
// line) and the previous frame in the stereo merge. With several frames streaming at once
// the hardware prefetchers leave these accesses waiting on memory; at 1920x1080 the hints
// take a sixth off the whole step (bench/frames_step). A hint never faults, past the end
// of a frame included.
inline constexpr int64_t kPrefetchPixels = 1024;
inline void PrefetchPixels(const uint32_t* p) {
  _mm_prefetch(reinterpret_cast<const char*>(p + kPrefetchPixels), _MM_HINT_T0);
}

// Where a loaded vector feeds both an unpacklo and an unpackhi, the compiler folds the load
// into both instructions and so loads it twice; in the smoothing and sharpen kernels that
// costs 3 to 6 %. An empty asm statement that claims to change the registers makes each
// vector one load, kept in its register.
template <typename... V>
inline void KeepLoaded(V&... v) {
  (..., [](auto& one) { __asm__("" : "+v"(one)); }(v));
}

// Frames narrower than this go to the plain kernels: the vector smoothing pass needs its
// blocks to end before the pixel above the next block.
inline constexpr int32_t kMinVectorWidth = 17;

}  // namespace zqr::frames
