#pragma once
// A client certificate whose private key stays in the system's key storage
// (Windows: the LocalMachine "My" store and CNG). Signatures are made there
// from a digest; the key itself is never read. Other systems have no such
// store and say so.
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

enum class StoreKeyKind { kRsa, kEcP256, kEcP384 };
enum class StoreHash { kSha256, kSha384, kSha512 };
// RSA only; ECDSA keys ignore it.
enum class StorePadding { kPkcs1, kPss };

struct StoreClientKey {
  std::vector<std::string> chainDer;  // the certificate first, then its issuers up to (not with) the root
  StoreKeyKind kind = StoreKeyKind::kRsa;
  // RSA: the signature (PSS with a salt as long as the digest); ECDSA: r || s,
  // each as long as the curve's field (IEEE P1363). Empty, with *error set,
  // when the key storage refuses. The handles it holds live as long as it.
  std::function<std::string(StoreHash, StorePadding, std::string_view digest, std::string* error)> signDigest;
};

// The certificate with this SHA-1 thumbprint (20 bytes) and its private key;
// nothing, with *problem set to a short reason, when it cannot be used.
std::optional<StoreClientKey> OpenStoreClientKey(std::string_view sha1Thumbprint, std::string* problem);

}  // namespace qv
