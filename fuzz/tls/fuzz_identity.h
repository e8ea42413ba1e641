#pragma once
// The test CA, a server certificate and its key, loaded once per fuzzer.
#include "tests/tls/test_certificates.h"
#include "tls/certificate.h"
#include "tls/tls_log.h"
#include "xml/byte_string.h"

namespace qv::fuzz {

inline Bytes fromHex(const char* hex) {
  Bytes out;
  for (const char* p = hex; p[0] != '\0' && p[1] != '\0'; p += 2) {
    const auto nibble = [](char c) { return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10; };
    out += static_cast<char>(nibble(p[0]) * 16 + nibble(p[1]));
  }
  return out;
}

// Every line but the level-9 hex dumps is built (so its text is fuzzed
// too) and dropped.
inline TlsLog fuzzLog(std::string prefix = {}) {
  TlsLog log;
  log.enabled = [](int level) { return level < 9; };
  log.write = [](int, std::string_view) {};
  log.prefix = std::move(prefix);
  return log;
}

inline void loadFixtures() {
  static const bool loaded = [] {
    LoadOwnIdentity({fromHex(test::kServerHex), fromHex(test::kCaHex)}, fromHex(test::kServerKeyHex),
                    fuzzLog());
    AddTrustRoot(ParseCertificateChain({fromHex(test::kCaHex)}, " ", fuzzLog()));
    return true;
  }();
  (void)loaded;
}

// Cuts the input into the pieces a socket might deliver: each piece is
// preceded by one byte giving its length (0 = the rest).
template <typename Sink>
void feedInPieces(const std::uint8_t* data, std::size_t size, Sink&& sink) {
  std::size_t at = 0;
  while (at < size) {
    std::size_t length = data[at++];
    if (length == 0 || length > size - at) length = size - at;
    sink(std::string_view(reinterpret_cast<const char*>(data + at), length));
    at += length;
  }
}

}  // namespace qv::fuzz
