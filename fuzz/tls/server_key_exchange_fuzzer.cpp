// The ECDHE ServerKeyExchange parser, and the signature check on whatever
// it accepts (against a fixed 512-bit key, so a run stays fast).
#include <cstddef>
#include <cstdint>

#include "crypto/rsa.h"
#include "tls/server_key_exchange.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static const qv::RsaKey key = [] {
    qv::RsaKey k;
    k.setPublicKey(std::string_view("\x01\x00\x01", 3), qv::Bytes(63, '\xC5') + '\x01');
    return k;
  }();
  const std::string_view body(reinterpret_cast<const char*>(data), size);
  const qv::ServerKeyExchangeCheck check = qv::ParseServerKeyExchange(body);
  if (check.alert == 0) {
    qv::VerifyServerKeyExchange(key, check.params, std::string_view(qv::Bytes(32, 'c')),
                                std::string_view(qv::Bytes(32, 's')));
  }
  return 0;
}
