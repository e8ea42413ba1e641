#include "tls/cbc_record.h"

#include "crypto/hmac.h"
#include "tls/gcm_record.h"

namespace qv {

namespace {

Bytes recordMac(std::string_view macKey, std::uint64_t sequence, std::uint8_t type, std::string_view version,
                std::string_view content) {
  Bytes data = sequenceBytes(sequence);
  data.reserve(13 + content.size());
  data += static_cast<char>(type);
  data.append(version.substr(0, 2));
  data += uintToBytes(static_cast<std::uint32_t>(content.size()), 2);
  data.append(content);
  return hmacSha1(macKey, data);
}

}  // namespace

Bytes SealCbcRecord(AesContext& cipher, std::string_view macKey, std::uint64_t sequence, std::uint8_t type,
                    std::string_view version, std::string_view plaintext, std::string_view randomBlock) {
  if (!cipher.hasEncryptKey() || randomBlock.size() != kCbcBlock) return {};
  Bytes data(randomBlock);
  data.reserve(kCbcBlock + plaintext.size() + kCbcMacLength + kCbcBlock);
  data.append(plaintext);
  data += recordMac(macKey, sequence, type, version, plaintext);
  const std::size_t padding = kCbcBlock - 1 - (data.size() % kCbcBlock);
  data.append(padding + 1, static_cast<char>(padding));
  return cipher.encryptCbc(data);
}

std::optional<Bytes> OpenCbcRecord(AesContext& cipher, std::string_view macKey, std::uint64_t sequence,
                                   std::uint8_t type, std::string_view version, std::string_view fragment) {
  // IV, then at least MAC and one padding byte in whole blocks.
  if (!cipher.hasDecryptKey() || fragment.size() % kCbcBlock != 0 || fragment.size() < 3 * kCbcBlock) {
    return std::nullopt;
  }
  Bytes data = cipher.decryptCbc(fragment);
  data.erase(0, kCbcBlock);
  const std::size_t padding = static_cast<std::uint8_t>(data.back());
  bool intact = true;
  std::size_t contentEnd;
  if (padding + 1 + kCbcMacLength > data.size()) {
    // MAC checked as if unpadded, so a bad padding costs what a bad MAC does.
    intact = false;
    contentEnd = data.size() - kCbcMacLength;
  } else {
    unsigned char difference = 0;
    for (std::size_t k = data.size() - padding - 1; k < data.size(); ++k) {
      difference |= static_cast<unsigned char>(data[k] ^ static_cast<char>(padding));
    }
    intact = difference == 0;
    contentEnd = data.size() - padding - 1 - kCbcMacLength;
  }
  const std::string_view content = std::string_view(data).substr(0, contentEnd);
  const Bytes expected = recordMac(macKey, sequence, type, version, content);
  unsigned char difference = 0;
  for (std::size_t k = 0; k < kCbcMacLength; ++k) {
    difference |= static_cast<unsigned char>(data[contentEnd + k] ^ expected[k]);
  }
  if (!intact || difference != 0) return std::nullopt;
  data.resize(contentEnd);
  return data;
}

}  // namespace qv
