#pragma once
// What the TLS 1.3 client handshake holds between messages: its step, the
// key shares and secrets, and what a CertificateRequest asked for.
#include <cstdint>
#include <vector>

#include "tls/tls13_key_schedule.h"
#include "tls/tls13_key_share.h"
#include "xml/byte_string.h"

namespace qv {

enum class Tls13Step : std::uint8_t {
  kIdle,                     // TLS 1.3 not offered, or the server chose TLS 1.2 or older
  kWaitServerHello,          // hello sent (again after a HelloRetryRequest)
  kWaitEncryptedExtensions,  // handshake keys in place
  kWaitCertificateOrRequest,
  kWaitCertificate,  // after a CertificateRequest
  kWaitCertificateVerify,
  kWaitFinished,
  kConnected,  // application keys; tickets and key updates only
};

struct Tls13Handshake {
  Tls13Step step = Tls13Step::kIdle;
  // The ClientHello offered TLS 1.3: a lower choice is checked for the
  // downgrade sentinels.
  bool offered = false;
  // The server chose TLS 1.3: records and messages follow RFC 8446.
  bool active = false;
  bool retried = false;
  bool compatibilityCcsSent = false;
  std::vector<KeySharePrivate> shares;
  // The first ClientHello (whole message) until a HelloRetryRequest replaces it.
  std::size_t firstHelloLength = 0;
  std::uint16_t retrySuite = 0;
  std::uint16_t retryGroup = 0;
  Bytes cookie;
  const Tls13Suite* suite = nullptr;
  Tls13Secrets secrets;
  // Current application traffic secrets (KeyUpdate moves them on).
  Bytes clientTraffic;
  Bytes serverTraffic;
  bool certificateRequested = false;
  Bytes requestContext;
  std::vector<std::uint16_t> requestSchemes;
  // Extension types besides server_name and supported_groups that the
  // server may answer in EncryptedExtensions.
  std::vector<std::uint16_t> answerableExtensions;
  bool updatingWriteKey = false;
  // A ticket went out in the hello; the server took it.
  bool pskOffered = false;
  bool resumed = false;
  Bytes resumptionMaster;
};

}  // namespace qv
