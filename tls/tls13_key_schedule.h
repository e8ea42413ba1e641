#pragma once
// The TLS 1.3 key schedule (RFC 8446 7.1), with or without a resumption
// PSK: early, handshake and master secrets, the binder and resumption keys, the traffic secrets derived from
// them, the record key and IV of a traffic secret, Finished and KeyUpdate.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

enum class Tls13Aead : std::uint8_t { kAes128Gcm, kAes256Gcm, kChaCha20Poly1305 };

struct Tls13Suite {
  std::uint16_t id;
  std::string_view name;
  Tls13Aead aead;
  std::size_t keyLength;  // 16 or 32
  HashAlgorithm hash;     // HKDF and transcript hash
};

// The three suites in the order the client offers them.
inline constexpr std::string_view kTls13OfferedSuites{"\x13\x01\x13\x02\x13\x03", 6};

// The suite for its id, or nullptr when it is not one of ours.
const Tls13Suite* FindTls13Suite(std::uint16_t id);

// Derive-Secret(secret, label, messages) with the transcript hash already taken.
Bytes Tls13DeriveSecret(HashAlgorithm hash, std::string_view secret, std::string_view label,
                        std::string_view transcriptHash);

struct Tls13Secrets {
  Bytes handshakeSecret;
  Bytes clientHandshakeTraffic;
  Bytes serverHandshakeTraffic;
  Bytes masterSecret;
  Bytes clientApplicationTraffic;
  Bytes serverApplicationTraffic;
};

// The early secret: HKDF-Extract(0, psk), zeros standing in for no PSK.
Bytes Tls13EarlySecret(HashAlgorithm hash, std::string_view psk);
// The binder of a resumption PSK over Hash(truncated ClientHello ...).
Bytes Tls13ResumptionBinder(HashAlgorithm hash, std::string_view psk, std::string_view truncatedHash);
// Handshake secret and both handshake traffic secrets; helloHash =
// Hash(ClientHello..ServerHello); psk empty for a full handshake.
void Tls13DeriveHandshakeSecrets(HashAlgorithm hash, std::string_view sharedSecret,
                                 std::string_view helloHash, Tls13Secrets& secrets,
                                 std::string_view psk = {});
// resumption_master_secret; clientFinishedHash = Hash(ClientHello..client Finished).
Bytes Tls13ResumptionMasterSecret(HashAlgorithm hash, const Tls13Secrets& secrets,
                                  std::string_view clientFinishedHash);
// The PSK a NewSessionTicket's nonce makes of the resumption master secret.
Bytes Tls13TicketPsk(HashAlgorithm hash, std::string_view resumptionMaster, std::string_view nonce);
// Master secret and both application traffic secrets from the handshake
// secret; finishedHash = Hash(ClientHello..server Finished).
void Tls13DeriveApplicationSecrets(HashAlgorithm hash, std::string_view finishedHash, Tls13Secrets& secrets);

struct Tls13TrafficKeys {
  Bytes key;
  Bytes iv;  // 12 bytes
};
Tls13TrafficKeys Tls13TrafficKeysOf(HashAlgorithm hash, std::string_view trafficSecret,
                                    std::size_t keyLength);

// verify_data of a Finished: HMAC(finished_key(baseSecret), transcriptHash).
Bytes Tls13FinishedData(HashAlgorithm hash, std::string_view baseSecret, std::string_view transcriptHash);

// application_traffic_secret_N+1 from _N (KeyUpdate).
Bytes Tls13NextTrafficSecret(HashAlgorithm hash, std::string_view trafficSecret);

// The message_hash stand-in for the first ClientHello after a
// HelloRetryRequest: 254 || 00 00 Hash.length || Hash(ClientHello1).
Bytes Tls13MessageHash(HashAlgorithm hash, std::string_view clientHello1);

}  // namespace qv
