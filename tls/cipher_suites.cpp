#include "tls/cipher_suites.h"

namespace qv {

namespace {

struct SuiteRow {
  std::uint8_t low;
  std::uint32_t cipherAlgorithm;
  std::uint32_t macAlgorithm;
  std::uint32_t blockSize;
  std::uint32_t cipherType;
};

constexpr SuiteRow kSuites[] = {
    {0x2F, kCipherAes128, kMacSha1, 16, kBlockCipher},
    {0x35, kCipherAes256, kMacSha1, 16, kBlockCipher},
    {0x04, kCipherRc4, kMacMd5, 1, kStreamCipher},
    {0x05, kCipherRc4, kMacSha1, 1, kStreamCipher},
};

const SuiteRow* findSuite(std::string_view suite) {
  if (suite.size() != 2 || suite[0] != '\0') return nullptr;
  for (const SuiteRow& row : kSuites) {
    if (static_cast<std::uint8_t>(suite[1]) == row.low) return &row;
  }
  return nullptr;
}

}  // namespace

bool IsSupportedSuite(std::string_view suite) { return findSuite(suite) != nullptr; }

std::uint32_t SuiteCipherAlgorithm(std::string_view suite) {
  const SuiteRow* row = findSuite(suite);
  return row ? row->cipherAlgorithm : kCipherNone;
}

std::uint32_t SuiteMacAlgorithm(std::string_view suite) {
  const SuiteRow* row = findSuite(suite);
  return row ? row->macAlgorithm : kMacNone;
}

std::uint32_t SuiteBlockSize(std::string_view suite) {
  const SuiteRow* row = findSuite(suite);
  return row ? row->blockSize : 1;
}

std::uint32_t SuiteCipherType(std::string_view suite) {
  const SuiteRow* row = findSuite(suite);
  return row ? row->cipherType : kStreamCipher;
}

std::size_t MacLength(std::uint32_t macAlgorithm) {
  if (macAlgorithm == kMacSha1) return 20;
  if (macAlgorithm == kMacMd5) return 16;
  return 0;
}

std::size_t KeyLength(std::uint32_t cipherAlgorithm) {
  if (cipherAlgorithm == kCipherRc4 || cipherAlgorithm == kCipherAes128) return 16;
  if (cipherAlgorithm == kCipherAes256) return 32;
  return 0;
}

std::size_t IvLength(std::uint32_t cipherAlgorithm) {
  return (cipherAlgorithm == kCipherAes128 || cipherAlgorithm == kCipherAes256) ? 16 : 0;
}

}  // namespace qv
