#include "crypto/aes.h"

#include <cstring>

#include "crypto/aes_tables.h"

namespace qv {

namespace {

constexpr std::size_t kBlock = 16;

inline std::uint32_t load32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void store32(unsigned char* p, std::uint32_t w) {
  p[0] = static_cast<unsigned char>(w >> 24);
  p[1] = static_cast<unsigned char>(w >> 16);
  p[2] = static_cast<unsigned char>(w >> 8);
  p[3] = static_cast<unsigned char>(w);
}

inline const unsigned char* bytesOf(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
inline unsigned char* bytesOf(Bytes& s) { return reinterpret_cast<unsigned char*>(s.data()); }

// One block in place as four big-endian column words.
inline void encryptWords(const AesTables& t, const std::uint32_t* rk, int rounds, std::uint32_t s[4]) {
  const auto& T0 = t.enc[0];
  const auto& T1 = t.enc[1];
  const auto& T2 = t.enc[2];
  const auto& T3 = t.enc[3];
  std::uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    std::uint32_t t0 = T0[s0 >> 24] ^ T1[(s1 >> 16) & 0xFF] ^ T2[(s2 >> 8) & 0xFF] ^ T3[s3 & 0xFF] ^ rk[0];
    std::uint32_t t1 = T0[s1 >> 24] ^ T1[(s2 >> 16) & 0xFF] ^ T2[(s3 >> 8) & 0xFF] ^ T3[s0 & 0xFF] ^ rk[1];
    std::uint32_t t2 = T0[s2 >> 24] ^ T1[(s3 >> 16) & 0xFF] ^ T2[(s0 >> 8) & 0xFF] ^ T3[s1 & 0xFF] ^ rk[2];
    std::uint32_t t3 = T0[s3 >> 24] ^ T1[(s0 >> 16) & 0xFF] ^ T2[(s1 >> 8) & 0xFF] ^ T3[s2 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const auto& L0 = t.encLast[0];
  const auto& L1 = t.encLast[1];
  const auto& L2 = t.encLast[2];
  const auto& L3 = t.encLast[3];
  s[0] = L0[s0 >> 24] ^ L1[(s1 >> 16) & 0xFF] ^ L2[(s2 >> 8) & 0xFF] ^ L3[s3 & 0xFF] ^ rk[0];
  s[1] = L0[s1 >> 24] ^ L1[(s2 >> 16) & 0xFF] ^ L2[(s3 >> 8) & 0xFF] ^ L3[s0 & 0xFF] ^ rk[1];
  s[2] = L0[s2 >> 24] ^ L1[(s3 >> 16) & 0xFF] ^ L2[(s0 >> 8) & 0xFF] ^ L3[s1 & 0xFF] ^ rk[2];
  s[3] = L0[s3 >> 24] ^ L1[(s0 >> 16) & 0xFF] ^ L2[(s1 >> 8) & 0xFF] ^ L3[s2 & 0xFF] ^ rk[3];
}

// The equivalent inverse cipher: same shape, rows shifted the other way.
inline void decryptWords(const AesTables& t, const std::uint32_t* rk, int rounds, std::uint32_t s[4]) {
  const auto& T0 = t.dec[0];
  const auto& T1 = t.dec[1];
  const auto& T2 = t.dec[2];
  const auto& T3 = t.dec[3];
  std::uint32_t s0 = s[0] ^ rk[0], s1 = s[1] ^ rk[1], s2 = s[2] ^ rk[2], s3 = s[3] ^ rk[3];
  for (int r = 1; r < rounds; ++r) {
    rk += 4;
    std::uint32_t t0 = T0[s0 >> 24] ^ T1[(s3 >> 16) & 0xFF] ^ T2[(s2 >> 8) & 0xFF] ^ T3[s1 & 0xFF] ^ rk[0];
    std::uint32_t t1 = T0[s1 >> 24] ^ T1[(s0 >> 16) & 0xFF] ^ T2[(s3 >> 8) & 0xFF] ^ T3[s2 & 0xFF] ^ rk[1];
    std::uint32_t t2 = T0[s2 >> 24] ^ T1[(s1 >> 16) & 0xFF] ^ T2[(s0 >> 8) & 0xFF] ^ T3[s3 & 0xFF] ^ rk[2];
    std::uint32_t t3 = T0[s3 >> 24] ^ T1[(s2 >> 16) & 0xFF] ^ T2[(s1 >> 8) & 0xFF] ^ T3[s0 & 0xFF] ^ rk[3];
    s0 = t0;
    s1 = t1;
    s2 = t2;
    s3 = t3;
  }
  rk += 4;
  const auto& L0 = t.decLast[0];
  const auto& L1 = t.decLast[1];
  const auto& L2 = t.decLast[2];
  const auto& L3 = t.decLast[3];
  s[0] = L0[s0 >> 24] ^ L1[(s3 >> 16) & 0xFF] ^ L2[(s2 >> 8) & 0xFF] ^ L3[s1 & 0xFF] ^ rk[0];
  s[1] = L0[s1 >> 24] ^ L1[(s0 >> 16) & 0xFF] ^ L2[(s3 >> 8) & 0xFF] ^ L3[s2 & 0xFF] ^ rk[1];
  s[2] = L0[s2 >> 24] ^ L1[(s1 >> 16) & 0xFF] ^ L2[(s0 >> 8) & 0xFF] ^ L3[s3 & 0xFF] ^ rk[2];
  s[3] = L0[s3 >> 24] ^ L1[(s2 >> 16) & 0xFF] ^ L2[(s1 >> 8) & 0xFF] ^ L3[s0 & 0xFF] ^ rk[3];
}

}  // namespace

AesContext::AesContext() { aesTables(); }

void AesContext::configure(int keyBits) {
  direction_ = Direction::kNone;
  if (keyBits == 128 || keyBits == 192 || keyBits == 256) {
    keyWords_ = keyBits / 32;
    rounds_ = keyWords_ + 6;  // 4 -> 10, 6 -> 12, 8 -> 14
  } else {
    keyWords_ = 0;
    rounds_ = 0;
  }
}

bool AesContext::expandKey(std::string_view key, std::string_view iv) {
  direction_ = Direction::kNone;
  // The chain is set even when the key is refused, so it never holds a stale value.
  chain_.assign(kBlock, '\0');
  if (!iv.empty()) std::memcpy(chain_.data(), iv.data(), iv.size() < kBlock ? iv.size() : kBlock);
  const auto nk = static_cast<std::size_t>(keyWords_);
  if (nk == 0 || key.size() < 4 * nk) return false;

  const AesTables& t = aesTables();
  const unsigned char* k = bytesOf(key);
  const std::size_t total = 4 * (static_cast<std::size_t>(rounds_) + 1);
  std::uint32_t* w = roundKeys_.data();
  for (std::size_t i = 0; i < nk; ++i) w[i] = load32(k + 4 * i);
  auto subWord = [&t](std::uint32_t x) {
    return (std::uint32_t{t.sbox[x >> 24]} << 24) | (std::uint32_t{t.sbox[(x >> 16) & 0xFF]} << 16) |
           (std::uint32_t{t.sbox[(x >> 8) & 0xFF]} << 8) | t.sbox[x & 0xFF];
  };
  for (std::size_t i = nk; i < total; ++i) {
    std::uint32_t temp = w[i - 1];
    if (i % nk == 0) {
      temp = subWord((temp << 8) | (temp >> 24)) ^ (std::uint32_t{t.rcon[i / nk]} << 24);
    } else if (nk > 6 && i % nk == 4) {
      temp = subWord(temp);
    }
    w[i] = w[i - nk] ^ temp;
  }
  return true;
}

void AesContext::setEncryptKey(std::string_view key, std::string_view iv) {
  if (expandKey(key, iv)) direction_ = Direction::kEncrypt;
}

void AesContext::setDecryptKey(std::string_view key, std::string_view iv) {
  if (!expandKey(key, iv)) return;
  const AesTables& t = aesTables();
  const auto rounds = static_cast<std::size_t>(rounds_);
  std::uint32_t* w = roundKeys_.data();
  // InvMixColumns on the inner round keys; the dec tables include
  // InvSubBytes, so feed them the S-box value to cancel it.
  for (std::size_t i = 4; i < 4 * rounds; ++i) {
    std::uint32_t x = w[i];
    w[i] = t.dec[0][t.sbox[x >> 24]] ^ t.dec[1][t.sbox[(x >> 16) & 0xFF]] ^
           t.dec[2][t.sbox[(x >> 8) & 0xFF]] ^ t.dec[3][t.sbox[x & 0xFF]];
  }
  for (std::size_t lo = 0, hi = rounds; lo < hi; ++lo, --hi) {
    for (std::size_t c = 0; c < 4; ++c) std::swap(w[4 * lo + c], w[4 * hi + c]);
  }
  direction_ = Direction::kDecrypt;
}

Bytes AesContext::encryptCbc(std::string_view data) {
  if (direction_ != Direction::kEncrypt) return {};
  const std::size_t blocks = data.size() / kBlock;
  Bytes out(blocks * kBlock, '\0');
  if (blocks == 0) return out;
  const AesTables& t = aesTables();
  const unsigned char* in = bytesOf(data);
  unsigned char* o = bytesOf(out);
  unsigned char* c = bytesOf(chain_);
  std::uint32_t s[4] = {load32(c), load32(c + 4), load32(c + 8), load32(c + 12)};
  for (std::size_t b = 0; b < blocks; ++b, in += kBlock, o += kBlock) {
    for (int k = 0; k < 4; ++k) s[k] ^= load32(in + 4 * k);
    encryptWords(t, roundKeys_.data(), rounds_, s);
    for (int k = 0; k < 4; ++k) store32(o + 4 * k, s[k]);
  }
  std::memcpy(c, o - kBlock, kBlock);
  return out;
}

Bytes AesContext::decryptCbc(std::string_view data) {
  if (direction_ != Direction::kDecrypt) return {};
  const std::size_t blocks = data.size() / kBlock;
  Bytes out(blocks * kBlock, '\0');
  if (blocks == 0) return out;
  const AesTables& t = aesTables();
  const unsigned char* in = bytesOf(data);
  unsigned char* o = bytesOf(out);
  unsigned char* c = bytesOf(chain_);
  std::uint32_t prev[4] = {load32(c), load32(c + 4), load32(c + 8), load32(c + 12)};
  for (std::size_t b = 0; b < blocks; ++b, in += kBlock, o += kBlock) {
    std::uint32_t cipher[4] = {load32(in), load32(in + 4), load32(in + 8), load32(in + 12)};
    std::uint32_t s[4] = {cipher[0], cipher[1], cipher[2], cipher[3]};
    decryptWords(t, roundKeys_.data(), rounds_, s);
    for (int k = 0; k < 4; ++k) {
      store32(o + 4 * k, s[k] ^ prev[k]);
      prev[k] = cipher[k];
    }
  }
  std::memmove(c, in - kBlock, kBlock);  // data may be a view of the chain itself
  return out;
}

Bytes AesContext::encryptBlock(std::string_view block) const {
  if (direction_ != Direction::kEncrypt || block.size() != kBlock) return {};
  const unsigned char* in = bytesOf(block);
  std::uint32_t s[4] = {load32(in), load32(in + 4), load32(in + 8), load32(in + 12)};
  encryptWords(aesTables(), roundKeys_.data(), rounds_, s);
  Bytes out(kBlock, '\0');
  for (int k = 0; k < 4; ++k) store32(bytesOf(out) + 4 * k, s[k]);
  return out;
}

Bytes AesContext::decryptBlock(std::string_view block) const {
  if (direction_ != Direction::kDecrypt || block.size() != kBlock) return {};
  const unsigned char* in = bytesOf(block);
  std::uint32_t s[4] = {load32(in), load32(in + 4), load32(in + 8), load32(in + 12)};
  decryptWords(aesTables(), roundKeys_.data(), rounds_, s);
  Bytes out(kBlock, '\0');
  for (int k = 0; k < 4; ++k) store32(bytesOf(out) + 4 * k, s[k]);
  return out;
}

bool AesContext::encryptBlock(const unsigned char in[16], unsigned char out[16]) const {
  if (direction_ != Direction::kEncrypt) return false;
  std::uint32_t s[4] = {load32(in), load32(in + 4), load32(in + 8), load32(in + 12)};
  encryptWords(aesTables(), roundKeys_.data(), rounds_, s);
  for (int k = 0; k < 4; ++k) store32(out + 4 * k, s[k]);
  return true;
}

bool AesContext::encryptCtr32(unsigned char counter[16], const unsigned char* in, unsigned char* out,
                              std::size_t length) const {
  if (direction_ != Direction::kEncrypt) return false;
  const AesTables& t = aesTables();
  const std::uint32_t c0 = load32(counter), c1 = load32(counter + 4), c2 = load32(counter + 8);
  std::uint32_t c3 = load32(counter + 12);
  for (; length >= kBlock; length -= kBlock, in += kBlock, out += kBlock) {
    std::uint32_t s[4] = {c0, c1, c2, c3++};
    encryptWords(t, roundKeys_.data(), rounds_, s);
    for (int k = 0; k < 4; ++k) store32(out + 4 * k, load32(in + 4 * k) ^ s[k]);
  }
  if (length != 0) {
    std::uint32_t s[4] = {c0, c1, c2, c3++};
    encryptWords(t, roundKeys_.data(), rounds_, s);
    unsigned char stream[kBlock];
    for (int k = 0; k < 4; ++k) store32(stream + 4 * k, s[k]);
    for (std::size_t k = 0; k < length; ++k) out[k] = static_cast<unsigned char>(in[k] ^ stream[k]);
  }
  store32(counter + 12, c3);
  return true;
}

}  // namespace qv
