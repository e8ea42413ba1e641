#include "tls/tls13_messages.h"

#include "tls/handshake_reader.h"
#include "tls/tls13_key_schedule.h"
#include "tls/hello_extensions.h"
#include "tls/tls_protocol.h"

namespace qv {

const std::string_view kHelloRetryRandom{
    "\xCF\x21\xAD\x74\xE5\x9A\x61\x11\xBE\x1D\x8C\x02\x1E\x65\xB8\x91"
    "\xC2\xA2\x11\x16\x7A\xBB\x8C\x5E\x07\x9E\x09\xE2\xC8\xA8\x33\x9C",
    32};

namespace {

Tls13Check refuse(std::uint8_t alert, std::string error) { return {alert, std::move(error)}; }

std::string typeText(std::uint16_t type) { return hexEncode(uintToBytes(type, 2)); }

struct Extension {
  std::uint16_t type;
  std::string_view body;
};

// Walks an extensions block (with its two-byte length) that must fill
// `block` exactly; refuses truncation and repeats.
Tls13Check readExtensions(std::string_view block, std::string_view where, std::vector<Extension>& out) {
  if (block.size() < 2 || bytesToUInt(block.substr(0, 2)) != block.size() - 2) {
    return refuse(kAlertDecodeError, std::string(where) + " extensions length does not match the message");
  }
  HandshakeReader reader(block.substr(2));
  while (reader.Remaining() > 0) {
    if (reader.Remaining() < 4)
      return refuse(kAlertDecodeError, "Truncated " + std::string(where) + " extension");
    const auto type = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
    const std::size_t length = bytesToUInt(reader.ReadBytes(2));
    if (length > reader.Remaining()) {
      return refuse(kAlertDecodeError,
                    std::string(where) + " extension " + typeText(type) + " runs past the message");
    }
    for (const Extension& earlier : out) {
      if (earlier.type == type) {
        return refuse(kAlertIllegalParameter,
                      "Repeated " + std::string(where) + " extension " + typeText(type));
      }
    }
    out.push_back({type, reader.ReadBytes(length)});
  }
  return {};
}

void appendExtension(Bytes& out, std::uint16_t type, std::string_view body) {
  out += uintToBytes(type, 2);
  out += uintToBytes(static_cast<std::uint32_t>(body.size()), 2);
  out.append(body);
}

Bytes vector16(std::string_view body) {
  return uintToBytes(static_cast<std::uint32_t>(body.size()), 2) + Bytes(body);
}

}  // namespace

std::string AlertName(std::uint8_t description) {
  static const struct {
    std::uint8_t value;
    const char* name;
  } kNames[] = {{0, "close_notify"},
                {10, "unexpected_message"},
                {20, "bad_record_mac"},
                {22, "record_overflow"},
                {40, "handshake_failure"},
                {42, "bad_certificate"},
                {43, "unsupported_certificate"},
                {44, "certificate_revoked"},
                {45, "certificate_expired"},
                {46, "certificate_unknown"},
                {47, "illegal_parameter"},
                {48, "unknown_ca"},
                {49, "access_denied"},
                {50, "decode_error"},
                {51, "decrypt_error"},
                {70, "protocol_version"},
                {71, "insufficient_security"},
                {80, "internal_error"},
                {86, "inappropriate_fallback"},
                {90, "user_canceled"},
                {109, "missing_extension"},
                {110, "unsupported_extension"},
                {112, "unrecognized_name"},
                {113, "bad_certificate_status_response"},
                {115, "unknown_psk_identity"},
                {116, "certificate_required"},
                {120, "no_application_protocol"}};
  for (const auto& entry : kNames) {
    if (entry.value == description) return std::string(entry.name) + " (" + std::to_string(description) + ")";
  }
  return "alert " + std::to_string(description);
}

const std::vector<std::uint16_t>& Tls13OfferedGroups() {
  static const std::vector<std::uint16_t> groups{kGroupX25519, kGroupSecp256r1, kGroupSecp384r1};
  return groups;
}

Bytes BuildClientHello13(const ClientHello13& hello) {
  Bytes suites(kTls13OfferedSuites);
  if (hello.offerTls12) suites += hello.tls12Suites;
  Bytes body = versionBytes(kVersionTls12) + hello.random;
  body += static_cast<char>(hello.sessionId.size());
  body += hello.sessionId;
  body += vector16(suites);
  body += Bytes("\x01\x00", 2);

  Bytes block;
  if (hello.offerTls12) {
    // The TLS 1.2 block carries server_name, supported_groups and
    // signature_algorithms already.
    block = hello.tls12Extensions.size() >= 2 ? hello.tls12Extensions.substr(2) : Bytes();
  } else {
    if (!hello.serverName.empty()) {
      const auto nameLength = static_cast<std::uint32_t>(hello.serverName.size());
      Bytes list = uintToBytes(nameLength + 3, 2);
      list += '\0';
      list += uintToBytes(nameLength, 2);
      list += hello.serverName;
      appendExtension(block, kExtensionServerName, list);
    }
    Bytes groups;
    for (const std::uint16_t group : Tls13OfferedGroups()) groups += uintToBytes(group, 2);
    appendExtension(block, kExtensionSupportedGroups, vector16(groups));
    Bytes schemes;
    for (const std::uint16_t scheme : hello.schemes) schemes += uintToBytes(scheme, 2);
    appendExtension(block, kExtensionSignatureAlgorithms, vector16(schemes));
  }
  // A server that sees supported_versions goes by it alone (RFC 8446
  // 4.2.1): "auto" lists every version it accepts, TLS 1.0 included.
  const Bytes versions =
      hello.offerTls12 ? Bytes("\x06\x03\x04\x03\x03\x03\x01", 7) : Bytes("\x02\x03\x04", 3);
  appendExtension(block, kExtensionSupportedVersions, versions);
  Bytes shares;
  for (const KeyShareOffer& share : hello.shares) {
    shares += uintToBytes(share.group, 2);
    shares += vector16(share.publicKey);
  }
  appendExtension(block, kExtensionKeyShare, vector16(shares));
  if (!hello.cookie.empty()) appendExtension(block, kExtensionCookie, vector16(hello.cookie));
  if (!hello.pskIdentity.empty()) {
    appendExtension(block, kExtensionPskKeyExchangeModes, Bytes("\x01\x01", 2));
    const Bytes identities = vector16(vector16(hello.pskIdentity) + uintToBytes(hello.obfuscatedAge, 4));
    Bytes binder(1, static_cast<char>(hello.binderLength));
    binder += Bytes(hello.binderLength, '\0');
    appendExtension(block, kExtensionPreSharedKey, identities + vector16(binder));
  }
  body += vector16(block);
  return body;
}

std::uint16_t ServerHelloSelectedVersion(std::string_view body) {
  HandshakeReader reader(body);
  reader.ReadBytes(2 + 32);
  reader.ReadVector8();
  reader.ReadBytes(3);
  // Only a look for the extension: the full parse judges the rest.
  HandshakeReader extensions(reader.ReadVector16());
  while (extensions.Remaining() >= 4) {
    const auto type = static_cast<std::uint16_t>(bytesToUInt(extensions.ReadBytes(2)));
    const std::string_view content = extensions.ReadVector16();
    if (type == kExtensionSupportedVersions && content.size() == 2) {
      return static_cast<std::uint16_t>(bytesToUInt(content));
    }
  }
  return 0;
}

Tls13Check ParseServerHello13(std::string_view body, ServerHello13& hello) {
  hello = ServerHello13();
  if (body.size() < 2 + 32 + 1 + 2 + 1 + 2) return refuse(kAlertDecodeError, "ServerHello too short");
  HandshakeReader reader(body);
  if (reader.ReadBytes(2) != versionBytes(kVersionTls12)) {
    return refuse(kAlertIllegalParameter,
                  "TLS 1.3 ServerHello with legacy version " + hexEncode(body.substr(0, 2)));
  }
  hello.random = Bytes(reader.ReadBytes(32));
  hello.retryRequest = hello.random == kHelloRetryRandom;
  const std::size_t idLength = static_cast<std::uint8_t>(reader.ReadBytes(1)[0]);
  if (idLength > 32 || reader.Remaining() < idLength + 3) {
    return refuse(kAlertDecodeError, "Malformed session id in ServerHello");
  }
  hello.sessionIdEcho = Bytes(reader.ReadBytes(idLength));
  hello.suite = static_cast<std::uint16_t>(bytesToUInt(reader.ReadBytes(2)));
  if (reader.ReadBytes(1)[0] != '\0')
    return refuse(kAlertIllegalParameter, "Server chose compression that was not offered");
  std::vector<Extension> extensions;
  const std::string_view where = hello.retryRequest ? "HelloRetryRequest" : "ServerHello";
  if (Tls13Check check = readExtensions(reader.ReadBytes(reader.Remaining()), where, extensions);
      !check.ok()) {
    return check;
  }
  for (const Extension& extension : extensions) {
    HandshakeReader field(extension.body);
    switch (extension.type) {
      case kExtensionSupportedVersions:
        if (extension.body.size() != 2)
          return refuse(kAlertDecodeError, "Malformed supported_versions in " + std::string(where));
        hello.selectedVersion = static_cast<std::uint16_t>(bytesToUInt(extension.body));
        break;
      case kExtensionKeyShare:
        hello.hasKeyShare = true;
        if (extension.body.size() < 2)
          return refuse(kAlertDecodeError, "Malformed key_share in " + std::string(where));
        hello.group = static_cast<std::uint16_t>(bytesToUInt(field.ReadBytes(2)));
        if (hello.retryRequest) {
          if (field.Remaining() != 0)
            return refuse(kAlertDecodeError, "Malformed key_share in HelloRetryRequest");
        } else {
          if (field.Remaining() < 2 ||
              bytesToUInt(extension.body.substr(2, 2)) + 4 != extension.body.size() ||
              extension.body.size() == 4) {
            return refuse(kAlertDecodeError, "Malformed key_share in ServerHello");
          }
          hello.keyShare = Bytes(extension.body.substr(4));
        }
        break;
      case kExtensionCookie:
        if (!hello.retryRequest) return refuse(kAlertUnsupportedExtension, "cookie in a ServerHello");
        if (extension.body.size() < 3 ||
            bytesToUInt(extension.body.substr(0, 2)) + 2 != extension.body.size()) {
          return refuse(kAlertDecodeError, "Malformed cookie in HelloRetryRequest");
        }
        hello.cookie = Bytes(extension.body.substr(2));
        break;
      case kExtensionPreSharedKey:
        if (hello.retryRequest)
          return refuse(kAlertIllegalParameter, "pre_shared_key in a HelloRetryRequest");
        if (extension.body.size() != 2)
          return refuse(kAlertDecodeError, "Malformed pre_shared_key in ServerHello");
        hello.hasPreSharedKey = true;
        hello.selectedIdentity = static_cast<std::uint16_t>(bytesToUInt(extension.body));
        break;
      default:
        return refuse(kAlertUnsupportedExtension,
                      "Unrequested " + std::string(where) + " extension " + typeText(extension.type));
    }
  }
  return {};
}

Tls13Check ParseEncryptedExtensions(std::string_view body, const std::vector<std::uint16_t>& offered) {
  std::vector<Extension> extensions;
  if (Tls13Check check = readExtensions(body, "EncryptedExtensions", extensions); !check.ok()) return check;
  for (const Extension& extension : extensions) {
    switch (extension.type) {
      case kExtensionServerName:
        if (!extension.body.empty())
          return refuse(kAlertDecodeError, "Non-empty server_name in EncryptedExtensions");
        break;
      case kExtensionSupportedGroups:
        // The server's preference, for later connections: read past.
        break;
      default: {
        bool wasOffered = false;
        for (const std::uint16_t type : offered) wasOffered = wasOffered || type == extension.type;
        if (!wasOffered) {
          return refuse(kAlertUnsupportedExtension,
                        "Unrequested EncryptedExtensions extension " + typeText(extension.type));
        }
      }
    }
  }
  return {};
}

Tls13Check ParseCertificateRequest13(std::string_view body, CertificateRequest13& request) {
  request = CertificateRequest13();
  HandshakeReader reader(body);
  if (body.empty() || static_cast<std::uint8_t>(body[0]) + 1u > body.size()) {
    return refuse(kAlertDecodeError, "Malformed CertificateRequest context");
  }
  request.context = Bytes(reader.ReadVector8());
  std::vector<Extension> extensions;
  if (Tls13Check check =
          readExtensions(reader.ReadBytes(reader.Remaining()), "CertificateRequest", extensions);
      !check.ok()) {
    return check;
  }
  bool haveSchemes = false;
  for (const Extension& extension : extensions) {
    if (extension.type != kExtensionSignatureAlgorithms) continue;  // others are hints only
    const std::string_view list = extension.body;
    if (list.size() < 4 || bytesToUInt(list.substr(0, 2)) + 2 != list.size() || list.size() % 2 != 0) {
      return refuse(kAlertDecodeError, "Malformed signature_algorithms in CertificateRequest");
    }
    for (std::size_t k = 2; k < list.size(); k += 2) {
      request.schemes.push_back(static_cast<std::uint16_t>(bytesToUInt(list.substr(k, 2))));
    }
    haveSchemes = true;
  }
  if (!haveSchemes) return refuse(kAlertMissingExtension, "CertificateRequest without signature_algorithms");
  return {};
}

Tls13Check ParseCertificate13(std::string_view body, Certificate13& certificate) {
  certificate = Certificate13();
  if (body.empty() || static_cast<std::uint8_t>(body[0]) + 1u + 3u > body.size()) {
    return refuse(kAlertDecodeError, "Malformed Certificate context");
  }
  HandshakeReader reader(body);
  certificate.context = Bytes(reader.ReadVector8());
  const std::string_view lengthBytes = body.substr(certificate.context.size() + 1, 3);
  reader.ReadBytes(3);
  if (bytesToUInt(lengthBytes) != reader.Remaining()) {
    return refuse(kAlertDecodeError, "Certificate list length does not match the message");
  }
  while (reader.Remaining() > 0) {
    if (reader.Remaining() < 3 + 1 + 2) return refuse(kAlertDecodeError, "Truncated certificate entry");
    const std::string_view sizeBytes = reader.ReadBytes(3);
    const std::size_t size = bytesToUInt(sizeBytes);
    if (size == 0 || size + 2 > reader.Remaining())
      return refuse(kAlertDecodeError, "Certificate entry runs past the message");
    certificate.chain.emplace_back(reader.ReadBytes(size));
    const std::size_t extensionsLength = bytesToUInt(reader.ReadBytes(2));
    if (extensionsLength > reader.Remaining())
      return refuse(kAlertDecodeError, "Certificate entry extensions run past the message");
    // No status_request or signed_certificate_timestamp was offered.
    if (extensionsLength != 0)
      return refuse(kAlertUnsupportedExtension, "Unrequested extension in a certificate entry");
  }
  return {};
}

Bytes BuildCertificate13(std::string_view context, const std::vector<Bytes>& chain) {
  Bytes list;
  for (const Bytes& der : chain) {
    list += uintToBytes(static_cast<std::uint32_t>(der.size()), 3);
    list += der;
    list += Bytes("\x00\x00", 2);
  }
  Bytes body(1, static_cast<char>(context.size()));
  body.append(context);
  body += uintToBytes(static_cast<std::uint32_t>(list.size()), 3);
  body += list;
  return body;
}

Tls13Check ParseCertificateVerify13(std::string_view body, CertificateVerify13& verify) {
  verify = CertificateVerify13();
  if (body.size() < 5 || bytesToUInt(body.substr(2, 2)) + 4 != body.size()) {
    return refuse(kAlertDecodeError, "Malformed CertificateVerify");
  }
  verify.scheme = static_cast<std::uint16_t>(bytesToUInt(body.substr(0, 2)));
  verify.signature = Bytes(body.substr(4));
  return {};
}

Bytes CertificateVerifyContent13(bool server, std::string_view transcriptHash) {
  Bytes content(64, ' ');
  content += server ? "TLS 1.3, server CertificateVerify" : "TLS 1.3, client CertificateVerify";
  content += '\0';
  content.append(transcriptHash);
  return content;
}

Tls13Check ParseNewSessionTicket13(std::string_view body, NewSessionTicket13& ticket) {
  ticket = NewSessionTicket13();
  HandshakeReader reader(body);
  if (body.size() < 4 + 4 + 1) return refuse(kAlertDecodeError, "NewSessionTicket too short");
  ticket.lifetime = bytesToUInt(reader.ReadBytes(4));
  ticket.ageAdd = static_cast<std::uint32_t>(bytesToUInt(reader.ReadBytes(4)));
  const std::size_t nonceLength = static_cast<std::uint8_t>(reader.ReadBytes(1)[0]);
  if (nonceLength + 2 > reader.Remaining())
    return refuse(kAlertDecodeError, "NewSessionTicket nonce runs past the message");
  ticket.nonce = Bytes(reader.ReadBytes(nonceLength));
  const std::size_t ticketLength = bytesToUInt(reader.ReadBytes(2));
  if (ticketLength == 0 || ticketLength + 2 > reader.Remaining()) {
    return refuse(kAlertDecodeError, "Malformed ticket in NewSessionTicket");
  }
  ticket.ticket = Bytes(reader.ReadBytes(ticketLength));
  ticket.ticketLength = ticketLength;
  std::vector<Extension> extensions;
  return readExtensions(reader.ReadBytes(reader.Remaining()), "NewSessionTicket", extensions);
}

Tls13Check ParseKeyUpdate(std::string_view body, bool& updateRequested) {
  if (body.size() != 1)
    return refuse(kAlertDecodeError, "KeyUpdate of " + std::to_string(body.size()) + " bytes");
  const auto value = static_cast<std::uint8_t>(body[0]);
  if (value > 1)
    return refuse(kAlertIllegalParameter, "KeyUpdate with request_update " + std::to_string(value));
  updateRequested = value == 1;
  return {};
}

}  // namespace qv
