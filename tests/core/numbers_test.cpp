// Number text, masks and rounding as every log line, label and command line uses them.
#include <gtest/gtest.h>

#include <cstdint>
#include <limits>

#include "core/numbers.h"

namespace zqr {
namespace {

TEST(NumberText, PlainFormWithoutBlankOrNeedlessFraction) {
  EXPECT_EQ(NumberText(25.0), "25");
  EXPECT_EQ(NumberText(-3.0), "-3");
  EXPECT_EQ(NumberText(0.0), "0");
  EXPECT_EQ(NumberText(15.2), "15.2");
  EXPECT_EQ(NumberText(0.0333667), "0.0333667");
  EXPECT_EQ(NumberText(int64_t{640}), "640");
  EXPECT_EQ(NumberText(int32_t{-10000}), "-10000");
  // Fifteen significant digits at most.
  EXPECT_EQ(NumberText(10000000.0 / 333667.0), "29.97000002997");
  EXPECT_EQ(NumberText(1.0 / 3.0), "0.333333333333333");
  EXPECT_EQ(NumberText(123456789012.5), "123456789012.5");
}

TEST(NumberText, MaskTwoIntegerTwoFractionDigits) {
  EXPECT_EQ(FormatMask0000(25.0), "25.00");
  EXPECT_EQ(FormatMask0000(10000000.0 / 333667.0), "29.97");
  EXPECT_EQ(FormatMask0000(7.5), "07.50");
  EXPECT_EQ(FormatMask0000(0.0), "00.00");
  EXPECT_EQ(FormatMask0000(120.0), "120.00");
  EXPECT_EQ(FormatMask0000(0.004), "00.00");
  EXPECT_EQ(FormatMask0000(-0.001), "00.00");
  EXPECT_EQ(FormatMask00(3.0), "03");
  EXPECT_EQ(FormatMask00(2.5), "02");
  EXPECT_EQ(FormatMask00(123.0), "123");
}

TEST(NumberText, ByteCountGroupsOfThree) {
  EXPECT_EQ(FormatByteGroups(80123456789ULL), "80.123.456.789");
  EXPECT_EQ(FormatByteGroups(1000000000ULL), "1.000.000.000");
  EXPECT_EQ(FormatByteGroups(500000000ULL), ".500.000.000");
  EXPECT_EQ(FormatByteGroups(1234ULL), ".000.001.234");
  EXPECT_EQ(FormatByteGroups(18446744073709551615ULL), "18446744073.709.551.615");
}

TEST(FormatHms, FieldsTruncatedTowardZero) {
  EXPECT_EQ(FormatHms(int32_t{0}), "00:00:00");
  EXPECT_EQ(FormatHms(int32_t{90}), "00:01:30");
  EXPECT_EQ(FormatHms(int32_t{599}), "00:09:59");
  EXPECT_EQ(FormatHms(int32_t{3600 * 27 + 61}), "27:01:01");
  EXPECT_EQ(FormatHms(int32_t{360000}), "100:00:00");
  EXPECT_EQ(FormatHms(15.999), "00:00:15");
  EXPECT_EQ(FormatHms(90.5), "00:01:30");
  EXPECT_EQ(FormatHms(std::numeric_limits<double>::quiet_NaN()), "00:00:00");
}

TEST(Rounding, TiesGoToTheEvenNeighbour) {
  EXPECT_EQ(RoundHalfEven32(75.5), 76);
  EXPECT_EQ(RoundHalfEven32(74.5), 74);
  EXPECT_EQ(RoundHalfEven32(0.5), 0);
  EXPECT_EQ(RoundHalfEven32(1.5), 2);
  EXPECT_EQ(RoundHalfEven32(-2.5), -2);
  EXPECT_EQ(RoundHalfEven32(-2.6), -3);
  EXPECT_EQ(RoundHalfEven32(2.4999999), 2);
  EXPECT_EQ(RoundHalfEven64(1e7 / 29.97), 333667);
  EXPECT_EQ(RoundHalfEven64(1e7 / 25.0), 400000);
  EXPECT_EQ(RoundHalfEven32(1e12), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundHalfEven32(-1e12), std::numeric_limits<int32_t>::min());
}

TEST(Rounding, NonFiniteValuesSaturateBySign) {
  const double inf = std::numeric_limits<double>::infinity();
  EXPECT_EQ(RoundHalfEven32(LeadingNumber("1e999")), std::numeric_limits<int32_t>::max());
  EXPECT_EQ(RoundHalfEven32(LeadingNumber("-1e999")), std::numeric_limits<int32_t>::min());
  EXPECT_EQ(RoundHalfEven64(inf), std::numeric_limits<int64_t>::max());
  EXPECT_EQ(RoundHalfEven64(-inf), std::numeric_limits<int64_t>::min());
  EXPECT_EQ(RoundHalfEven32(std::numeric_limits<double>::quiet_NaN()), 0);
  EXPECT_EQ(FormatMask00(-1e30), "-9223372036854775808");
  EXPECT_EQ(FormatMask00(-inf), "00");
}

TEST(LeadingNumber, LongestLeadingDecimalNumber) {
  EXPECT_EQ(LeadingNumber("  29.97 fps"), 29.97);
  EXPECT_EQ(LeadingNumber("75.5"), 75.5);
  EXPECT_EQ(LeadingNumber("-12abc"), -12.0);
  EXPECT_EQ(LeadingNumber("abc"), 0.0);
  EXPECT_EQ(LeadingNumber(""), 0.0);
  EXPECT_EQ(LeadingNumber("."), 0.0);
  EXPECT_EQ(LeadingNumber(".5x"), 0.5);
  EXPECT_EQ(LeadingNumber("1e3"), 1000.0);
  EXPECT_EQ(LeadingNumber("2e"), 2.0);
  EXPECT_EQ(LeadingNumber("1k tbn"), 1.0);
}

TEST(Trim, BlanksAndNuls) {
  EXPECT_EQ(TrimBlanks("  a b  "), "a b");
  EXPECT_EQ(TrimBlanks("   "), "");
  EXPECT_EQ(TrimBlanksAndNuls(std::string(" \0x\0 ", 5)), "x");
  EXPECT_EQ(ToLowerAscii("Stream #0.0(UND): Video"), "stream #0.0(und): video");
}

}  // namespace
}  // namespace zqr
