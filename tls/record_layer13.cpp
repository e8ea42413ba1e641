// TLS 1.3 records: everything after the ServerHello is encrypted with the
// content type inside; the only plaintext records left are the hellos, the
// compatibility ChangeCipherSpec and alerts sent before the keys.
#include "tls/tls13_messages.h"
#include "tls/tls_connection.h"

namespace qv {

void TlsConnection::SendRecord13(std::uint8_t type, std::string_view bytes) {
  const Bytes header = Bytes(1, static_cast<char>(kContentApplicationData)) + versionBytes(kVersionTls12);
  // Nothing at all for empty content, as under TLS 1.2.
  for (std::size_t offset = 0; offset < bytes.size(); offset += kMaxFragment) {
    // Keys wear out: a fresh one well before the AEAD's limit.
    if (tls13_.step == Tls13Step::kConnected && !tls13_.updatingWriteKey &&
        write_.tls13.Sequence() >= kTls13RecordsPerKey) {
      UpdateWriteKey13();
    }
    const Bytes sealed = write_.tls13.Seal(type, bytes.substr(offset, kMaxFragment));
    if (sealed.empty()) {
      Log(1, "No key for record protection");
      failed_ = true;
      return;
    }
    outgoingData_ += header;
    outgoingData_ += uintToBytes(static_cast<std::uint32_t>(sealed.size()), 2);
    outgoingData_ += sealed;
  }
}

void TlsConnection::ProcessRecord13(std::uint8_t type, std::string_view recordVersion,
                                    std::string_view fragment) {
  if (alertReceived_) return;
  if (fragment.size() > kMaxFragment + kTls13MaxExpansion) {
    Fail13(kAlertRecordOverflow,
           "Record of " + std::to_string(fragment.size()) + " bytes is too long for TLS 1.3");
    return;
  }
  if (type == kContentChangeCipherSpec) {
    // Middlebox compatibility: one byte 01, in the clear, before the
    // server's Finished; dropped unread.
    if (fragment != std::string_view("\x01", 1) || tls13_.step == Tls13Step::kConnected) {
      Fail13(kAlertUnexpectedMessage, "Unexpected ChangeCipherSpec under TLS 1.3");
    }
    return;
  }
  Bytes content;
  std::uint8_t innerType = type;
  if (read_.tls13.HasKey()) {
    if (type != kContentApplicationData) {
      Fail13(kAlertUnexpectedMessage,
             "Unprotected record of type " + std::to_string(type) + " under TLS 1.3 keys");
      return;
    }
    Bytes header(1, static_cast<char>(type));
    header.append(recordVersion);
    header += uintToBytes(static_cast<std::uint32_t>(fragment.size()), 2);
    std::optional<Tls13Inner> inner = read_.tls13.Open(header, fragment);
    if (!inner) {
      Fail13(kAlertBadRecordMac, "TLS 1.3 record failed its integrity check");
      return;
    }
    if (inner->content.size() > kMaxFragment) {
      Fail13(kAlertRecordOverflow,
             "TLS 1.3 record content of " + std::to_string(inner->content.size()) + " bytes");
      return;
    }
    innerType = inner->type;
    content = std::move(inner->content);
  } else {
    content = Bytes(fragment);
  }
  switch (innerType) {
    case kContentHandshake:
      if (content.empty()) {
        Fail13(kAlertUnexpectedMessage, "Empty handshake record");
        return;
      }
      ProcessHandshake(content);
      break;
    case kContentAlert:
      ProcessAlert13(content);
      break;
    case kContentApplicationData:
      if (!handshake_.done) {
        Fail13(kAlertUnexpectedMessage, "Application data before the TLS 1.3 handshake is done");
        return;
      }
      applicationData_ += content;
      break;
    default:
      Fail13(kAlertUnexpectedMessage, "TLS 1.3 record of unknown type " + std::to_string(innerType));
      break;
  }
}

void TlsConnection::ProcessAlert13(std::string_view fragment) {
  if (fragment.size() != 2) {
    Fail13(kAlertDecodeError, "Malformed alert of " + std::to_string(fragment.size()) + " bytes");
    return;
  }
  const auto level = static_cast<std::uint8_t>(fragment[0]);
  const auto description = static_cast<std::uint8_t>(fragment[1]);
  if (description == kAlertCloseNotify) {
    Log(8, "Received closure alert");
    peerClosed_ = true;
    if (!closeNotifySent_) SendAlert(kAlertCloseNotify, kAlertWarning);
    return;
  }
  if (description == kAlertUserCanceled) {
    // Followed by close_notify.
    Log(1, "Server sent alert " + AlertName(description));
    return;
  }
  // TLS 1.3 alerts other than these two are fatal whatever their level says.
  Log(1, std::string("Server sent ") + (level == kAlertFatal ? "fatal" : "warning") + " alert " +
             AlertName(description) + (handshake_.done ? "" : " during the TLS 1.3 handshake"));
  alertReceived_ = true;
}

}  // namespace qv
