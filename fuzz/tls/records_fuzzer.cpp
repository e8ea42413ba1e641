// The record layer under fixed keys, apart from any handshake. First byte:
// bits 0-1 the suite, bit 2 server role, bit 3 sealed mode, bit 4 the
// handshake not yet done, bit 5 SSL 3.0 formulas.
// Raw mode: the rest is socket bytes, cut into pieces (fuzz_identity.h).
// Sealed mode: the rest is records [type][length, 2 bytes][plaintext] that
// the other end (same keys) protects first, so what lies behind the MAC
// check is reached: alerts, handshake messages, data, a second
// ChangeCipherSpec.
#include "fuzz/tls/handshake_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  if (size == 0) return 0;
  const std::uint8_t flags = data[0];
  const TlsRole role = (flags & 4) != 0 ? TlsRole::kServer : TlsRole::kClient;
  const bool ssl3 = (flags & 0x20) != 0;
  TlsConnection receiver = fuzz::keyedTemplate(flags & 3, role, ssl3);
  if ((flags & 0x10) != 0) TlsConnectionTestPeer(receiver).Handshake().done = false;
  if ((flags & 8) == 0) {
    fuzz::feedInPieces(data + 1, size - 1, [&](std::string_view piece) {
      receiver.ReceiveBytes(piece);
      receiver.SendApplicationData("");
    });
  } else {
    TlsConnection sender =
        fuzz::keyedTemplate(flags & 3, role == TlsRole::kServer ? TlsRole::kClient : TlsRole::kServer, ssl3);
    TlsConnectionTestPeer peer(sender);
    std::size_t at = 1;
    while (at + 3 <= size) {
      const std::uint8_t type = data[at];
      std::size_t length = (static_cast<std::size_t>(data[at + 1]) << 8) | data[at + 2];
      at += 3;
      if (length > size - at) length = size - at;
      peer.SendRecord(type, fuzz::asText(data + at, length));
      at += length;
    }
    receiver.ReceiveBytes(sender.SendApplicationData(""));
  }
  receiver.SendApplicationData("reply");
  return 0;
}
