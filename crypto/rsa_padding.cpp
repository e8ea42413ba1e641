#include "crypto/rsa_padding.h"

#include <cstdint>

namespace qv {

std::string_view digestInfoPrefix(HashAlgorithm hash) {
  switch (hash) {
    case HashAlgorithm::kMd5:
      return std::string_view("\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05\x05\x00\x04\x10", 18);
    case HashAlgorithm::kSha1:
      return std::string_view("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 15);
    case HashAlgorithm::kSha256:
      return std::string_view("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
                              19);
    case HashAlgorithm::kSha384:
      return std::string_view("\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30",
                              19);
    case HashAlgorithm::kSha512:
      return std::string_view("\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40",
                              19);
  }
  return {};
}

Bytes mgf1(HashAlgorithm hash, std::string_view seed, std::size_t length) {
  Bytes out;
  Bytes input(seed);
  input.append(4, '\0');
  for (std::uint32_t counter = 0; out.size() < length; ++counter) {
    for (int k = 0; k < 4; ++k) input[seed.size() + k] = static_cast<char>(counter >> (24 - 8 * k));
    out += digestOf(hash, input);
  }
  out.resize(length);
  return out;
}

}  // namespace qv
