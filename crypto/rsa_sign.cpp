#include "crypto/rsa_sign.h"

#include "crypto/mont_pow.h"
#include "crypto/rsa_padding.h"
#include "crypto/rsa_verify.h"

namespace qv {

namespace {

// RSASP1 on a modulus-length block with the key's secret exponents kept out
// of the timing: the block is blinded by r^e for a fresh random r (so the
// reductions and the recombination see random values) and the exponentiations
// run in constant time. Empty when the key cannot sign.
Bytes signBlock(const RsaKey& key, std::string_view block) {
  const std::size_t k = key.modulusLength();
  if (k < 64 || block.size() != k || key.e.isZero() || !key.n.testBit(0)) return {};
  const BigInt c = BigInt::fromBytes(block);
  if (c.compareMagnitude(key.n) >= 0) return {};
  BigInt r, rInverse;
  for (int attempt = 0; attempt < 8 && rInverse.isZero(); ++attempt) {
    r = BigInt::fromBytes(randomBytes(static_cast<int>(k))).mod(key.n);
    rInverse = modInverse(r, key.n);
  }
  if (rInverse.isZero()) return {};
  const BigInt blinded = c.mul(modPow(r, key.e, key.n)).mod(key.n);
  BigInt s;
  if (key.hasCrt()) {
    const BigInt m1 = modPowSecret(blinded, key.dP, key.p);
    const BigInt m2 = modPowSecret(blinded, key.dQ, key.q);
    s = m1.mul(key.qFactor).add(m2.mul(key.pFactor)).mod(key.n);
  } else if (!key.d.isZero()) {
    s = modPowSecret(blinded, key.d, key.n);
  } else {
    return {};
  }
  return s.mul(rInverse).mod(key.n).toBytes(k);
}

}  // namespace

// Each signature is checked with the public key before it leaves: a fault in
// the Chinese-remainder computation would otherwise hand out a value that
// factors the modulus.

Bytes rsaSignPkcs1Digest(const RsaKey& key, HashAlgorithm hash, std::string_view digest) {
  const std::string_view prefix = digestInfoPrefix(hash);
  if (prefix.empty() || digest.size() != digestSize(hash)) return {};
  Bytes digestInfo(prefix);
  digestInfo.append(digest);
  const std::size_t k = key.modulusLength();
  if (k < digestInfo.size() + 11) return {};
  Bytes block(k, '\xFF');  // 00 01 FF.. 00 DigestInfo
  block[0] = '\x00';
  block[1] = '\x01';
  block[k - digestInfo.size() - 1] = '\x00';
  block.replace(k - digestInfo.size(), digestInfo.size(), digestInfo);
  Bytes signature = signBlock(key, block);
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
  Bytes signature = signBlock(key, em);
  if (signature.size() != k || !rsaVerifyPss(key, hash, digest, signature)) return {};
  return signature;
}

}  // namespace qv
