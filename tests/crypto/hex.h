#pragma once
// Hex literals for test vectors (spaces allowed between digit pairs).
#include <string>
#include <string_view>

#include <ostream>

#include "crypto/big_int.h"
#include "xml/byte_string.h"

namespace qv::test {

inline Bytes fromHex(std::string_view hex) {
  auto nibble = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  Bytes out;
  int high = -1;
  for (char c : hex) {
    const int v = nibble(c);
    if (v < 0) continue;
    if (high < 0) {
      high = v;
    } else {
      out.push_back(static_cast<char>(high * 16 + v));
      high = -1;
    }
  }
  return out;
}

inline std::string hex(std::string_view bytes) { return hexEncode(bytes); }

}  // namespace qv::test

namespace qv {
// Readable failure messages for big integers.
inline void PrintTo(const BigInt& x, std::ostream* os) {
  *os << (x.negative() ? "-0x" : "0x") << hexEncode(x.toBytes(1));
}
}  // namespace qv
