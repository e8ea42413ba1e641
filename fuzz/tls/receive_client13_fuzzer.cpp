// The TLS 1.3 client after the ServerHello of RFC 8448's trace, fed the
// server's encrypted flight and what follows it: the input is a sequence of
// records (one byte: inner content type, or 0 for raw bytes; two bytes of
// length; the content), each sealed with the server's current key.
#include <cstddef>
#include <cstdint>

#include "fuzz/tls/tls13_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  static const TlsConnection base = fuzz::tls13ClientAfterServerHello();
  TlsConnection client = base;
  fuzz::Tls13Forger forger;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  std::size_t at = 0;
  while (at + 3 <= input.size() && !client.Failed()) {
    const auto type = static_cast<std::uint8_t>(input[at]);
    const std::size_t length = bytesToUInt(input.substr(at + 1, 2));
    const std::string_view content = input.substr(at + 3, length);
    at += 3 + content.size();
    client.ReceiveBytes(type == 0 ? Bytes(content) : forger.Seal(client, type, content));
    client.SendApplicationData("data");
  }
  client.SendCloseNotify();
  client.SendApplicationData("");
  return 0;
}
