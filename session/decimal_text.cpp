#include "session/decimal_text.h"

namespace qv {

DecimalScan scanDecimal(std::string_view text, DecimalRules rules) {
  DecimalScan scan;
  std::size_t i = 0;
  if (rules.skipLeadingSpace) {
    while (i < text.size() && (text[i] == ' ' || (text[i] >= '\t' && text[i] <= '\r'))) ++i;
  }
  if (rules.allowSign && i < text.size() && (text[i] == '+' || text[i] == '-'))
    scan.negative = text[i++] == '-';
  for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++scan.digits) {
    scan.magnitude = scan.magnitude * 10 + static_cast<std::uint64_t>(text[i] - '0');
    if (scan.magnitude > kDecimalScanCap) scan.magnitude = kDecimalScanCap;
  }
  scan.end = i;
  return scan;
}

}  // namespace qv
