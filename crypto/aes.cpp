#include "crypto/aes.h"

#include <cstring>

#include "crypto/aes_bitsliced.h"
#include "crypto/aes_ni.h"
#include "crypto/cpu_features.h"

namespace qv {

namespace {

constexpr std::size_t kBlock = 16;
constexpr std::size_t kLanes = bitsliced::kBlocks;
constexpr std::size_t kWide = bitsliced::kWideBlocks;

inline const unsigned char* bytesOf(std::string_view s) {
  return reinterpret_cast<const unsigned char*>(s.data());
}
inline unsigned char* bytesOf(Bytes& s) { return reinterpret_cast<unsigned char*>(s.data()); }

inline void xorInto(unsigned char* out, const unsigned char* a, const unsigned char* b, std::size_t n) {
  for (std::size_t k = 0; k < n; ++k) out[k] = static_cast<unsigned char>(a[k] ^ b[k]);
}

inline std::uint32_t loadBe32(const unsigned char* p) {
  return (std::uint32_t{p[0]} << 24) | (std::uint32_t{p[1]} << 16) | (std::uint32_t{p[2]} << 8) | p[3];
}

inline void storeBe32(unsigned char* p, std::uint32_t w) {
  p[0] = static_cast<unsigned char>(w >> 24);
  p[1] = static_cast<unsigned char>(w >> 16);
  p[2] = static_cast<unsigned char>(w >> 8);
  p[3] = static_cast<unsigned char>(w);
}

}  // namespace

AesContext::AesContext() { cpuFeatures(); }

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
  hardware_ = aesHardwareActive();
  if (hardware_) {
    aesni::expandEncryptKey(bytesOf(key), keyWords_, rounds_,
                            reinterpret_cast<unsigned char*>(schedule_.data()));
  } else {
    bitsliced::expandKey(bytesOf(key), keyWords_, rounds_, schedule_.data());
  }
  return true;
}

void AesContext::setEncryptKey(std::string_view key, std::string_view iv) {
  if (!expandKey(key, iv)) return;
  if (!hardware_) bitsliced::toEncryptSchedule(schedule_.data(), rounds_);
  direction_ = Direction::kEncrypt;
}

void AesContext::setDecryptKey(std::string_view key, std::string_view iv) {
  if (!expandKey(key, iv)) return;
  // The bitsliced inverse cipher runs the encryption schedule backwards.
  if (hardware_) {
    unsigned char encryptKeys[240];
    std::memcpy(encryptKeys, schedule_.data(), sizeof encryptKeys);
    aesni::toDecryptKey(encryptKeys, rounds_, reinterpret_cast<unsigned char*>(schedule_.data()));
  }
  direction_ = Direction::kDecrypt;
}

Bytes AesContext::encryptCbc(std::string_view data) {
  if (direction_ != Direction::kEncrypt) return {};
  const std::size_t blocks = data.size() / kBlock;
  Bytes out(blocks * kBlock, '\0');
  if (blocks == 0) return out;
  const unsigned char* in = bytesOf(data);
  unsigned char* o = bytesOf(out);
  unsigned char* c = bytesOf(chain_);
  if (hardware_) {
    aesni::encryptCbc(reinterpret_cast<const unsigned char*>(schedule_.data()), rounds_, c, in, o, blocks);
    return out;
  }
  bitsliced::encryptCbc(schedule_.data(), rounds_, c, in, o, blocks);
  return out;
}

Bytes AesContext::decryptCbc(std::string_view data) {
  if (direction_ != Direction::kDecrypt) return {};
  const std::size_t blocks = data.size() / kBlock;
  Bytes out(blocks * kBlock, '\0');
  if (blocks == 0) return out;
  const unsigned char* in = bytesOf(data);
  unsigned char* o = bytesOf(out);
  unsigned char* c = bytesOf(chain_);
  if (hardware_) {
    aesni::decryptCbc(reinterpret_cast<const unsigned char*>(schedule_.data()), rounds_, c, in, o, blocks);
    return out;
  }
  unsigned char prev[kBlock];
  std::memcpy(prev, c, kBlock);
  unsigned char lanes[kBlock * kWide];
  for (std::size_t done = 0; done < blocks;) {
    const std::size_t n = blocks - done < kWide ? blocks - done : kWide;
    std::memcpy(lanes, in, n * kBlock);
    if (n > kLanes) {
      bitsliced::decrypt8(schedule_.data(), rounds_, lanes);
    } else {
      bitsliced::decrypt4(schedule_.data(), rounds_, lanes);
    }
    xorInto(o, lanes, prev, kBlock);
    xorInto(o + kBlock, lanes + kBlock, in, (n - 1) * kBlock);
    std::memcpy(prev, in + (n - 1) * kBlock, kBlock);
    in += n * kBlock;
    o += n * kBlock;
    done += n;
  }
  std::memcpy(c, prev, kBlock);  // data may be a view of the chain itself
  return out;
}

Bytes AesContext::encryptBlock(std::string_view block) const {
  if (direction_ != Direction::kEncrypt || block.size() != kBlock) return {};
  Bytes out(kBlock, '\0');
  encryptBlock(bytesOf(block), bytesOf(out));
  return out;
}

Bytes AesContext::decryptBlock(std::string_view block) const {
  if (direction_ != Direction::kDecrypt || block.size() != kBlock) return {};
  Bytes out(kBlock, '\0');
  if (hardware_) {
    aesni::decryptBlock(reinterpret_cast<const unsigned char*>(schedule_.data()), rounds_, bytesOf(block),
                        bytesOf(out));
    return out;
  }
  bitsliced::decrypt1(schedule_.data(), rounds_, bytesOf(block), bytesOf(out));
  return out;
}

bool AesContext::encryptBlock(const unsigned char in[16], unsigned char out[16]) const {
  if (direction_ != Direction::kEncrypt) return false;
  if (hardware_) {
    aesni::encryptBlock(reinterpret_cast<const unsigned char*>(schedule_.data()), rounds_, in, out);
    return true;
  }
  bitsliced::encrypt1(schedule_.data(), rounds_, in, out);
  return true;
}

bool AesContext::encryptCtr32(unsigned char counter[16], const unsigned char* in, unsigned char* out,
                              std::size_t length) const {
  if (direction_ != Direction::kEncrypt) return false;
  if (hardware_) {
    aesni::encryptCtr32(reinterpret_cast<const unsigned char*>(schedule_.data()), rounds_, counter, in, out,
                        length);
    return true;
  }
  std::uint32_t n = loadBe32(counter + 12);
  unsigned char stream[kBlock * kWide];
  while (length != 0) {
    const std::size_t lanes = length > kBlock * kLanes ? kWide : kLanes;
    for (std::size_t j = 0; j < lanes; ++j) {
      std::memcpy(stream + kBlock * j, counter, 12);
      storeBe32(stream + kBlock * j + 12, n + static_cast<std::uint32_t>(j));
    }
    if (lanes == kWide) {
      bitsliced::encrypt8(schedule_.data(), rounds_, stream);
    } else {
      bitsliced::encrypt4(schedule_.data(), rounds_, stream);
    }
    const std::size_t take = length < kBlock * lanes ? length : kBlock * lanes;
    xorInto(out, in, stream, take);
    n += static_cast<std::uint32_t>((take + kBlock - 1) / kBlock);
    in += take;
    out += take;
    length -= take;
  }
  storeBe32(counter + 12, n);
  return true;
}

}  // namespace qv
