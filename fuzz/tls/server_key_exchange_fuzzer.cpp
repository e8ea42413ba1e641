// The ECDHE ServerKeyExchange parser (X25519 and the NIST curves, whose
// points it checks), and the scheme and digest steps of the signature check
// on what it accepts. The keys have no modulus and no point, so the RSA and
// ECDSA arithmetic (fuzzed with the crypto code, and far slower) is not
// reached.
#include <cstddef>
#include <cstdint>

#include "crypto/rsa.h"
#include "tls/ec_keys.h"
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
  if (!check.error.empty() || check.params.publicKey.size() != qv::EcdheShareSize(check.params.group) ||
      !qv::EcdheShareValid(check.params.group, check.params.publicKey) || check.params.signature.empty())
    __builtin_trap();
  if (qv::VerifyServerKeyExchange(noKey, check.params, std::string_view(qv::Bytes(32, 'c')),
                                  std::string_view(qv::Bytes(32, 's')))) {
    __builtin_trap();
  }
  for (const qv::CertificateKey kind : {qv::CertificateKey::kRsa, qv::CertificateKey::kRsaPss,
                                        qv::CertificateKey::kEcP256, qv::CertificateKey::kEcP384}) {
    qv::Certificate certificate;
    certificate.keyKind = kind;
    std::string error;
    if (qv::VerifyServerKeyExchange(certificate, check.params, qv::Bytes(32, 'c'), qv::Bytes(32, 's'),
                                    &error) ||
        error.empty())
      __builtin_trap();
  }
  return 0;
}
