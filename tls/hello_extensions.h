#pragma once
// TLS 1.2 hello extensions: the block a client sends, and the checks on the
// block a server answers with (RFC 5246 7.4.1.4, RFC 4492, RFC 5746, RFC 7627,
// RFC 5077).
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::uint16_t kExtensionServerName = 0x0000;
inline constexpr std::uint16_t kExtensionSupportedGroups = 0x000A;
inline constexpr std::uint16_t kExtensionEcPointFormats = 0x000B;
inline constexpr std::uint16_t kExtensionSignatureAlgorithms = 0x000D;
inline constexpr std::uint16_t kExtensionExtendedMasterSecret = 0x0017;
inline constexpr std::uint16_t kExtensionSessionTicket = 0x0023;
inline constexpr std::uint16_t kExtensionRenegotiationInfo = 0xFF01;

inline constexpr std::uint16_t kGroupX25519 = 0x001D;
inline constexpr std::uint16_t kGroupSecp256r1 = 0x0017;
inline constexpr std::uint16_t kGroupSecp384r1 = 0x0018;

// RSA signature schemes (the others are in tls/signature_schemes.h, with
// the order they are offered in).
inline constexpr std::uint16_t kSchemeRsaPkcs1Sha256 = 0x0401;
inline constexpr std::uint16_t kSchemeRsaPkcs1Sha384 = 0x0501;
inline constexpr std::uint16_t kSchemeRsaPkcs1Sha512 = 0x0601;
inline constexpr std::uint16_t kSchemeRsaPssRsaeSha256 = 0x0804;
inline constexpr std::uint16_t kSchemeRsaPssRsaeSha384 = 0x0805;
inline constexpr std::uint16_t kSchemeRsaPssRsaeSha512 = 0x0806;

// The extensions block (with its two-byte length) of a TLS 1.2 ClientHello:
// server_name (when a name is given), supported_groups (X25519, secp256r1,
// secp384r1), ec_point_formats, signature_algorithms, extended_master_secret,
// session_ticket (the ticket offered, or empty to ask for one), empty
// renegotiation_info.
Bytes BuildClientHelloExtensions(std::string_view serverName, std::string_view ticket = {});

struct ServerHelloExtensions {
  bool extendedMasterSecret = false;
  bool renegotiationInfo = false;
  // The server will send a NewSessionTicket.
  bool sessionTicket = false;
};

// Outcome of a parse: alert 0 means accepted; otherwise the fatal alert to
// send and a log text.
struct ExtensionCheck {
  std::uint8_t alert = 0;
  std::string error;
  ServerHelloExtensions extensions;
};

// `rest` is what follows the compression method in a ServerHello: empty, or
// an extensions block that must fill it exactly. Refuses extensions that
// were not offered, duplicates, malformed bodies and a non-empty
// renegotiation_info (this client never renegotiates).
ExtensionCheck ParseServerHelloExtensions(std::string_view rest);

}  // namespace qv
