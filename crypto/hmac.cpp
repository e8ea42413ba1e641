#include "crypto/hmac.h"

#include "crypto/md5.h"
#include "crypto/sha1.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"

namespace qv {

namespace {

template <typename Context, std::size_t kHmacBlock = 64>
Bytes hmac(std::string_view key, std::string_view data) {
  Bytes shortKey;
  if (key.size() > kHmacBlock) {
    Context keyHash;
    keyHash.update(key);
    shortKey = keyHash.finish();
    key = shortKey;
  }
  char inner[kHmacBlock];
  char outer[kHmacBlock];
  for (std::size_t k = 0; k < kHmacBlock; ++k) {
    const char b = k < key.size() ? key[k] : '\0';
    inner[k] = static_cast<char>(b ^ 0x36);
    outer[k] = static_cast<char>(b ^ 0x5C);
  }
  // Streaming the pads avoids copying data into a pad + data string.
  Context h;
  h.update(std::string_view(inner, kHmacBlock));
  h.update(data);
  const Bytes innerDigest = h.finish();
  h.reset();
  h.update(std::string_view(outer, kHmacBlock));
  h.update(innerDigest);
  return h.finish();
}

}  // namespace

Bytes hmacMd5(std::string_view key, std::string_view data) { return hmac<Md5Context>(key, data); }

Bytes hmacSha1(std::string_view key, std::string_view data) { return hmac<Sha1Context>(key, data); }

Bytes hmacSha256(std::string_view key, std::string_view data) { return hmac<Sha256Context>(key, data); }

Bytes hmacSha384(std::string_view key, std::string_view data) { return hmac<Sha384Context, 128>(key, data); }

Bytes hmacSha512(std::string_view key, std::string_view data) { return hmac<Sha512Context, 128>(key, data); }

Bytes hmacOf(HashAlgorithm hash, std::string_view key, std::string_view data) {
  switch (hash) {
    case HashAlgorithm::kMd5:
      return hmacMd5(key, data);
    case HashAlgorithm::kSha1:
      return hmacSha1(key, data);
    case HashAlgorithm::kSha256:
      return hmacSha256(key, data);
    case HashAlgorithm::kSha384:
      return hmacSha384(key, data);
    case HashAlgorithm::kSha512:
      return hmacSha512(key, data);
  }
  return {};
}

}  // namespace qv
