#include "tls/hello_extensions.h"

#include <vector>

#include "tls/handshake_reader.h"
#include "tls/signature_schemes.h"

namespace qv {

namespace {

constexpr std::uint8_t kAlertDecodeError = 50;
constexpr std::uint8_t kAlertIllegalParameter = 47;
constexpr std::uint8_t kAlertHandshakeFailure = 40;
constexpr std::uint8_t kAlertUnsupportedExtension = 110;

void appendExtension(Bytes& out, std::uint16_t type, std::string_view body) {
  out += uintToBytes(type, 2);
  out += uintToBytes(static_cast<std::uint32_t>(body.size()), 2);
  out.append(body);
}

ExtensionCheck refuse(std::uint8_t alert, std::string error) {
  ExtensionCheck check;
  check.alert = alert;
  check.error = std::move(error);
  return check;
}

std::string typeText(std::uint16_t type) { return hexEncode(uintToBytes(type, 2)); }

}  // namespace

Bytes BuildClientHelloExtensions(std::string_view serverName, std::string_view ticket) {
  Bytes block;
  if (!serverName.empty()) {
    const auto nameLength = static_cast<std::uint32_t>(serverName.size());
    Bytes list = uintToBytes(nameLength + 3, 2);
    list += '\0';
    list += uintToBytes(nameLength, 2);
    list.append(serverName);
    appendExtension(block, kExtensionServerName, list);
  }
  appendExtension(block, kExtensionSupportedGroups, Bytes("\x00\x06\x00\x1D\x00\x17\x00\x18", 8));
  appendExtension(block, kExtensionEcPointFormats, Bytes("\x01\x00", 2));
  const std::vector<std::uint16_t>& schemes = OfferedSignatureSchemes(false);
  Bytes schemeList = uintToBytes(static_cast<std::uint32_t>(schemes.size() * 2), 2);
  for (const std::uint16_t scheme : schemes) schemeList += uintToBytes(scheme, 2);
  appendExtension(block, kExtensionSignatureAlgorithms, schemeList);
  appendExtension(block, kExtensionExtendedMasterSecret, {});
  appendExtension(block, kExtensionSessionTicket, ticket);
  appendExtension(block, kExtensionRenegotiationInfo, Bytes(1, '\0'));
  return uintToBytes(static_cast<std::uint32_t>(block.size()), 2) + block;
}

ExtensionCheck ParseServerHelloExtensions(std::string_view rest) {
  ExtensionCheck check;
  if (rest.empty()) return check;
  if (rest.size() < 2 || bytesToUInt(rest.substr(0, 2)) != rest.size() - 2) {
    return refuse(kAlertDecodeError, "ServerHello extensions length does not match the message");
  }
  HandshakeReader reader(rest.substr(2));
  std::vector<std::uint16_t> seen;
  while (reader.Remaining() > 0) {
    if (reader.Remaining() < 4) return refuse(kAlertDecodeError, "Truncated ServerHello extension");
    const auto type = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
    const std::size_t length = bytesToUInt(reader.ReadBytes(2));
    if (length > reader.Remaining())
      return refuse(kAlertDecodeError, "ServerHello extension runs past the message");
    const std::string_view body = reader.ReadBytes(length);
    for (const std::uint16_t earlier : seen) {
      if (earlier == type)
        return refuse(kAlertIllegalParameter, "Repeated ServerHello extension " + typeText(type));
    }
    seen.push_back(type);
    switch (type) {
      case kExtensionServerName:
        if (!body.empty()) return refuse(kAlertDecodeError, "Non-empty server_name in ServerHello");
        break;
      case kExtensionSupportedGroups:
        // Servers are not meant to send it; it was offered, so it is read past.
        break;
      case kExtensionEcPointFormats: {
        // One length byte, then at least one format, filling the body exactly.
        if (body.size() < 2 || static_cast<std::uint8_t>(body[0]) + 1u != body.size()) {
          return refuse(kAlertDecodeError, "Malformed ec_point_formats in ServerHello");
        }
        const std::string_view list = body.substr(1);
        if (list.find('\0') == std::string_view::npos) {
          return refuse(kAlertIllegalParameter, "Server does not accept uncompressed points");
        }
        break;
      }
      case kExtensionExtendedMasterSecret:
        if (!body.empty())
          return refuse(kAlertDecodeError, "Non-empty extended_master_secret in ServerHello");
        check.extensions.extendedMasterSecret = true;
        break;
      case kExtensionSessionTicket:
        if (!body.empty()) return refuse(kAlertDecodeError, "Non-empty session_ticket in ServerHello");
        check.extensions.sessionTicket = true;
        break;
      case kExtensionRenegotiationInfo:
        if (body.size() != 1 || body[0] != '\0') {
          return refuse(kAlertHandshakeFailure, "Non-empty renegotiation_info on the initial handshake");
        }
        check.extensions.renegotiationInfo = true;
        break;
      default:
        // signature_algorithms included: servers never send it back.
        return refuse(kAlertUnsupportedExtension, "Unrequested ServerHello extension " + typeText(type));
    }
  }
  return check;
}

}  // namespace qv
