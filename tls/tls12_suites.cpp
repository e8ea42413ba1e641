#include "tls/tls12_suites.h"

namespace qv {

namespace {

constexpr Tls12Suite kSuites[] = {
    {0xC02B, "ECDHE-ECDSA-AES128-GCM-SHA256", KeyExchange::kEcdheEcdsa, RecordCipher::kAesGcm, 16, 0, 4,
     HashAlgorithm::kSha256},
    {0xC02C, "ECDHE-ECDSA-AES256-GCM-SHA384", KeyExchange::kEcdheEcdsa, RecordCipher::kAesGcm, 32, 0, 4,
     HashAlgorithm::kSha384},
    {0xCCA9, "ECDHE-ECDSA-CHACHA20-POLY1305", KeyExchange::kEcdheEcdsa, RecordCipher::kChaCha20Poly1305, 32,
     0, 12, HashAlgorithm::kSha256},
    {0xCCA8, "ECDHE-RSA-CHACHA20-POLY1305", KeyExchange::kEcdheRsa, RecordCipher::kChaCha20Poly1305, 32, 0,
     12, HashAlgorithm::kSha256},
    {0xC009, "ECDHE-ECDSA-AES128-SHA", KeyExchange::kEcdheEcdsa, RecordCipher::kAesCbc, 16, 20, 0,
     HashAlgorithm::kSha256},
    {0xC00A, "ECDHE-ECDSA-AES256-SHA", KeyExchange::kEcdheEcdsa, RecordCipher::kAesCbc, 32, 20, 0,
     HashAlgorithm::kSha256},
    {0xC02F, "ECDHE-RSA-AES128-GCM-SHA256", KeyExchange::kEcdheRsa, RecordCipher::kAesGcm, 16, 0, 4,
     HashAlgorithm::kSha256},
    {0xC030, "ECDHE-RSA-AES256-GCM-SHA384", KeyExchange::kEcdheRsa, RecordCipher::kAesGcm, 32, 0, 4,
     HashAlgorithm::kSha384},
    {0x009C, "RSA-AES128-GCM-SHA256", KeyExchange::kRsa, RecordCipher::kAesGcm, 16, 0, 4,
     HashAlgorithm::kSha256},
    {0x009D, "RSA-AES256-GCM-SHA384", KeyExchange::kRsa, RecordCipher::kAesGcm, 32, 0, 4,
     HashAlgorithm::kSha384},
    {0xC013, "ECDHE-RSA-AES128-SHA", KeyExchange::kEcdheRsa, RecordCipher::kAesCbc, 16, 20, 0,
     HashAlgorithm::kSha256},
    {0xC014, "ECDHE-RSA-AES256-SHA", KeyExchange::kEcdheRsa, RecordCipher::kAesCbc, 32, 20, 0,
     HashAlgorithm::kSha256},
    {0x002F, "AES128-SHA", KeyExchange::kRsa, RecordCipher::kAesCbc, 16, 20, 0, HashAlgorithm::kSha256},
    {0x0035, "AES256-SHA", KeyExchange::kRsa, RecordCipher::kAesCbc, 32, 20, 0, HashAlgorithm::kSha256},
};

}  // namespace

const Tls12Suite* FindTls12Suite(std::string_view suite) {
  if (suite.size() != 2) return nullptr;
  const auto id = static_cast<std::uint16_t>((static_cast<std::uint8_t>(suite[0]) << 8) |
                                             static_cast<std::uint8_t>(suite[1]));
  for (const Tls12Suite& row : kSuites) {
    if (row.id == id) return &row;
  }
  return nullptr;
}

}  // namespace qv
