#include "crypto/rsa_verify.h"

namespace qv {

namespace {

// DER of DigestInfo up to the digest's OCTET STRING header (RFC 8017 9.2 note 1).
std::string_view digestInfoPrefix(HashAlgorithm hash) {
  switch (hash) {
    case HashAlgorithm::kMd5:
      return std::string_view("\x30\x20\x30\x0c\x06\x08\x2a\x86\x48\x86\xf7\x0d\x02\x05\x05\x00\x04\x10", 18);
    case HashAlgorithm::kSha1:
      return std::string_view("\x30\x21\x30\x09\x06\x05\x2b\x0e\x03\x02\x1a\x05\x00\x04\x14", 15);
    case HashAlgorithm::kSha256:
      return std::string_view("\x30\x31\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x01\x05\x00\x04\x20",
                              19);
    case HashAlgorithm::kSha384:
      return std::string_view("\x30\x41\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x02\x05\x00\x04\x30",
                              19);
    case HashAlgorithm::kSha512:
      return std::string_view("\x30\x51\x30\x0d\x06\x09\x60\x86\x48\x01\x65\x03\x04\x02\x03\x05\x00\x04\x40",
                              19);
  }
  return {};
}

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

// MGF1 (RFC 8017 B.2.1) over hash, length bytes.
Bytes mgf1(HashAlgorithm hash, std::string_view seed, std::size_t length) {
  Bytes out;
  Bytes input(seed);
  input.append(4, '\0');
  for (std::uint32_t counter = 0; out.size() < length; ++counter) {
    for (int k = 0; k < 4; ++k) input[seed.size() + k] = static_cast<char>(counter >> (24 - 8 * k));
    out += digestOf(hash, input);
  }
  out.resize(length);
  return out;
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
