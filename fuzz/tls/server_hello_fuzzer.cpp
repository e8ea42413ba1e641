// A ServerHello body to a client that sent its ClientHello; a certificate
// and ServerHelloDone follow so the chosen version and suite are used.
// First byte: bit 0 offers a session for resumption.
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  const fuzz::SmallIdentity& identity = fuzz::smallIdentity();
  if (size == 0) return 0;
  static const TlsConnection fresh = fuzz::startedClient(false, false);
  static const TlsConnection resuming = [] {
    TlsConnection client(fuzz::fuzzLog("CSTA: "));
    TlsConnectionTestPeer(client).Handshake().sessionId = Bytes(32, 'S');
    TlsConnectionTestPeer(client).Handshake().masterSecret = Bytes(48, 'M');
    client.SetServerName("pbx.example.com");
    client.SetVerifyCertificates(false);
    client.StartClient();
    client.SendApplicationData("login");
    return client;
  }();
  TlsConnection client = (data[0] & 1) != 0 ? resuming : fresh;
  TlsConnectionTestPeer peer(client);
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeServerHello, fuzz::asText(data + 1, size - 1)));
  peer.ProcessHandshake(fuzz::certificateMessage({identity.certificate}) +
                        fuzz::handshakeMessage(kHandshakeServerHelloDone, ""));
  client.SendApplicationData("more");
  return 0;
}
