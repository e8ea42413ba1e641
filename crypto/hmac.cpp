#include "crypto/hmac.h"

#include "crypto/md5.h"
#include "crypto/sha1.h"

namespace qv {

namespace {

constexpr std::size_t kHmacBlock = 64;

template <typename Context>
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

}  // namespace qv
