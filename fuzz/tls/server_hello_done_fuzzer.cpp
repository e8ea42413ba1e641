// A ServerHelloDone body (and whatever follows it in the same fragment) to
// a client that read the server's hello and certificate. First byte: bit 0
// leaves out the certificate, bit 1 adds an empty CertificateRequest, bits
// 2-3 choose the suite.
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  fuzz::smallIdentity();
  if (size == 0) return 0;
  static const std::vector<TlsConnection> bases = [] {
    std::vector<TlsConnection> made;
    for (int k = 0; k < 8; ++k)
      made.push_back(fuzz::startedClient(true, (k & 1) == 0, fuzz::kSuites[k >> 1]));
    return made;
  }();
  TlsConnection client = bases[(data[0] & 1) | (((data[0] >> 2) & 3) << 1)];
  TlsConnectionTestPeer peer(client);
  if ((data[0] & 2) != 0) {
    peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeCertificateRequest, Bytes("\x01\x01\x00\x00", 4)));
  }
  const std::string_view rest = fuzz::asText(data + 1, size - 1);
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeServerHelloDone, rest.substr(0, rest.size() / 2)) +
                        Bytes(rest.substr(rest.size() / 2)));
  client.SendApplicationData("more");
  return 0;
}
