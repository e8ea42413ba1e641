// A TLS 1.2 CertificateRequest to a client with client credentials, after
// the server's hello (RSA key transport, so no signature work) and
// certificate; ServerHelloDone follows, when the request is answered: the
// chain and a CertificateVerify, or an empty Certificate. The parser's
// verdict must agree with what the client did.
#include "fuzz/tls/handshake_harness.h"
#include "tls/certificate_request.h"
#include "tls/hello_extensions.h"
#include "tls/signature_schemes.h"

namespace {

qv::TlsConnection startedClient12() {
  using namespace qv;
  TlsConnection client(fuzz::fuzzLog("CSTA: "));
  client.SetServerName("pbx.example.com");
  client.SetVerifyCertificates(false);
  client.SetVersionPolicy(TlsVersionPolicy::kTls12);
  auto credentials = std::make_shared<ClientCredentials>();
  credentials->chainDer = {fuzz::smallIdentity().certificate};
  credentials->supportedSchemes = {kSchemeRsaPssRsaeSha256, kSchemeRsaPkcs1Sha256,
                                   kSchemeEcdsaSecp256r1Sha256};
  credentials->sign = [](std::uint16_t, std::string_view) { return Bytes(64, 's'); };
  client.SetClientCredentials(credentials);
  client.StartClient();
  client.SendApplicationData("login");
  TlsConnectionTestPeer peer(client);
  peer.ProcessHandshake(fuzz::handshakeMessage(
      kHandshakeServerHello, Bytes("\x03\x03", 2) + Bytes(32, 'R') + Bytes("\x00\x00\x9C\x00", 4)));
  peer.ProcessHandshake(fuzz::certificateMessage({fuzz::smallIdentity().certificate}));
  return client;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  using namespace qv;
  static const TlsConnection base = startedClient12();
  const std::string_view body = fuzz::asText(data, size);
  std::string error;
  const bool parsed = ParseCertificateRequest12(body, &error).has_value();
  if (parsed != error.empty()) __builtin_trap();
  TlsConnection client = base;
  TlsConnectionTestPeer peer(client);
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeCertificateRequest, body));
  // A malformed request ends the handshake at once.
  if (!parsed && !client.Failed()) __builtin_trap();
  peer.ProcessHandshake(fuzz::handshakeMessage(kHandshakeServerHelloDone, ""));
  client.SendApplicationData("more");
  return 0;
}
