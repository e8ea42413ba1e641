#include "tls/cipher_suites.h"

namespace qv {

namespace {

struct SuiteRow {
  std::uint8_t low;
  SuiteParameters parameters;
};

constexpr SuiteRow kSuites[] = {
    {0x2F, {CipherKind::kAes128Cbc, MacKind::kSha1}},
    {0x35, {CipherKind::kAes256Cbc, MacKind::kSha1}},
    {0x04, {CipherKind::kRc4, MacKind::kMd5}},
    {0x05, {CipherKind::kRc4, MacKind::kSha1}},
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

SuiteParameters SuiteParametersOf(std::string_view suite) {
  const SuiteRow* row = findSuite(suite);
  return row ? row->parameters : SuiteParameters{};
}

std::size_t MacLength(MacKind mac) {
  if (mac == MacKind::kSha1) return 20;
  if (mac == MacKind::kMd5) return 16;
  return 0;
}

std::size_t KeyLength(CipherKind cipher) {
  if (cipher == CipherKind::kRc4 || cipher == CipherKind::kAes128Cbc) return 16;
  if (cipher == CipherKind::kAes256Cbc) return 32;
  return 0;
}

bool IsBlockCipher(CipherKind cipher) {
  return cipher == CipherKind::kAes128Cbc || cipher == CipherKind::kAes256Cbc;
}

bool IsAeadCipher(CipherKind cipher) {
  return cipher == CipherKind::kAes128Gcm || cipher == CipherKind::kAes256Gcm ||
         cipher == CipherKind::kChaCha20Poly1305;
}

std::size_t AeadRecordOverhead(CipherKind cipher) {
  return cipher == CipherKind::kChaCha20Poly1305 ? 16 : 24;
}

std::size_t IvLength(CipherKind cipher) { return IsBlockCipher(cipher) ? 16 : 0; }

std::size_t BlockLength(CipherKind cipher) { return IsBlockCipher(cipher) ? 16 : 1; }

}  // namespace qv
