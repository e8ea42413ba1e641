// One TLS 1.3 message parser per build of this file (QV_TLS13_MESSAGE):
// EncryptedExtensions, Certificate, CertificateVerify, NewSessionTicket (and
// the TLS 1.2 one) and CertificateRequest on their own; the ServerHello (and HelloRetryRequest)
// through a started client, which answers a retry with its second hello.
#include <cstddef>
#include <cstdint>

#include "fuzz/tls/fuzz_identity.h"
#include "tls/tls12_session.h"
#include "tls/tls13_messages.h"
#include "tls/tls_connection.h"

#define QV_EE 1
#define QV_CERTIFICATE 2
#define QV_CERTIFICATE_VERIFY 3
#define QV_NEW_SESSION_TICKET 4
#define QV_SERVER_HELLO 5
#define QV_CERTIFICATE_REQUEST 6

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  const std::string_view body(reinterpret_cast<const char*>(data), size);
#if QV_TLS13_MESSAGE == QV_EE
  ParseEncryptedExtensions(body, {0x001C});
#elif QV_TLS13_MESSAGE == QV_CERTIFICATE
  Certificate13 certificate;
  if (ParseCertificate13(body, certificate).ok() && !certificate.chain.empty()) {
    ParseCertificateChain(certificate.chain, " ", fuzz::fuzzLog());
  }
#elif QV_TLS13_MESSAGE == QV_CERTIFICATE_VERIFY
  CertificateVerify13 verify;
  ParseCertificateVerify13(body, verify);
#elif QV_TLS13_MESSAGE == QV_NEW_SESSION_TICKET
  NewSessionTicket13 ticket;
  ParseNewSessionTicket13(body, ticket);
  std::string error;
  ParseNewSessionTicket12(body, &error);
  bool requested = false;
  ParseKeyUpdate(body, requested);
#elif QV_TLS13_MESSAGE == QV_CERTIFICATE_REQUEST
  CertificateRequest13 request;
  ParseCertificateRequest13(body, request);
#elif QV_TLS13_MESSAGE == QV_SERVER_HELLO
  // The session id echo is taken from the hello, so the fuzzer need not
  // guess it: input bytes 35..66 stand for it when byte 34 says 32.
  static const TlsConnection base = [] {
    TlsConnection client(fuzz::fuzzLog("CSTA: "));
    client.SetVersionPolicy(TlsVersionPolicy::kAuto);
    client.StartClient();
    return client;
  }();
  TlsConnection client = base;
  const Bytes hello = TlsConnection(base).SendApplicationData("");
  Bytes message(body);
  if (message.size() >= 35 + 32 && message[34] == ' ') message.replace(35, 32, hello.substr(5 + 4 + 35, 32));
  const Bytes handshake =
      Bytes(1, '\x02') + uintToBytes(static_cast<std::uint32_t>(message.size()), 3) + message;
  client.ReceiveBytes(Bytes("\x16\x03\x03", 3) +
                      uintToBytes(static_cast<std::uint32_t>(handshake.size()), 2) + handshake);
  client.SendApplicationData("");
#endif
  return 0;
}
