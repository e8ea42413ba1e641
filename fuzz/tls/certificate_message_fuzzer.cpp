// A Certificate body to a client that read the ServerHello; ServerHelloDone
// follows so an accepted key is used. First byte: bit 0 verifies against
// the test CA (the chain and the name pbx.example.com).
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  fuzz::smallIdentity();
  fuzz::loadFixtures();
  if (size == 0) return 0;
  static const TlsConnection base = fuzz::startedClient(true, false);
  TlsConnection client = base;
  client.SetVerifyCertificates((data[0] & 1) != 0);
  TlsConnectionTestPeer peer(client);
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeCertificate, fuzz::asText(data + 1, size - 1)));
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeServerHelloDone, ""));
  client.SendApplicationData("more");
  return 0;
}
