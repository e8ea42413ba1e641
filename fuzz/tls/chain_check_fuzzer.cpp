// The server-certificate check with verification on, over arbitrary chains.
// Input: one mode byte (bit 0: pin the test certificate too; bit 1: the
// first certificate of the input is also trusted), then certificates each
// behind a 3-byte length. The trusted root is the 1024-bit test CA, so the
// RSA work per signature stays small.
#include <cstddef>
#include <cstdint>
#include <vector>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/certificate_policy.h"
#include "tls/x509_fields.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  if (size == 0) return 0;
  static const qv::Bytes testCa = qv::fuzz::fromHex(qv::test::kCaHex);
  static const qv::Bytes testLeaf = qv::fuzz::fromHex(qv::test::kBigHex);
  const std::uint8_t mode = data[0];
  std::vector<qv::Bytes> chain;
  std::size_t at = 1;
  while (at < size) {
    std::size_t length = 0;
    for (int k = 0; k < 3 && at < size; ++k) length = (length << 8) | data[at++];
    if (length > size - at) length = size - at;
    chain.emplace_back(reinterpret_cast<const char*>(data + at), length);
    at += length;
  }
  qv::CertificatePolicy policy;
  policy.verifyChain = true;
  policy.trustedRoots.push_back(testCa);
  if ((mode & 2) != 0 && !chain.empty()) policy.trustedRoots.push_back(chain.front());
  if ((mode & 1) != 0) qv::ParsePins(qv::FingerprintText(testLeaf), policy.pins);
  policy.serverName = "big.example.com";
  policy.address = "127.0.0.1";
  const qv::CertificateVerdict verdict = qv::CheckServerCertificates(chain, policy, 1800000000);
  // An accepted chain must end at the trusted root: nothing else is signed by it.
  if (verdict.accepted && (mode & 2) == 0 && chain.size() == 1 && chain.front() != testLeaf) {
    qv::X509Fields fields;
    std::string problem;
    if (!qv::ReadX509Fields(chain.front(), fields, problem)) __builtin_trap();
  }
  if (!verdict.accepted && verdict.logLine.empty()) __builtin_trap();
  return 0;
}
