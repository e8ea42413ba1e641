#pragma once
// The one scanner behind every decimal number we read from text (stored
// settings, PBX answers, the dialog's port field). Callers differ in what
// they accept around the digits and in what they do with out-of-range
// values; they share the scanning.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

struct DecimalScan {
  bool negative = false;
  std::size_t digits = 0;       // digits read
  std::uint64_t magnitude = 0;  // their value, held at kDecimalScanCap once beyond it
  std::size_t end = 0;          // index after the last character taken
};

// Above every 32-bit value, so a held magnitude is always out of range.
inline constexpr std::uint64_t kDecimalScanCap = std::uint64_t{1} << 32;

struct DecimalRules {
  bool skipLeadingSpace = true;  // the C locale's white space: blank, \t \n \v \f \r
  bool allowSign = true;         // one '+' or '-' before the digits
};

// Reads [white space][sign]digits from the start of text, up to the first
// character that is not a digit.
DecimalScan scanDecimal(std::string_view text, DecimalRules rules = {});

}  // namespace qv
