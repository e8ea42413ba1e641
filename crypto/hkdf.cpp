#include "crypto/hkdf.h"

#include "crypto/hmac.h"

namespace qv {

Bytes hkdfExtract(HashAlgorithm hash, std::string_view salt, std::string_view ikm) {
  const Bytes zeros(digestSize(hash), '\0');
  return hmacOf(hash, salt.empty() ? std::string_view(zeros) : salt, ikm);
}

Bytes hkdfExpand(HashAlgorithm hash, std::string_view prk, std::string_view info, std::size_t length) {
  const std::size_t hashLen = digestSize(hash);
  if (length > 255 * hashLen) return {};
  Bytes okm;
  okm.reserve(length + hashLen);
  Bytes t;
  Bytes block;
  for (unsigned counter = 1; okm.size() < length; ++counter) {
    // T(i) = HMAC(PRK, T(i-1) || info || i)
    block.assign(t);
    block.append(info);
    block.push_back(static_cast<char>(counter));
    t = hmacOf(hash, prk, block);
    okm += t;
  }
  okm.resize(length);
  return okm;
}

Bytes hkdfExpandLabel(HashAlgorithm hash, std::string_view secret, std::string_view label,
                      std::string_view context, std::size_t length) {
  // HkdfLabel: uint16 length, opaque label<7..255>, opaque context<0..255>.
  constexpr std::string_view kPrefix = "tls13 ";
  if (length > 0xFFFF || kPrefix.size() + label.size() > 255 || context.size() > 255) return {};
  Bytes info;
  info.push_back(static_cast<char>(length >> 8));
  info.push_back(static_cast<char>(length & 0xFF));
  info.push_back(static_cast<char>(kPrefix.size() + label.size()));
  info.append(kPrefix);
  info.append(label);
  info.push_back(static_cast<char>(context.size()));
  info.append(context);
  return hkdfExpand(hash, secret, info, length);
}

}  // namespace qv
