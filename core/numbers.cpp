// Number text and rounding conventions. Masks follow the classic format-string rules:
// "0" is a digit that is always shown, "#" a digit shown only when significant.
#include "core/numbers.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

namespace zqr {

namespace {

// Removes trailing zeros of a fraction and a dangling decimal point.
void StripFractionZeros(std::string& text) {
  auto exponent = text.find_first_of("eE");
  std::string tail;
  if (exponent != std::string::npos) {
    tail = text.substr(exponent);
    text.resize(exponent);
  }
  if (text.find('.') != std::string::npos) {
    while (!text.empty() && text.back() == '0') text.pop_back();
    if (!text.empty() && text.back() == '.') text.pop_back();
  }
  text += tail;
}

std::string Printf15G(double value) {
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, "%.15G", value);
  return buffer;
}

std::string Printf2f(double value) {
  char buffer[512];
  std::snprintf(buffer, sizeof buffer, "%.2f", value);
  return buffer;
}

}  // namespace

std::string NumberText(double value) {
  if (std::isnan(value)) return "NaN";
  if (std::isinf(value)) return value > 0 ? "Infinity" : "-Infinity";
  if (value == 0) return "0";
  std::string text = Printf15G(value);
  StripFractionZeros(text);
  return text;
}

std::string NumberText(int64_t value) {
  return std::to_string(value);
}

std::string FormatMask0000(double value) {
  if (!std::isfinite(value)) return "00.00";
  std::string text = Printf2f(value);
  bool negative = !text.empty() && text[0] == '-';
  if (negative) text.erase(0, 1);
  if (text.find('.') < 2) text.insert(0, 2 - text.find('.'), '0');
  // A value that rounds to zero shows no sign.
  if (negative && text != "00.00") text.insert(0, 1, '-');
  return text;
}

std::string FormatMask00(double value) {
  if (!std::isfinite(value)) return "00";
  int64_t rounded = RoundHalfEven64(value);
  bool negative = rounded < 0;
  // Negated as unsigned: the most negative value has no positive counterpart.
  uint64_t magnitude =
      negative ? 0 - static_cast<uint64_t>(rounded) : static_cast<uint64_t>(rounded);
  std::string digits = std::to_string(magnitude);
  if (digits.size() < 2) digits.insert(0, 2 - digits.size(), '0');
  return negative ? "-" + digits : digits;
}

std::string FormatByteGroups(uint64_t bytes) {
  // The count divided by 10^9 has at most nine fraction digits, so the mask shows the
  // exact byte count; integer arithmetic keeps every digit of large disks exact.
  uint64_t whole = bytes / 1000000000ULL;
  uint64_t fraction = bytes % 1000000000ULL;
  char buffer[64];
  std::snprintf(buffer, sizeof buffer, ".%03llu.%03llu.%03llu",
                static_cast<unsigned long long>(fraction / 1000000ULL),
                static_cast<unsigned long long>(fraction / 1000ULL % 1000ULL),
                static_cast<unsigned long long>(fraction % 1000ULL));
  return (whole == 0 ? std::string() : std::to_string(whole)) + buffer;
}

std::string FormatHms(int32_t seconds) {
  int32_t hours = seconds / 3600;
  int32_t minutes = (seconds - 3600 * hours) / 60;
  int32_t rest = seconds - 3600 * hours - 60 * minutes;
  auto two = [](int32_t v) {
    std::string s = std::to_string(v < 0 ? -v : v);
    if (s.size() < 2) s.insert(0, 1, '0');
    return v < 0 ? "-" + s : s;
  };
  return two(hours) + ":" + two(minutes) + ":" + two(rest);
}

std::string FormatHms(double seconds) {
  if (!std::isfinite(seconds)) return FormatHms(int32_t{0});
  double truncated = std::trunc(seconds);
  if (truncated > std::numeric_limits<int32_t>::max()) {
    truncated = std::numeric_limits<int32_t>::max();
  }
  if (truncated < std::numeric_limits<int32_t>::min()) {
    truncated = std::numeric_limits<int32_t>::min();
  }
  return FormatHms(static_cast<int32_t>(truncated));
}

int64_t RoundHalfEven64(double value) {
  if (std::isnan(value)) return 0;
  if (std::isinf(value)) {
    return value > 0 ? std::numeric_limits<int64_t>::max() : std::numeric_limits<int64_t>::min();
  }
  // remainder() picks the nearest integer with ties to even whatever the current
  // rounding mode is, so the rule does not depend on global floating-point state.
  double rounded = value - std::remainder(value, 1.0);
  if (rounded >= 9.2233720368547758e18) return std::numeric_limits<int64_t>::max();
  if (rounded <= -9.2233720368547758e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(rounded);
}

int32_t RoundHalfEven32(double value) {
  int64_t r = RoundHalfEven64(value);
  if (r > std::numeric_limits<int32_t>::max()) return std::numeric_limits<int32_t>::max();
  if (r < std::numeric_limits<int32_t>::min()) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(r);
}

double LeadingNumber(std::string_view text) {
  size_t i = 0;
  while (i < text.size() && (text[i] == ' ' || text[i] == '\t')) ++i;
  size_t start = i;
  if (i < text.size() && (text[i] == '+' || text[i] == '-')) ++i;
  size_t digits_start = i;
  while (i < text.size() && text[i] >= '0' && text[i] <= '9') ++i;
  size_t int_digits = i - digits_start;
  size_t frac_digits = 0;
  if (i < text.size() && text[i] == '.') {
    size_t j = i + 1;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    frac_digits = j - i - 1;
    if (int_digits + frac_digits > 0) i = j;
  }
  if (int_digits + frac_digits == 0) return 0.0;
  // An exponent counts only when digits follow it.
  if (i < text.size() && (text[i] == 'e' || text[i] == 'E')) {
    size_t j = i + 1;
    if (j < text.size() && (text[j] == '+' || text[j] == '-')) ++j;
    size_t exp_start = j;
    while (j < text.size() && text[j] >= '0' && text[j] <= '9') ++j;
    if (j > exp_start) i = j;
  }
  std::string number(text.substr(start, i - start));
  return std::strtod(number.c_str(), nullptr);
}

std::string TrimBlanks(std::string_view text) {
  size_t begin = text.find_first_not_of(' ');
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(' ');
  return std::string(text.substr(begin, end - begin + 1));
}

std::string TrimBlanksAndNuls(std::string_view text) {
  static constexpr std::string_view kBlankOrNul{" \0", 2};
  size_t begin = text.find_first_not_of(kBlankOrNul);
  if (begin == std::string_view::npos) return std::string();
  size_t end = text.find_last_not_of(kBlankOrNul);
  return std::string(text.substr(begin, end - begin + 1));
}

std::string ToLowerAscii(std::string_view text) {
  std::string out(text);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::string OneLine(std::string_view text) {
  std::string out;
  for (char c : text) {
    if (c == '\r' || c == '\n') c = ' ';
    if (c == ' ' && !out.empty() && out.back() == ' ') continue;
    out += c;
  }
  return out;
}

}  // namespace zqr
