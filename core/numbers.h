// Number and text conventions shared by every subsystem: numbers become text without a
// leading blank, masks give fixed digits, and values computed in floating point and
// stored as integers round to nearest with ties to even.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace zqr {

// Plain number text: no leading blank, up to 15 significant digits, a fraction only when
// the value has one ("25", "29.97002997003", "-3", "0.5").
std::string NumberText(double value);
std::string NumberText(int64_t value);
inline std::string NumberText(int32_t value) {
  return NumberText(static_cast<int64_t>(value));
}

// Mask "00.00": at least two integer digits, exactly two fraction digits ("25.00", "07.50").
std::string FormatMask0000(double value);
// Mask "00": at least two digits, no fraction (rounded to nearest, ties to even).
std::string FormatMask00(double value);
// A byte count written with a dot between groups of three digits, as the mask
// "####.###.###.###" writes the count divided by 10^9 ("80.123.456.789"; a count below
// 10^9 has an empty integer part: ".500.000.000").
std::string FormatByteGroups(uint64_t bytes);

// Hours, minutes and seconds, two digits each, joined by ":" (fields truncated toward
// zero). The double form drops the fraction of the seconds.
std::string FormatHms(int32_t seconds);
std::string FormatHms(double seconds);

// Round to nearest, ties to even. Out-of-range and infinite values saturate by sign;
// NaN gives 0.
int32_t RoundHalfEven32(double value);
int64_t RoundHalfEven64(double value);

// The number a text begins with: leading blanks skipped, an optional sign, digits with an
// optional fraction and exponent; a text that does not begin with a number gives 0.
double LeadingNumber(std::string_view text);

// Trimming and case helpers with the program's notion of "blank" (the space character).
std::string TrimBlanks(std::string_view text);
std::string TrimBlanksAndNuls(std::string_view text);
std::string ToLowerAscii(std::string_view text);
// A message of several lines as one line: line breaks become blanks, runs of blanks one.
std::string OneLine(std::string_view text);

}  // namespace zqr
