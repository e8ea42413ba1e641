#include "crypto/rsa_sign.h"

#include "crypto/rsa_padding.h"
#include "crypto/rsa_verify.h"

namespace qv {

// Each signature is checked with the public key before it leaves: a fault in
// the Chinese-remainder computation would otherwise hand out a value that
// factors the modulus.

Bytes rsaSignPkcs1Digest(const RsaKey& key, HashAlgorithm hash, std::string_view digest) {
  const std::string_view prefix = digestInfoPrefix(hash);
  if (prefix.empty() || digest.size() != digestSize(hash)) return {};
  Bytes digestInfo(prefix);
  digestInfo.append(digest);
  Bytes signature = rsaSignPkcs1(key, digestInfo);
  if (signature.empty() || !rsaVerifyPkcs1(key, hash, digest, signature)) return {};
  return signature;
}

Bytes rsaSignPss(const RsaKey& key, HashAlgorithm hash, std::string_view digest, std::string_view salt) {
  // EMSA-PSS-ENCODE (RFC 8017 9.1.1) with emBits = modBits - 1.
  const std::size_t hLen = digestSize(hash);
  const std::size_t k = key.modulusLength();
  if (digest.size() != hLen || salt.size() != hLen || k == 0) return {};
  const std::size_t emBits = key.n.bitLength() - 1;
  const std::size_t emLen = (emBits + 7) / 8;
  if (emLen < hLen + salt.size() + 2) return {};
  Bytes mPrime(8, '\0');
  mPrime.append(digest);
  mPrime.append(salt);
  const Bytes h = digestOf(hash, mPrime);
  const std::size_t dbLen = emLen - hLen - 1;
  Bytes db(dbLen - salt.size() - 1, '\0');
  db.push_back('\x01');
  db.append(salt);
  Bytes em = xorBytes(db, mgf1(hash, h, dbLen));
  em[0] = static_cast<char>(static_cast<unsigned char>(em[0]) & (0xFF >> (8 * emLen - emBits)));
  em += h;
  em.push_back('\xBC');
  // With emBits a multiple of 8, EM is one byte shorter than the modulus.
  em.insert(0, k - emLen, '\0');
  Bytes signature = rsaPrivateOp(key, em);
  if (signature.size() != k || !rsaVerifyPss(key, hash, digest, signature)) return {};
  return signature;
}

}  // namespace qv
