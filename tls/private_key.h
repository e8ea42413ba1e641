#pragma once
// tls/private_key.h -- private keys from PEM: PKCS#8 ("PRIVATE KEY"), PKCS#1
// ("RSA PRIVATE KEY") and SEC 1 ("EC PRIVATE KEY"; P-256, P-384), unencrypted.
#include <optional>
#include <string>
#include <string_view>
#include <vector>
#include "crypto/ec.h"
#include "crypto/rsa.h"
#include "xml/byte_string.h"
namespace qv {
enum class PrivateKeyType { kRsa, kRsaPss, kEc };
struct PrivateKey {
  PrivateKeyType type = PrivateKeyType::kRsa;
  RsaKey rsa;                      // kRsa, kRsaPss
  EcCurve curve = EcCurve::kP256;  // kEc
  Bytes ecScalar;                  // kEc: ecFieldSize(curve) bytes, big-endian
  Bytes ecPublic;                  // kEc: uncompressed point (derived when the file omits it)
};
// The first private key block of a PEM text; nothing, with *error set to a
// short reason, when there is none, it is encrypted, malformed, or of another
// algorithm or curve. Hostile input: bounded, never crashes.
std::optional<PrivateKey> ReadPemPrivateKey(std::string_view pemText, std::string* error);
// The same from one DER structure (PKCS#8, PKCS#1 or SEC 1, detected).
std::optional<PrivateKey> ReadDerPrivateKey(std::string_view der, std::string* error);
}  // namespace qv
