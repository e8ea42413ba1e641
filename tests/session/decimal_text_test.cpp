// The shared decimal scanner: what each rule lets through, and a magnitude
// that stays out of 32-bit range once it got there.
#include <gtest/gtest.h>

#include "session/decimal_text.h"

namespace qv {
namespace {

TEST(DecimalText, RulesDecideWhatComesBeforeTheDigits) {
  struct Case {
    const char* text;
    DecimalRules rules;
    bool negative;
    std::size_t digits;
    std::uint64_t magnitude;
    std::size_t end;
  };
  const DecimalRules plain{.skipLeadingSpace = false, .allowSign = false};
  const Case cases[] = {
      {" \t\n\v\f\r-42x", {}, true, 2, 42, 9},
      {"+7", {}, false, 1, 7, 2},
      {"-", {}, true, 0, 0, 1},
      {"  5", plain, false, 0, 0, 0},
      {"-5", plain, false, 0, 0, 0},
      {"08080", plain, false, 5, 8080, 5},
      {"\xA0"
       "5",
       {},
       false,
       0,
       0,
       0},  // only the C locale's white space
      {"4294967295", {}, false, 10, 4294967295u, 10},
      {"4294967297", {}, false, 10, kDecimalScanCap, 10},
      {"99999999999999999999999", {}, false, 23, kDecimalScanCap, 23},
  };
  for (const Case& c : cases) {
    DecimalScan scan = scanDecimal(c.text, c.rules);
    EXPECT_EQ(scan.negative, c.negative) << c.text;
    EXPECT_EQ(scan.digits, c.digits) << c.text;
    EXPECT_EQ(scan.magnitude, c.magnitude) << c.text;
    EXPECT_EQ(scan.end, c.end) << c.text;
  }
}

}  // namespace
}  // namespace qv
