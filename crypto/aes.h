#pragma once
// AES (128-, 192- and 256-bit keys) in CBC and counter mode: AES-NI when the
// CPU has it, otherwise a constant-time bitsliced form (crypto/aes_bitsliced.h).
#include <array>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// One direction of one connection. The chaining value carries over between
// calls, so consecutive encryptCbc/decryptCbc calls continue one CBC stream.
class AesContext {
 public:
  // Starts with the sizes of a 128-bit key, an empty chain and no key.
  AesContext();

  // keyBits 128, 192 or 256; anything else leaves the context without a key
  // size (keyWords() == rounds() == 0) and it will not process data.
  void configure(int keyBits);

  // chain = first 16 bytes of iv (zero-extended when shorter); the first
  // 4 * keyWords() bytes of key are expanded. A key that is too short or an
  // unconfigured size leaves the context without a key.
  void setEncryptKey(std::string_view key, std::string_view iv);
  // As setEncryptKey, then converts to the equivalent inverse cipher schedule.
  void setDecryptKey(std::string_view key, std::string_view iv);

  // Whole 16-byte blocks only; a trailing partial block is dropped. Without a
  // key of the matching direction the result is empty.
  Bytes encryptCbc(std::string_view data);
  Bytes decryptCbc(std::string_view data);

  // One block with the current schedule; empty when block is not 16 bytes or
  // the context holds no key of that direction.
  Bytes encryptBlock(std::string_view block) const;
  Bytes decryptBlock(std::string_view block) const;

  // Fast paths for the counter modes; both need an encryption key (without
  // one they do nothing and return false). One block, in and out may alias.
  bool encryptBlock(const unsigned char in[16], unsigned char out[16]) const;
  // Counter mode with a 32-bit big-endian counter in the last four bytes of
  // counter (as GCM): out = in XOR E(counter), E(counter + 1), ...; length
  // need not be a multiple of 16. counter is advanced past the blocks used.
  // in and out may be the same buffer.
  bool encryptCtr32(unsigned char counter[16], const unsigned char* in, unsigned char* out,
                    std::size_t length) const;

  int keyWords() const { return keyWords_; }
  int rounds() const { return rounds_; }
  const Bytes& chain() const { return chain_; }
  bool hasEncryptKey() const { return direction_ == Direction::kEncrypt; }
  bool hasDecryptKey() const { return direction_ == Direction::kDecrypt; }
  // Whether the current key runs on AES-NI (chosen when the key was set).
  bool usesHardware() const { return hardware_; }

 private:
  enum class Direction : std::uint8_t { kNone, kEncrypt, kDecrypt };

  bool expandKey(std::string_view key, std::string_view iv);

  std::int32_t keyWords_ = 4;
  std::int32_t rounds_ = 10;
  // AES-NI: 16 bytes per round key; bitsliced: 8 words per round key.
  std::array<std::uint64_t, 120> schedule_{};
  Bytes chain_;
  Direction direction_ = Direction::kNone;
  bool hardware_ = false;
};

}  // namespace qv
