#pragma once
// One name for each hash function, for code that picks one at run time (the
// TLS 1.2 transcript, PRF and signature checks).
#include <string_view>
#include <variant>

#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"
#include "xml/byte_string.h"

namespace qv {

enum class HashAlgorithm { kMd5, kSha1, kSha256, kSha384, kSha512 };

// Digest of data with the given function.
Bytes digestOf(HashAlgorithm hash, std::string_view data);
// Output length in bytes (16, 20, 32, 48, 64).
std::size_t digestSize(HashAlgorithm hash);
// Input block length in bytes (64, or 128 for SHA-384/512), as HMAC needs it.
std::size_t digestBlockSize(HashAlgorithm hash);

// Incremental digest of a run-time chosen function. Copyable, so a running
// transcript hash can be finished on a copy and go on.
class DigestContext {
 public:
  explicit DigestContext(HashAlgorithm hash);
  void reset();
  void update(std::string_view data);
  // The digest; the context must be reset before reuse.
  Bytes finish();
  HashAlgorithm algorithm() const { return hash_; }

 private:
  HashAlgorithm hash_;
  std::variant<Md5Context, Sha1Context, Sha256Context, Sha512Context> context_;
};

}  // namespace qv
