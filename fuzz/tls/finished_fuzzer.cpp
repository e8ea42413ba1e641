// A Finished body to a connection keyed as after both ChangeCipherSpecs.
// First byte: bit 0 server role, bit 1 our Finished already sent (as a
// client in a full handshake), bit 2 the peer's ChangeCipherSpec not yet
// read, bits 3-4 the suite, bit 5 SSL 3.0 formulas.
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  TlsConnection connection = fuzz::keyedTemplate(
      (flags >> 3) & 3, (flags & 1) != 0 ? TlsRole::kServer : TlsRole::kClient, (flags & 0x20) != 0);
  TlsConnectionTestPeer peer(connection);
  HandshakeState& handshake = peer.Handshake();
  handshake.done = false;
  handshake.finishedPending = (flags & 2) == 0;
  handshake.transcript = "client hello, server hello, certificate, done, key exchange";
  peer.Read().active = (flags & 4) == 0;
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeFinished, fuzz::asText(data + 1, size - 1)));
  connection.SendApplicationData("data");
  return 0;
}
