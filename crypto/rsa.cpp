#include "crypto/rsa.h"

namespace qv {

namespace {

// m1 = c^dP mod p, m2 = c^dQ mod q, recombined with the two CRT factors.
BigInt privateCrt(const RsaKey& key, const BigInt& c) {
  const BigInt m1 = modPow(c, key.dP, key.p);
  const BigInt m2 = modPow(c, key.dQ, key.q);
  return m2.mul(key.pFactor).add(m1.mul(key.qFactor)).mod(key.n);
}

BigInt privateOp(const RsaKey& key, const BigInt& c) {
  return key.hasCrt() ? privateCrt(key, c) : modPow(c, key.d, key.n);
}

bool hasPrivatePart(const RsaKey& key) { return !key.d.isZero() || key.hasCrt(); }

// Public keys arrive in certificates from the network; a huge modulus or
// exponent would make one operation run for minutes. The limits are
// OpenSSL's: moduli up to 16384 bits, and above 3072 bits exponents of at
// most 64 bits.
constexpr std::size_t kMaxModulusBits = 16384;
constexpr std::size_t kSmallModulusBits = 3072;
constexpr std::size_t kMaxLargeModulusExponentBits = 64;

bool publicSizesAcceptable(const BigInt& e, const BigInt& n) {
  const std::size_t bits = n.bitLength();
  if (bits == 0 || bits > kMaxModulusBits) return false;
  return bits <= kSmallModulusBits || e.bitLength() <= kMaxLargeModulusExponentBits;
}

}  // namespace

void RsaKey::setPublicKey(std::string_view exponent, std::string_view modulus) {
  *this = RsaKey{};
  e = BigInt::fromBytes(exponent);
  n = BigInt::fromBytes(modulus);
}

void RsaKey::setPrivateKey(std::string_view dBytes, std::string_view eBytes, std::string_view nBytes,
                           std::string_view pBytes, std::string_view qBytes) {
  *this = RsaKey{};
  d = BigInt::fromBytes(dBytes);
  e = BigInt::fromBytes(eBytes);
  n = BigInt::fromBytes(nBytes);
  p = BigInt::fromBytes(pBytes);
  q = BigInt::fromBytes(qBytes);
  if (p.isZero()) return;
  dP = d.mod(p.sub(1));
  dQ = d.mod(q.sub(1));
  qFactor = q.mul(modInverse(q, p)).mod(n);
  pFactor = p.mul(modInverse(p, q)).mod(n);
}

std::size_t RsaKey::modulusLength() const { return (n.bitLength() + 7) / 8; }

Bytes rsaPublicOp(const RsaKey& key, std::string_view block) {
  if (!publicSizesAcceptable(key.e, key.n)) return {};
  const BigInt c = BigInt::fromBytes(block);
  if (c.compareMagnitude(key.n) >= 0) return {};
  return modPow(c, key.e, key.n).toBytes(block.size());
}

Bytes rsaRawPublicOp(std::string_view exponent, std::string_view modulus, std::string_view input) {
  const BigInt n = BigInt::fromBytes(modulus);
  const BigInt e = BigInt::fromBytes(exponent);
  if (!publicSizesAcceptable(e, n)) return {};
  const BigInt c = BigInt::fromBytes(input);
  if (c.compareMagnitude(n) >= 0) return {};
  return modPow(c, e, n).toBytes(0);
}

Bytes rsaPrivateOp(const RsaKey& key, std::string_view block) {
  const std::size_t bits = key.n.bitLength();
  if (bits == 0 || bits > kMaxModulusBits || !hasPrivatePart(key)) return {};
  const BigInt c = BigInt::fromBytes(block);
  if (c.compareMagnitude(key.n) >= 0) return {};
  return privateOp(key, c).toBytes(block.size());
}

Bytes rsaSignPkcs1(const RsaKey& key, std::string_view data) {
  // PKCS #1 v1.5 wants at least eight FF bytes: 00 01 FF*8 00 leaves k - 11.
  const std::size_t k = key.modulusLength();
  if (k < 11 || data.size() > k - 11 || 8 * k > kMaxModulusBits || !hasPrivatePart(key)) return {};
  Bytes block(k, '\xFF');
  block[0] = '\x00';
  block[1] = '\x01';
  block[k - data.size() - 1] = '\x00';
  block.replace(k - data.size(), data.size(), data);
  return privateOp(key, BigInt::fromBytes(block)).toBytes(k);
}

}  // namespace qv
