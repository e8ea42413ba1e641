// A server connection (with an identity and the session cache) fed
// arbitrary client bytes.
#include <cstddef>
#include <cstdint>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  qv::fuzz::loadFixtures();
  if (size == 0) return 0;
  qv::TlsConnection tls(qv::fuzz::fuzzLog("SERVER: "));
  tls.StartServer((data[0] & 1) != 0);
  if ((data[0] & 0xFE) == 0x16) {
    tls.ReceiveBytes(std::string_view(reinterpret_cast<const char*>(data), size));
  } else {
    qv::fuzz::feedInPieces(data + 1, size - 1, [&](std::string_view piece) {
      tls.ReceiveBytes(piece);
      tls.SendApplicationData("");
    });
  }
  tls.SendApplicationData("reply");
  if (qv::CachedSessionCount() > 1000) qv::ClearSessionCache();
  return 0;
}
