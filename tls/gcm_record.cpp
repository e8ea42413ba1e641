#include "tls/gcm_record.h"

namespace qv {

namespace {

Bytes additionalData(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                     std::size_t length) {
  Bytes aad = sequenceBytes(sequence);
  aad += static_cast<char>(type);
  aad.append(version.substr(0, 2));
  aad += uintToBytes(static_cast<std::uint32_t>(length), 2);
  return aad;
}

}  // namespace

Bytes sequenceBytes(std::uint64_t sequence) {
  Bytes out(8, '\0');
  for (int k = 7; k >= 0; --k, sequence >>= 8)
    out[static_cast<std::size_t>(k)] = static_cast<char>(sequence & 0xFF);
  return out;
}

bool GcmRecordCipher::SetKey(std::string_view key, std::string_view salt) {
  salt_.clear();
  if ((key.size() != 16 && key.size() != 32) || salt.size() != 4) {
    aead_ = AesGcm();
    return false;
  }
  salt_ = Bytes(salt);
  return aead_.setKey(key);
}

Bytes GcmRecordCipher::Seal(std::uint64_t sequence, std::uint8_t type, std::string_view version,
                            std::string_view plaintext) const {
  if (!HasKey()) return {};
  const Bytes explicitNonce = sequenceBytes(sequence);
  const Bytes sealed =
      aead_.seal(salt_ + explicitNonce, additionalData(sequence, type, version, plaintext.size()), plaintext);
  if (sealed.empty()) return {};
  return explicitNonce + sealed;
}

std::optional<Bytes> GcmRecordCipher::Open(std::uint64_t sequence, std::uint8_t type,
                                           std::string_view version, std::string_view fragment) const {
  if (!HasKey() || fragment.size() < kGcmRecordOverhead) return std::nullopt;
  const std::string_view explicitNonce = fragment.substr(0, kGcmExplicitNonceSize);
  const std::string_view sealed = fragment.substr(kGcmExplicitNonceSize);
  return aead_.open(salt_ + Bytes(explicitNonce),
                    additionalData(sequence, type, version, sealed.size() - kGcmTagSize), sealed);
}

}  // namespace qv
