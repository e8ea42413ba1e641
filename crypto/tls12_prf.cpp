#include "crypto/tls12_prf.h"

#include "crypto/hmac.h"

namespace qv {

Bytes tls12Prf(HashAlgorithm hash, std::string_view secret, std::string_view label, std::string_view seed,
               int length) {
  Bytes out;
  if (length <= 0) return out;
  const auto wanted = static_cast<std::size_t>(length);
  Bytes labelSeed(label);
  labelSeed.append(seed);
  Bytes a = hmacOf(hash, secret, labelSeed);  // A(1)
  Bytes input;
  for (;;) {
    input.assign(a);
    input.append(labelSeed);
    out += hmacOf(hash, secret, input);
    if (out.size() >= wanted) break;
    a = hmacOf(hash, secret, a);
  }
  out.resize(wanted);
  return out;
}

}  // namespace qv
