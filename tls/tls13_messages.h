#pragma once
// TLS 1.3 handshake messages as the client builds and reads them (RFC 8446
// 4.1-4.6): the hello, the server's hello or retry request, its encrypted
// extensions, certificate request, certificate, certificate verify and the
// post-handshake messages. Parsers take hostile bytes: each checks every
// length against what holds it and names the alert to send.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tls/hello_extensions.h"
#include "tls/tls_protocol.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::uint8_t kHandshakeNewSessionTicket = 4;
inline constexpr std::uint8_t kHandshakeEndOfEarlyData = 5;
inline constexpr std::uint8_t kHandshakeEncryptedExtensions = 8;
inline constexpr std::uint8_t kHandshakeKeyUpdate = 24;

inline constexpr std::uint16_t kExtensionPreSharedKey = 0x0029;
inline constexpr std::uint16_t kExtensionEarlyData = 0x002A;
inline constexpr std::uint16_t kExtensionSupportedVersions = 0x002B;
inline constexpr std::uint16_t kExtensionCookie = 0x002C;
inline constexpr std::uint16_t kExtensionPskKeyExchangeModes = 0x002D;
inline constexpr std::uint16_t kExtensionKeyShare = 0x0033;

inline constexpr std::uint8_t kAlertUserCanceled = 90;
inline constexpr std::uint8_t kAlertMissingExtension = 109;
inline constexpr std::uint8_t kAlertUnsupportedExtension = 110;
inline constexpr std::uint8_t kAlertCertificateRequired = 116;

// The random of a HelloRetryRequest: SHA-256 of "HelloRetryRequest".
extern const std::string_view kHelloRetryRandom;
// The last eight bytes of a TLS 1.3 server's random when it answers with
// TLS 1.2 (..01) or an older version (..00).
inline constexpr std::string_view kDowngradeTls12{"DOWNGRD\x01", 8};
inline constexpr std::string_view kDowngradeTls11{"DOWNGRD\x00", 8};

// A name for an alert description ("handshake_failure"), or its number.
std::string AlertName(std::uint8_t description);

struct KeyShareOffer {
  std::uint16_t group = 0;
  Bytes publicKey;
};

struct ClientHello13 {
  Bytes random;     // 32 bytes
  Bytes sessionId;  // 32 random bytes (middlebox compatibility)
  std::string serverName;
  std::vector<KeyShareOffer> shares;
  Bytes cookie;  // from a HelloRetryRequest, echoed
  std::vector<std::uint16_t> schemes;
  // "auto": the TLS 1.2 suites after ours, the TLS 1.2 extension block
  // (with its length) in front of ours, and TLS 1.2 and 1.0 in
  // supported_versions.
  bool offerTls12 = false;
  Bytes tls12Suites;
  Bytes tls12Extensions;
  // A resumption ticket: psk_key_exchange_modes (psk_dhe_ke) and, last,
  // pre_shared_key with one identity and a binder of binderLength zeros
  // that the caller replaces (the binder signs the hello before it).
  Bytes pskIdentity;
  std::uint32_t obfuscatedAge = 0;
  std::size_t binderLength = 0;
};

// The bytes the binders list (with its length) takes at the end of a hello
// offering one binder of binderLength bytes.
inline std::size_t PskBindersSize(std::size_t binderLength) { return 2 + 1 + binderLength; }

// The groups named in supported_groups, in order of preference.
const std::vector<std::uint16_t>& Tls13OfferedGroups();
// The body of the ClientHello.
Bytes BuildClientHello13(const ClientHello13& hello);

// An outcome: alert 0 = accepted, else the fatal alert and a log text.
struct Tls13Check {
  std::uint8_t alert = 0;
  std::string error;
  bool ok() const { return alert == 0; }
};

// The version a ServerHello's supported_versions names; 0 when it has none
// (a TLS 1.2 or older answer) or its extension block cannot be walked.
std::uint16_t ServerHelloSelectedVersion(std::string_view body);

struct ServerHello13 {
  bool retryRequest = false;
  Bytes random;
  Bytes sessionIdEcho;
  std::uint16_t suite = 0;
  std::uint16_t selectedVersion = 0;
  bool hasKeyShare = false;
  std::uint16_t group = 0;
  Bytes keyShare;  // empty in a HelloRetryRequest
  Bytes cookie;
  bool hasPreSharedKey = false;
  std::uint16_t selectedIdentity = 0;
};
Tls13Check ParseServerHello13(std::string_view body, ServerHello13& hello);

// offered: extension types the hello offered that may come back here
// (server_name and supported_groups always may).
Tls13Check ParseEncryptedExtensions(std::string_view body, const std::vector<std::uint16_t>& offered);

struct CertificateRequest13 {
  Bytes context;
  std::vector<std::uint16_t> schemes;
};
Tls13Check ParseCertificateRequest13(std::string_view body, CertificateRequest13& request);

struct Certificate13 {
  Bytes context;
  std::vector<Bytes> chain;
};
Tls13Check ParseCertificate13(std::string_view body, Certificate13& certificate);
// A Certificate message body carrying `chain` (possibly empty).
Bytes BuildCertificate13(std::string_view context, const std::vector<Bytes>& chain);

struct CertificateVerify13 {
  std::uint16_t scheme = 0;
  Bytes signature;
};
Tls13Check ParseCertificateVerify13(std::string_view body, CertificateVerify13& verify);
// What a CertificateVerify signs: 64 spaces, the context string, a zero
// byte and the transcript hash.
Bytes CertificateVerifyContent13(bool server, std::string_view transcriptHash);

struct NewSessionTicket13 {
  std::uint32_t lifetime = 0;
  std::uint32_t ageAdd = 0;
  Bytes nonce;
  Bytes ticket;
  std::size_t ticketLength = 0;
};
Tls13Check ParseNewSessionTicket13(std::string_view body, NewSessionTicket13& ticket);

// request_update of a KeyUpdate.
Tls13Check ParseKeyUpdate(std::string_view body, bool& updateRequested);

}  // namespace qv
