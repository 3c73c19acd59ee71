// The libFuzzer entry of one target, chosen at build time by ZQR_FUZZ_ENTRY.
#include "tests/fuzz/fuzz_targets.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  return zqr::fuzz::ZQR_FUZZ_ENTRY(data, size);
}
