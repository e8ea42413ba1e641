// A client with the TLS 1.2 policies fed arbitrary server bytes: ServerHello
// and its extensions, ServerKeyExchange, version and suite checks, GCM and
// explicit-IV records, NewSessionTicket and the abbreviated handshake of an
// offered session (its id 32 bytes of 'S').
#include <cstddef>
#include <chrono>
#include <cstdint>
#include <utility>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/tls_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::loadFixtures();
  if (size == 0) return 0;
  qv::TlsConnection tls(qv::fuzz::fuzzLog("CSTA: "));
  tls.SetServerName("pbx.example.com");
  tls.SetVerifyCertificates((data[0] & 1) != 0);
  // Recorded flights start with a record header and run under "auto"; for
  // other inputs the first byte also picks "1.2" or "auto".
  const bool recorded = (data[0] & 0xFE) == 0x16;
  tls.SetVersionPolicy(!recorded && (data[0] & 2) != 0 ? qv::TlsVersionPolicy::kTls12
                                                       : qv::TlsVersionPolicy::kAuto);
  if (!recorded && (data[0] & 4) != 0) {
    qv::Tls12Session session;
    session.sessionId = qv::Bytes(32, 'S');
    session.ticket = "ticket";
    session.masterSecret = qv::Bytes(48, 'M');
    session.cipherSuite = qv::Bytes("\xC0\x2F", 2);
    session.received = std::chrono::steady_clock::now();
    tls.SetResumptionSession12(std::move(session));
  }
  tls.StartClient();
  tls.SendApplicationData("login");
  if (recorded) {
    tls.ReceiveBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  } else {
    qv::fuzz::feedInPieces(data + 1, size - 1, [&](std::string_view piece) {
      tls.ReceiveBytes(piece);
      tls.SendApplicationData("");
    });
  }
  tls.SendApplicationData("more");
  return 0;
}
