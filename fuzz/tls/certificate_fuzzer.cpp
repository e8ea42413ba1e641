// ParseCertificateChain on arbitrary chains. Input: one mode byte (0 parse
// only, 1 verify against the test CA, 2 parse with a private key taken from
// the last element), then certificates each behind a 3-byte length.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/certificate.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::loadFixtures();
  if (size == 0) return 0;
  const std::uint8_t mode = data[0] % 3;
  std::vector<qv::Bytes> chain;
  std::size_t at = 1;
  while (at < size) {
    std::size_t length = 0;
    for (int k = 0; k < 3 && at < size; ++k) length = (length << 8) | data[at++];
    if (length > size - at) length = size - at;
    chain.emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  static const qv::TlsLog log = qv::fuzz::fuzzLog();
  if (mode == 2 && !chain.empty()) {
    const qv::Bytes key = chain.back();
    qv::ParseCertificateChain(chain, key.size() >= 2 ? key : qv::Bytes("  "), log);
  } else {
    qv::ParseCertificateChain(chain, mode == 1 ? "" : " ", log);
  }
  qv::NameText(chain.empty() ? qv::Bytes() : chain.front());
  return 0;
}
