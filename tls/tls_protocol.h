#pragma once
// Wire constants of TLS 1.2, TLS 1.0 and SSL 3.0, and the engine's size limits.
#include <cstddef>
#include <cstdint>
#include <string>

namespace qv {

// Record content types.
inline constexpr std::uint8_t kContentChangeCipherSpec = 20;
inline constexpr std::uint8_t kContentAlert = 21;
inline constexpr std::uint8_t kContentHandshake = 22;
inline constexpr std::uint8_t kContentApplicationData = 23;

// Alert levels and the descriptions this engine sends.
inline constexpr std::uint8_t kAlertWarning = 1;
inline constexpr std::uint8_t kAlertFatal = 2;
inline constexpr std::uint8_t kAlertCloseNotify = 0;
inline constexpr std::uint8_t kAlertUnexpectedMessage = 10;
inline constexpr std::uint8_t kAlertBadRecordMac = 20;
inline constexpr std::uint8_t kAlertDecryptionFailed = 21;
inline constexpr std::uint8_t kAlertRecordOverflow = 22;
inline constexpr std::uint8_t kAlertHandshakeFailure = 40;
inline constexpr std::uint8_t kAlertBadCertificate = 42;
inline constexpr std::uint8_t kAlertUnsupportedCertificate = 43;
inline constexpr std::uint8_t kAlertCertificateUnknown = 46;
inline constexpr std::uint8_t kAlertIllegalParameter = 47;
inline constexpr std::uint8_t kAlertUnknownCa = 48;
inline constexpr std::uint8_t kAlertDecodeError = 50;
inline constexpr std::uint8_t kAlertDecryptError = 51;
inline constexpr std::uint8_t kAlertProtocolVersion = 70;
inline constexpr std::uint8_t kAlertInternalError = 80;

// Handshake message types.
inline constexpr std::uint8_t kHandshakeHelloRequest = 0;
inline constexpr std::uint8_t kHandshakeClientHello = 1;
inline constexpr std::uint8_t kHandshakeServerHello = 2;
inline constexpr std::uint8_t kHandshakeCertificate = 11;
inline constexpr std::uint8_t kHandshakeServerKeyExchange = 12;
inline constexpr std::uint8_t kHandshakeCertificateRequest = 13;
inline constexpr std::uint8_t kHandshakeServerHelloDone = 14;
inline constexpr std::uint8_t kHandshakeCertificateVerify = 15;
inline constexpr std::uint8_t kHandshakeClientKeyExchange = 16;
inline constexpr std::uint8_t kHandshakeFinished = 20;

// Protocol versions as they appear on the wire.
inline constexpr std::uint16_t kVersionSsl30 = 0x0300;
inline constexpr std::uint16_t kVersionTls10 = 0x0301;
inline constexpr std::uint16_t kVersionTls12 = 0x0303;
inline constexpr std::uint16_t kVersionTls13 = 0x0304;

// Two bytes big-endian as in hello and record headers; nothing for 0 (no
// version chosen yet).
inline std::string versionBytes(std::uint16_t version) {
  if (version == 0) return {};
  return std::string{static_cast<char>(version >> 8), static_cast<char>(version & 0xFF)};
}

// Plaintext per record.
inline constexpr std::size_t kMaxFragment = 16384;
// A received record may add this much for MAC and padding; anything longer
// is refused before it is buffered.
inline constexpr std::size_t kMaxRecordExpansion = 2048;
// The largest handshake message (certificate chains included) accepted.
inline constexpr std::size_t kMaxHandshakeMessage = 65536;
// The transcript of one handshake cannot legitimately grow past this.
inline constexpr std::size_t kMaxHandshakeTranscript = 4 * kMaxHandshakeMessage;

}  // namespace qv
