// A client connection fed arbitrary server bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/tls_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::loadFixtures();
  if (size == 0) return 0;
  qv::TlsConnection tls(qv::fuzz::fuzzLog("CSTA: "));
  tls.SetServerName("pbx.example.com");
  // The first byte chooses verification, so both certificate paths run.
  tls.SetVerifyCertificates((data[0] & 1) != 0);
  tls.StartClient();
  tls.SendApplicationData("login");
  // Real recorded flights start with a record header: feed them whole.
  if ((data[0] & 0xFE) == 0x16) {
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
