// The ECDHE ServerKeyExchange parser, and the scheme and digest steps of
// the signature check on what it accepts. The key has no modulus, so the RSA
// arithmetic (fuzzed with the crypto code, and far slower) is not reached.
#include <cstddef>
#include <cstdint>

#include "crypto/rsa.h"
#include "tls/server_key_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const qv::RsaKey noKey;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const qv::ServerKeyExchangeCheck check = qv::ParseServerKeyExchange(body);
  // A refusal always says why; an acceptance holds a whole share and a
  // signature, which no key can confirm here.
  if (check.alert != 0) {
    if (check.error.empty()) __builtin_trap();
    return 0;
  }
  if (!check.error.empty() || check.params.publicKey.size() != 32 || check.params.signature.empty())
    __builtin_trap();
  if (qv::VerifyServerKeyExchange(noKey, check.params, std::string_view(qv::Bytes(32, 'c')),
                                  std::string_view(qv::Bytes(32, 's')))) {
    __builtin_trap();
  }
  return 0;
}
