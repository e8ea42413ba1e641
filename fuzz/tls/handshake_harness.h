#pragma once
// Shared pieces of the handshake message fuzzers: a small RSA identity, a
// certificate around its key, and connections brought to the state in which
// one message is expected, without running the handshake before it.
#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "crypto/rsa.h"
#include "fuzz/tls/fuzz_identity.h"
#include "fuzz/tls/small_key.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tls/certificate.h"
#include "tls/der_reader.h"
#include "tls/tls_connection.h"

namespace qv::fuzz {

inline Bytes derWrap(std::uint8_t tag, std::string_view content) {
  Bytes out(1, static_cast<char>(tag));
  if (content.size() < 0x80) {
    out += static_cast<char>(content.size());
  } else {
    out += '\x82';
    out += uintToBytes(static_cast<std::uint32_t>(content.size()), 2);
  }
  out.append(content);
  return out;
}

// The DER Name "CN=fuzz" (content of the SEQUENCE).
inline Bytes fuzzName() {
  return derWrap(0x31, derWrap(0x30, derWrap(0x06, "\x55\x04\x03") + derWrap(0x0C, "fuzz")));
}

// A structurally complete, unsigned certificate around an RSA key; issuer
// and subject are both fuzzName().
inline Bytes certificateAround(const Bytes& modulus, const Bytes& exponent) {
  const Bytes name = derWrap(0x30, fuzzName());
  const Bytes key = derWrap(0x30, derWrap(0x02, Bytes(1, '\0') + modulus) + derWrap(0x02, exponent));
  // rsaEncryption: a TLS 1.2 client takes no key of an unnamed algorithm.
  const Bytes algorithm =
      derWrap(0x30, derWrap(0x06, "\x2A\x86\x48\x86\xF7\x0D\x01\x01\x01") + derWrap(0x05, ""));
  const Bytes keyInfo = derWrap(0x30, algorithm + derWrap(0x03, Bytes(1, '\0') + key));
  const Bytes tbs = derWrap(0x30, derWrap(0xA0, derWrap(0x02, "\x02")) + derWrap(0x02, "\x01") +
                                      derWrap(0x30, "") + name + derWrap(0x30, "") + name + keyInfo);
  return derWrap(0x30, tbs + derWrap(0x30, "") + derWrap(0x03, Bytes(1, '\0')));
}

struct SmallIdentity {
  Certificate key;     // the five key fields
  Bytes certificate;   // certificateAround the key's modulus
  Certificate parsed;  // the certificate as a client accepts it
  RsaKey privateKey;
};

// Also loaded as the process's own identity (server role, client
// certificates).
inline const SmallIdentity& smallIdentity() {
  static const SmallIdentity identity = [] {
    SmallIdentity made;
    made.key.privateKeyDer = fromHex(kSmallKeyHex);
    ReadPrivateKey(made.key, {});
    // Exponent 3 where the key is public (the client encrypts with it): the
    // client's side of the key exchange stays cheap too.
    made.certificate = certificateAround(StripLeadingZeros(made.key.keyModulus), "\x03");
    made.parsed = ParseCertificateChain({made.certificate}, " ", {});
    made.privateKey.setPrivateKey(made.key.keyPrivateExponent, made.key.keyPublicExponent,
                                  made.key.keyModulus, made.key.keyPrime1, made.key.keyPrime2);
    LoadOwnIdentity({made.certificate}, made.key.privateKeyDer, {});
    return made;
  }();
  return identity;
}

inline Bytes handshakeMessage(std::uint8_t type, std::string_view body) {
  return Bytes(1, static_cast<char>(type)) + uintToBytes(static_cast<std::uint32_t>(body.size()), 3) +
         Bytes(body);
}

inline Bytes certificateMessage(const std::vector<Bytes>& chain) {
  Bytes list;
  for (const Bytes& der : chain) list += uintToBytes(static_cast<std::uint32_t>(der.size()), 3) + der;
  return handshakeMessage(kHandshakeCertificate,
                          uintToBytes(static_cast<std::uint32_t>(list.size()), 3) + list);
}

inline Bytes serverHelloMessage(std::string_view suite) {
  return handshakeMessage(kHandshakeServerHello, Bytes("\x03\x01", 2) + Bytes(32, 'R') + Bytes(1, '\0') +
                                                     Bytes(suite) + Bytes(1, '\0'));
}

// A client that sent its ClientHello (and, with hello, read the server's
// ServerHello for the suite; with certificate, also the small identity's
// certificate). Harnesses copy one made once: the hello and key schedule
// work is the same for every input.
inline TlsConnection startedClient(bool hello, bool certificate, std::string_view suite = {"\x00\x2F", 2}) {
  TlsConnection client(fuzzLog("CSTA: "));
  client.SetServerName("pbx.example.com");
  client.SetVerifyCertificates(false);
  client.StartClient();
  client.SendApplicationData("login");
  TlsConnectionTestPeer peer(client);
  if (hello) peer.ProcessHandshake(serverHelloMessage(suite));
  if (certificate) peer.ProcessHandshake(certificateMessage({smallIdentity().certificate}));
  return client;
}

// A connection keyed for the suite as after both ChangeCipherSpecs.
inline TlsConnection keyedConnection(TlsRole role, std::string_view suite, bool ssl3) {
  TlsConnection connection(fuzzLog("P: "));
  TlsConnectionTestPeer peer(connection);
  peer.InstallKeys(role, suite);
  if (ssl3) {
    peer.Version() = kVersionSsl30;
    peer.PerformChangeCipherSpec();
  }
  return connection;
}

inline constexpr std::string_view kSuites[] = {
    {"\x00\x2F", 2}, {"\x00\x35", 2}, {"\x00\x04", 2}, {"\x00\x05", 2}};

// keyedConnection for each suite, role and formula set, made on first use.
inline const TlsConnection& keyedTemplate(std::size_t suite, TlsRole role, bool ssl3) {
  static const std::vector<TlsConnection> made = [] {
    std::vector<TlsConnection> all;
    for (int k = 0; k < 16; ++k) {
      all.push_back(
          keyedConnection((k & 4) != 0 ? TlsRole::kServer : TlsRole::kClient, kSuites[k & 3], (k & 8) != 0));
    }
    return all;
  }();
  return made[(suite & 3) | (role == TlsRole::kServer ? 4 : 0) | (ssl3 ? 8 : 0)];
}

inline std::string_view asText(const std::uint8_t* data, std::size_t size) {
  return {reinterpret_cast<const char*>(data), size};
}

}  // namespace qv::fuzz
