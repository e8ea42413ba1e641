#pragma once
// One TLS 1.0 connection (RSA key exchange; AES-128/256-CBC-SHA, RC4-MD5,
// RC4-SHA), client or server role. The object never touches a socket: the
// caller feeds received bytes to ReceiveBytes and writes what
// SendApplicationData returns.
//
// Not safe for concurrent use: callers serialise every call on one object.
#include <cstdint>
#include <string>
#include <string_view>

#include "crypto/aes.h"
#include "crypto/rc4.h"
#include "crypto/rsa.h"
#include "tls/certificate.h"
#include "xml/byte_string.h"

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
inline constexpr std::uint8_t kAlertUnsupportedCertificate = 43;
inline constexpr std::uint8_t kAlertCertificateUnknown = 46;
inline constexpr std::uint8_t kAlertIllegalParameter = 47;
inline constexpr std::uint8_t kAlertUnknownCa = 48;
inline constexpr std::uint8_t kAlertProtocolVersion = 70;

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

// Plaintext per record.
inline constexpr std::size_t kMaxFragment = 16384;
// A received record may add this much for MAC and padding; anything longer
// is refused before it is buffered.
inline constexpr std::size_t kMaxRecordExpansion = 2048;
// The largest handshake message (certificate chains included) accepted.
inline constexpr std::size_t kMaxHandshakeMessage = 65536;
// The transcript of one handshake cannot legitimately grow past this.
inline constexpr std::size_t kMaxHandshakeTranscript = 4 * kMaxHandshakeMessage;

class TlsConnection {
 public:
  // --- Operations used by the CSTA connection ---------------------------

  // Host name for the server_name extension and the certificate check.
  void SetServerName(std::string_view name);
  // Client role; queues the ClientHello (it leaves with the next
  // SendApplicationData call).
  void StartClient();
  // Queues plaintext (may be empty); returns every byte waiting for the
  // socket. Application data leaves only once the handshake is done.
  Bytes SendApplicationData(std::string_view bytes);
  // Feeds socket bytes; returns the application plaintext that became
  // available. Handshake replies wait in outgoingData.
  Bytes ReceiveBytes(std::string_view bytes);

  // Clears every per-connection field so the object can run a new handshake
  // on a new socket, keeping the session (id, master secret, suite) for
  // resumption and the configuration (server name, prefix, flags).
  void PrepareResumption();

  // --- Record layer -------------------------------------------------------
  void SendRecord(std::uint8_t type, std::string_view bytes);
  void ProcessRecord(std::uint8_t type, std::string_view recordVersion, std::string_view fragment);
  Bytes ComputeRecordMac(bool sending, std::uint8_t type, std::string_view recordVersion,
                         std::string_view sequence, std::string_view fragment) const;
  void SendAlert(std::uint8_t description, std::uint8_t level);
  void ProcessAlert(std::string_view fragment);
  void SendChangeCipherSpec();
  void ProcessChangeCipherSpec(std::string_view fragment);
  void SendHandshake(std::uint8_t type, std::string_view body);
  // Level 9 lines: label + hex of the bytes, and free text.
  void LogHandshakeData(std::string_view label, std::string_view bytes) const;
  void LogTlsMessage(std::string_view text) const;

  // --- Handshake (both roles share the dispatcher) ------------------------
  void ProcessHandshake(std::string_view fragment);
  void SendClientHello();
  void ProcessServerHello(std::string_view body);
  void ProcessCertificate(std::string_view body);
  void ProcessCertificateRequest(std::string_view body);
  void ProcessServerHelloDone(std::string_view body);
  // Client: answers a certificate request; server: sends the own chain.
  void SendCertificate();
  void SendClientKeyExchange();
  void SendCertificateVerify();
  void SendFinished();
  void ProcessFinished(std::string_view body);
  void PerformChangeCipherSpec();
  void ComputeMasterSecret(std::string_view preMaster);
  Bytes ComputeFinished(bool sending) const;

  // --- Server role ------------------------------------------------------------
  void ProcessClientHello(std::string_view body);
  void SendServerHello();
  void SendHelloDone();
  void ProcessClientKeyExchange(std::string_view body);
  void ProcessCertificateVerify(std::string_view body);

  // True for TLS 1.0 and later formulas, false for SSL 3.0.
  bool UsesTlsFormulas() const;
  // True when PerformChangeCipherSpec has what it needs: a known suite and
  // a 48-byte master secret.
  bool KeysAvailable() const;

  // --- State (public: the CSTA connection sets logPrefix and
  // verifyCertificates directly) --------------------------------------------
  Bytes receiveBuffer;
  Bytes pendingPlaintext;
  Bytes outgoingData;
  Bytes applicationData;
  Certificate localCertificate;
  Certificate serverCertificate;
  RsaKey privateKey;
  Rc4State rc4Read;
  Rc4State rc4Write;
  AesContext aesRead;
  AesContext aesWrite;
  std::uint32_t isClient = 0;
  std::uint32_t cipherAlgorithm = 0;
  std::uint32_t blockSize = 1;
  std::uint32_t cipherType = 0;
  std::uint32_t macAlgorithm = 0;
  Bytes masterSecret;
  Bytes clientRandom;
  Bytes serverRandom;
  Bytes clientWriteMacSecret;
  Bytes serverWriteMacSecret;
  Bytes writeSequence = Bytes(8, '\0');
  Bytes readSequence = Bytes(8, '\0');
  Bytes version;
  Bytes handshakeBuffer;
  Bytes sessionId;
  std::string logPrefix;
  bool verifyCertificates = true;
  bool sessionCaching = false;
  bool finishedPending = true;
  bool handshakeDone = false;
  bool readCipherActive = false;
  bool writeCipherActive = false;
  bool failed = false;
  bool alertReceived = false;
  bool closeNotifySent = false;
  Bytes certificateRequest;
  std::string serverName;
  Bytes cipherSuite;
  Bytes handshakeMessages;

 private:
  Bytes ProtectFragment(std::uint8_t type, std::string_view fragment);
  // Decrypts and checks one record; false (alert sent) when it must be dropped.
  bool UnprotectFragment(std::uint8_t type, std::string_view recordVersion, Bytes& fragment);
  void HandleHandshakeMessage(std::uint8_t type, std::string_view message);
  void FailHandshake(std::uint8_t description, std::string_view logText);
};

}  // namespace qv
