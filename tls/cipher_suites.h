#pragma once
// The four cipher suites this engine knows, in the order a client offers them.
#include <cstdint>
#include <string_view>

namespace qv {

inline constexpr std::string_view kOfferedSuites{"\x00\x2F\x00\x35\x00\x04\x00\x05", 8};

// cipherAlgorithm values.
inline constexpr std::uint32_t kCipherNone = 0;
inline constexpr std::uint32_t kCipherRc4 = 1;
inline constexpr std::uint32_t kCipherAes128 = 2;
inline constexpr std::uint32_t kCipherAes256 = 3;
// macAlgorithm values.
inline constexpr std::uint32_t kMacNone = 0;
inline constexpr std::uint32_t kMacMd5 = 1;
inline constexpr std::uint32_t kMacSha1 = 2;
// cipherType values.
inline constexpr std::uint32_t kStreamCipher = 0;
inline constexpr std::uint32_t kBlockCipher = 1;

// Each takes the two suite bytes; unknown suites give false, 0, 0, 1 and 0.
bool IsSupportedSuite(std::string_view suite);
std::uint32_t SuiteCipherAlgorithm(std::string_view suite);
std::uint32_t SuiteMacAlgorithm(std::string_view suite);
std::uint32_t SuiteBlockSize(std::string_view suite);
std::uint32_t SuiteCipherType(std::string_view suite);

// Sizes by algorithm: MAC 20/16/0, key 16/16/32/0, IV 16 for AES else 0.
std::size_t MacLength(std::uint32_t macAlgorithm);
std::size_t KeyLength(std::uint32_t cipherAlgorithm);
std::size_t IvLength(std::uint32_t cipherAlgorithm);

}  // namespace qv
