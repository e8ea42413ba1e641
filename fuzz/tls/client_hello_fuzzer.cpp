// A ClientHello body to our server (the small identity). First byte: bit 0
// session caching; the cache holds one session, id 32 x 'S', suite 002f.
#include "fuzz/tls/handshake_harness.h"
#include "tls/session_cache.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  fuzz::smallIdentity();
  if (size == 0) return 0;
  if (CachedSessionCount() != 1) {
    ClearSessionCache();
    StoreSession(Bytes(32, 'S'), Bytes("\x00\x2F", 2), Bytes(48, 'M'));
  }
  TlsConnection server(fuzz::fuzzLog("SERVER: "));
  server.StartServer((data[0] & 1) != 0);
  TlsConnectionTestPeer(server).ProcessHandshake(
      fuzz::handshakeMessage(kHandshakeClientHello, fuzz::asText(data + 1, size - 1)));
  server.SendApplicationData("reply");
  return 0;
}
