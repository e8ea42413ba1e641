#include "crypto/rsa_verify.h"

#include "crypto/rsa_padding.h"

namespace qv {

namespace {

bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned diff = 0;
  for (std::size_t k = 0; k < a.size(); ++k) diff |= static_cast<unsigned char>(a[k] ^ b[k]);
  return diff == 0;
}

// signature^e mod n as exactly modulus-length bytes; empty when the
// signature is not that long or not below n.
Bytes openSignature(const RsaKey& key, std::string_view signature) {
  const std::size_t k = key.modulusLength();
  if (k == 0 || signature.size() != k) return {};
  Bytes m = rsaPublicOp(key, signature);
  if (m.size() != k) return {};
  return m;
}

}  // namespace

bool rsaVerifyPkcs1(const RsaKey& publicKey, HashAlgorithm hash, std::string_view digest,
                    std::string_view signature) {
  const std::string_view prefix = digestInfoPrefix(hash);
  if (prefix.empty() || digest.size() != digestSize(hash)) return false;
  const Bytes em = openSignature(publicKey, signature);
  const std::size_t tLen = prefix.size() + digest.size();
  if (em.empty() || em.size() < tLen + 11) return false;
  Bytes expected(em.size(), '\xFF');
  expected[0] = '\x00';
  expected[1] = '\x01';
  expected[em.size() - tLen - 1] = '\x00';
  expected.replace(em.size() - tLen, prefix.size(), prefix);
  expected.replace(em.size() - digest.size(), digest.size(), digest);
  return sameBytes(em, expected);
}

bool rsaVerifyPss(const RsaKey& publicKey, HashAlgorithm hash, std::string_view digest,
                  std::string_view signature) {
  const std::size_t hLen = digestSize(hash);
  const std::size_t sLen = hLen;
  if (hLen == 0 || digest.size() != hLen) return false;
  const Bytes m = openSignature(publicKey, signature);
  if (m.empty()) return false;
  const std::size_t emBits = publicKey.n.bitLength() - 1;
  const std::size_t emLen = (emBits + 7) / 8;
  // With emBits a multiple of 8 the encoded message is one byte shorter than
  // the modulus, and the byte in front must be zero.
  if (m.size() != emLen && (m.size() != emLen + 1 || m[0] != '\0')) return false;
  const std::string_view em = std::string_view(m).substr(m.size() - emLen);
  if (emLen < hLen + sLen + 2 || em.back() != '\xBC') return false;
  const std::size_t dbLen = emLen - hLen - 1;
  const std::string_view maskedDb = em.substr(0, dbLen);
  const std::string_view h = em.substr(dbLen, hLen);
  const auto topMask = static_cast<unsigned char>(0xFF >> (8 * emLen - emBits));
  if ((static_cast<unsigned char>(maskedDb[0]) & ~topMask) != 0) return false;
  Bytes db = xorBytes(maskedDb, mgf1(hash, h, dbLen));
  db[0] = static_cast<char>(static_cast<unsigned char>(db[0]) & topMask);
  const std::size_t psLen = dbLen - sLen - 1;
  unsigned bad = 0;
  for (std::size_t k = 0; k < psLen; ++k) bad |= static_cast<unsigned char>(db[k]);
  bad |= static_cast<unsigned char>(db[psLen] ^ 0x01);
  if (bad != 0) return false;
  Bytes mPrime(8, '\0');
  mPrime.append(digest);
  mPrime.append(std::string_view(db).substr(dbLen - sLen));
  return sameBytes(digestOf(hash, mPrime), h);
}

}  // namespace qv
