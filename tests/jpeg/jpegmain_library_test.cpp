// JPEGMAIN as another program reaches it: the writer loaded on its own from the build folder
// (libzqrjpeg.so, or zqrjpeg.dll on Windows) writes the same bytes as the linked one.
#if defined(_WIN32)
#include <windows.h>
#else
#include <dlfcn.h>
#endif
#include <gtest/gtest.h>

#include <string>

#include "jpeg/jpegmain.h"
#include "tests/jpeg/jpeg_test_util.h"
#include "tests/support/test_support.h"

namespace zqr::jpeg {
namespace {

using JpegmainFn = decltype(&JPEGMAIN);
using AllocFn = decltype(&ZqrSysAllocStringByteLen);
using FreeFn = decltype(&ZqrSysFreeString);

#if defined(_WIN32)
const char* const kLibraryName = "zqrjpeg.dll";
void* OpenLibrary(const std::string& path) {
  return LoadLibraryA(path.c_str());
}
void* Symbol(void* library, const char* name) {
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name));
}
#else
const char* const kLibraryName = "libzqrjpeg.so";
void* OpenLibrary(const std::string& path) {
  return dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
}
void* Symbol(void* library, const char* name) {
  return dlsym(library, name);
}
#endif

std::string WriteWith(JpegmainFn jpegmain, AllocFn alloc, FreeFn release, const std::string& path,
                      const std::vector<uint8_t>& dib, int32_t w, int32_t h, int32_t depth) {
  char* name = alloc(path.data(), static_cast<uint32_t>(path.size()));
  jpegmain(&name, dib.data(), w, h, depth, 85);
  release(name);
  return zqr::test::ReadFile(path);
}

TEST(JpegmainLibrary, WritesWhatTheLinkedWriterWrites) {
  void* library = OpenLibrary(zqr::test::BinDir() + "/" + kLibraryName);
  ASSERT_NE(library, nullptr) << kLibraryName;
  auto jpegmain = reinterpret_cast<JpegmainFn>(Symbol(library, "JPEGMAIN"));
  auto alloc = reinterpret_cast<AllocFn>(Symbol(library, "ZqrSysAllocStringByteLen"));
  auto release = reinterpret_cast<FreeFn>(Symbol(library, "ZqrSysFreeString"));
  ASSERT_TRUE(jpegmain != nullptr && alloc != nullptr && release != nullptr);

  zqr::test::ScratchDir dir;
  // An odd size, so that padded rows and partial blocks are part of the comparison.
  const test::RgbPicture picture = test::NaturalPicture(75, 41, 21);
  for (int32_t depth : {16, 24, 32}) {
    const std::vector<uint8_t> dib = test::ToDib(picture, depth);
    const std::string loaded =
        WriteWith(jpegmain, alloc, release, dir.File("loaded.jpg"), dib, 75, 41, depth);
    const std::string linked = WriteWith(&JPEGMAIN, &ZqrSysAllocStringByteLen, &ZqrSysFreeString,
                                         dir.File("linked.jpg"), dib, 75, 41, depth);
    ASSERT_GT(linked.size(), 100u) << depth;
    EXPECT_EQ(loaded, linked) << depth;
  }
}

#if defined(_WIN32)
// Programs written for the Windows original look for the entry in the executable itself.
TEST(JpegmainExecutable, ExportsJpegmain) {
  const std::string exe = zqr::test::BinDir() + "/zqrstereo.exe";
  HMODULE image = LoadLibraryExA(exe.c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
  ASSERT_NE(image, nullptr) << exe;
  EXPECT_NE(GetProcAddress(image, "JPEGMAIN"), nullptr);
  EXPECT_NE(GetProcAddress(image, "ZqrSysAllocStringByteLen"), nullptr);
  FreeLibrary(image);
}
#endif

}  // namespace
}  // namespace zqr::jpeg
