// A CertificateRequest body to a client that read the server's hello and
// certificate; ServerHelloDone follows, which is when the request is read
// (a request naming the own identity's issuer is answered and signed). The
// hello names a suite we do not know, so the handshake ends right after the
// answer: the key exchange has fuzzers of its own and would cost four times
// what the request does.
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  fuzz::smallIdentity();
  static const TlsConnection base = fuzz::startedClient(true, true, {"\x00\x0A", 2});
  TlsConnection client = base;
  TlsConnectionTestPeer peer(client);
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeCertificateRequest, fuzz::asText(data, size)));
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeServerHelloDone, ""));
  client.SendApplicationData("more");
  return 0;
}
