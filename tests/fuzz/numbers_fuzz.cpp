// Number parsing and formatting on any text and any double: no undefined behaviour (the
// suite runs under UBSan), rounding lands within half a unit or saturates, and the masks
// write back the rounded value.
#include <cmath>
#include <cstring>
#include <limits>
#include <string>
#include <string_view>

#include "core/numbers.h"
#include "tests/fuzz/fuzz_targets.h"

namespace zqr::fuzz {

namespace {

void CheckValue(double value) {
  const int64_t rounded = RoundHalfEven64(value);
  if (std::isfinite(value) && std::fabs(value) < 9.0e18) {
    ZQR_FUZZ_CHECK(std::fabs(static_cast<double>(rounded) - value) <= 0.5);
    ZQR_FUZZ_CHECK(std::stoll(FormatMask00(value)) == rounded);
  }
  if (std::isinf(value)) {
    ZQR_FUZZ_CHECK(rounded == (value > 0 ? std::numeric_limits<int64_t>::max()
                                         : std::numeric_limits<int64_t>::min()));
  }
  const int32_t rounded32 = RoundHalfEven32(value);
  if (rounded >= INT32_MIN && rounded <= INT32_MAX) ZQR_FUZZ_CHECK(rounded32 == rounded);
  ZQR_FUZZ_CHECK(!NumberText(value).empty());
  ZQR_FUZZ_CHECK(FormatMask0000(value).find('.') != std::string::npos);
  ZQR_FUZZ_CHECK(FormatHms(value).size() >= 8);
  FormatHms(rounded32);
}

}  // namespace

int Numbers(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  CheckValue(LeadingNumber(text));
  if (size >= sizeof(double)) {
    double raw = 0;
    std::memcpy(&raw, data, sizeof raw);
    CheckValue(raw);
  }
  if (size >= sizeof(uint64_t)) {
    uint64_t bytes = 0;
    std::memcpy(&bytes, data, sizeof bytes);
    const std::string grouped = FormatByteGroups(bytes);
    ZQR_FUZZ_CHECK(grouped.size() >= 12 && grouped[grouped.size() - 4] == '.');
  }
  const std::string trimmed = TrimBlanksAndNuls(text);
  ZQR_FUZZ_CHECK(trimmed.empty() || (trimmed.front() != ' ' && trimmed.back() != ' '));
  return 0;
}

}  // namespace zqr::fuzz
