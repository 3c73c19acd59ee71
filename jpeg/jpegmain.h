// JPEGMAIN, the exported baseline JPEG writer, and the helpers that make the length-prefixed
// byte string its first argument points at. These are plain C symbols, exported from the
// zqrstereo executable and from libzqrjpeg.so (zqrjpeg.dll on Windows).
#pragma once

#include <stdint.h>

// Relative, so that the installed copy (include/zqrstereo/jpeg/) finds its installed
// neighbour (include/zqrstereo/platform/) as the source tree's does.
#include "../platform/export.h"

#ifdef __cplusplus
extern "C" {
#endif

#define ZQR_JPEG_EXPORT ZQR_EXPORT

// Compresses a bottom-up pixel array (rows padded to 4 bytes) into a baseline JFIF file with
// Huffman tables optimised for the picture.
//   file_name       address of a variable holding a string from ZqrSysAllocStringByteLen:
//                   the output path, bytes of the system's code page
//   pixels          first byte of the pixel array
//   width, height   1..65535 pixels
//   bits_per_pixel  32 (blue, green, red, unused), 24 (blue, green, red), 16 (5-5-5 with
//                   blue in the low bits), or 0 meaning 32
//   quality         50..100; any other value is taken as 75
// The result is always 0. No file is written when the depth is not one of the above, a
// size is outside 1..65535, the name is missing, empty or holds a zero byte, memory runs
// out, or the file cannot be created; a file whose writing fails part way is removed.
ZQR_JPEG_EXPORT int32_t JPEGMAIN(char* const* file_name, const uint8_t* pixels, int32_t width,
                                 int32_t height, int32_t bits_per_pixel, int32_t quality);

// A length-prefixed byte string as the OLE string allocator lays it out: a 32-bit byte
// count, the bytes, then a zero byte. The returned address is that of the first byte (the
// count sits just before it); NULL when memory runs out. `bytes` may be NULL for a string
// of `length` zero bytes.
ZQR_JPEG_EXPORT char* ZqrSysAllocStringByteLen(const char* bytes, uint32_t length);

// Byte count of such a string; 0 for NULL.
ZQR_JPEG_EXPORT uint32_t ZqrSysStringByteLen(const char* string);

// Releases a string from ZqrSysAllocStringByteLen; NULL is ignored.
ZQR_JPEG_EXPORT void ZqrSysFreeString(char* string);

#ifdef __cplusplus
}
#endif
