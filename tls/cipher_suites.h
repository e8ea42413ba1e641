#pragma once
// The four cipher suites this engine knows, in the order a client offers them.
#include <cstddef>
#include <cstdint>
#include <string_view>

namespace qv {

inline constexpr std::string_view kOfferedSuites{"\x00\x2F\x00\x35\x00\x04\x00\x05", 8};

enum class CipherKind { kNone, kRc4, kAes128Cbc, kAes256Cbc, kAes128Gcm, kAes256Gcm, kChaCha20Poly1305 };
enum class MacKind { kNone, kMd5, kSha1 };

struct SuiteParameters {
  CipherKind cipher = CipherKind::kNone;
  MacKind mac = MacKind::kNone;
};

// Each takes the two suite bytes; unknown suites have no cipher and no MAC.
bool IsSupportedSuite(std::string_view suite);
SuiteParameters SuiteParametersOf(std::string_view suite);

// MAC 20/16/0; key 16 (RC4, AES-128), 32 (AES-256), 0; IV and block 16 for
// AES, else 0 and 1.
std::size_t MacLength(MacKind mac);
std::size_t KeyLength(CipherKind cipher);
std::size_t IvLength(CipherKind cipher);
std::size_t BlockLength(CipherKind cipher);
bool IsBlockCipher(CipherKind cipher);
// AES-GCM and ChaCha20-Poly1305 (TLS 1.2 only): no MAC, no padding, a tag
// (and for GCM an explicit nonce) per record.
bool IsAeadCipher(CipherKind cipher);
// Bytes an AEAD record adds to its plaintext (24 for GCM, 16 for ChaCha20-Poly1305).
std::size_t AeadRecordOverhead(CipherKind cipher);

}  // namespace qv
