#include "crypto/prf.h"

#include "crypto/hmac.h"

namespace qv {

namespace {

Bytes pHash(Bytes (*mac)(std::string_view, std::string_view), std::string_view secret, std::string_view seed,
            int length) {
  Bytes out;
  if (length <= 0) return out;
  const auto wanted = static_cast<std::size_t>(length);
  Bytes a = mac(secret, seed);  // A(1)
  Bytes input;
  for (;;) {
    input.assign(a);
    input.append(seed);
    out += mac(secret, input);
    if (out.size() >= wanted) break;
    a = mac(secret, a);
  }
  return out;
}

}  // namespace

Bytes pHashMd5(std::string_view secret, std::string_view seed, int length) {
  return pHash(&hmacMd5, secret, seed, length);
}

Bytes pHashSha1(std::string_view secret, std::string_view seed, int length) {
  return pHash(&hmacSha1, secret, seed, length);
}

Bytes tlsPrf(std::string_view secret, std::string_view label, std::string_view seed, int length) {
  if (length <= 0) return {};
  const std::size_t half = (secret.size() + 1) / 2;
  const std::string_view s1 = secret.substr(0, half);
  const std::string_view s2 = secret.substr(secret.size() - half);
  Bytes labelSeed(label);
  labelSeed.append(seed);
  const auto wanted = static_cast<std::size_t>(length);
  return xorBytes(std::string_view(pHashMd5(s1, labelSeed, length)).substr(0, wanted),
                  std::string_view(pHashSha1(s2, labelSeed, length)).substr(0, wanted));
}

}  // namespace qv
