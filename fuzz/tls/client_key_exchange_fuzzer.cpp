// A ClientKeyExchange body to our server after its ServerHelloDone (the
// small identity's key). First byte: bit 0 SSL 3.0 (no length prefix),
// bit 1 session caching, bits 2-3 the suite.
#include "fuzz/tls/handshake_harness.h"
#include "tls/session_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  const fuzz::SmallIdentity& identity = fuzz::smallIdentity();
  if (size == 0) return 0;
  TlsConnection server(fuzz::fuzzLog("SERVER: "));
  server.StartServer((data[0] & 2) != 0);
  TlsConnectionTestPeer peer(server);
  peer.Version() = (data[0] & 1) != 0 ? kVersionSsl30 : kVersionTls10;
  HandshakeState& handshake = peer.Handshake();
  handshake.clientRandom = Bytes(32, 'C');
  handshake.serverRandom = Bytes(32, 'R');
  handshake.sessionId = Bytes(32, 'I');
  handshake.cipherSuite = Bytes(fuzz::kSuites[(data[0] >> 2) & 3]);
  handshake.privateKey = identity.privateKey;
  peer.ProcessHandshake(
      fuzz::handshakeMessage(kHandshakeClientKeyExchange, fuzz::asText(data + 1, size - 1)));
  server.SendApplicationData("reply");
  if (CachedSessionCount() > 1000) ClearSessionCache();
  return 0;
}
