#pragma once
// One TLS connection, client or server role. The server speaks TLS 1.0 (RSA
// key exchange; AES-128/256-CBC-SHA, RC4-MD5, RC4-SHA); the client also TLS
// 1.2 (ECDHE-RSA and ECDHE-ECDSA over X25519, secp256r1 or secp384r1, or RSA
// key exchange; AES-GCM, AES-CBC and ChaCha20-Poly1305) as its version
// policy allows. The object never touches a socket: the
// caller feeds received bytes to ReceiveBytes and writes what
// SendApplicationData returns.
//
// Not safe for concurrent use: callers serialise every call on one object.
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "tls/certificate_check.h"
#include "tls/handshake_state.h"
#include "tls/record_state.h"
#include "tls/tls12_session.h"
#include "tls/tls13_state.h"
#include "tls/tls13_ticket.h"
#include "tls/tls_log.h"
#include "tls/tls_protocol.h"
#include "tls/tls_version_policy.h"
#include "xml/byte_string.h"

namespace qv {

struct Tls12Suite;
struct ClientCredentials;

class TlsConnection {
 public:
  explicit TlsConnection(TlsLog log = {});

  // --- Configuration (before StartClient / the first bytes) ---------------
  void SetLog(TlsLog log);
  // Host name for the server_name extension and the certificate check.
  void SetServerName(std::string_view name);
  // Client: check the server's chain against the trust roots and the name.
  // On by default.
  void SetVerifyCertificates(bool verify);
  // Client: asked with the server's DER chain (first = end-entity) as soon
  // as its Certificate message is read, before anything depends on it.
  using CertificateCheck = std::function<CertificateVerdict(const std::vector<Bytes>& chainDer)>;
  void SetCertificateCheck(CertificateCheck check);
  // Client: the versions offered and accepted; TLS 1.0 only by default.
  void SetVersionPolicy(TlsVersionPolicy policy);
  // Client: the certificate and key a TLS 1.2 (or later) server's
  // CertificateRequest is answered with; null (the default) answers with
  // an empty Certificate. Shared, so one loaded file serves every connection.
  void SetClientCredentials(std::shared_ptr<const ClientCredentials> credentials);
  // Client, TLS 1.3: a ticket from an earlier connection to the same server,
  // offered when it has not expired (a declined one means a full handshake).
  void SetResumptionTicket13(std::optional<Tls13Ticket> ticket) { ticket13_ = std::move(ticket); }
  // Client, TLS 1.2 ("1.2", and "auto" when the server stops at 1.2): a
  // session of an earlier connection to the same server, offered by its
  // ticket or id (a declined one means a full handshake).
  void SetResumptionSession12(std::optional<Tls12Session> session) { session12_ = std::move(session); }

  // --- Operations -----------------------------------------------------------
  // Client role; queues the ClientHello (it leaves with the next
  // SendApplicationData call).
  void StartClient();
  // Server role (the own identity answers the ClientHello); with
  // sessionCaching sessions are stored in and resumed from the process-wide
  // cache.
  void StartServer(bool sessionCaching);
  // Queues plaintext (may be empty); returns every byte waiting for the
  // socket. Application data leaves only once the handshake is done.
  Bytes SendApplicationData(std::string_view bytes);
  // Feeds socket bytes; returns the application plaintext that became
  // available. Handshake replies wait for the next SendApplicationData.
  Bytes ReceiveBytes(std::string_view bytes);
  // Queues the closure alert (warning close_notify).
  void SendCloseNotify();
  // Clears the per-connection state so the object can run a new handshake
  // on a new socket, keeping the session (id, master secret, suite) for
  // resumption and the configuration (log, server name, checks, caching).
  void PrepareResumption();

  // --- State ------------------------------------------------------------------
  // A fatal alert was sent (or protection failed): nothing more is read.
  bool Failed() const { return failed_; }
  // The peer's Finished arrived (check Failed() for its verdict).
  bool HandshakeDone() const { return handshake_.done; }
  // The peer sent an alert other than close_notify.
  bool AlertReceived() const { return alertReceived_; }
  // The peer sent close_notify.
  bool PeerClosed() const { return peerClosed_; }
  bool CloseNotifySent() const { return closeNotifySent_; }
  // Client: the server's DER chain as accepted (empty after resumption).
  const std::vector<Bytes>& PeerCertificates() const { return handshake_.peerCertificate.chain; }
  // The server accepted the offered ticket or session (no certificate came).
  bool Resumed() const { return tls13_.resumed || handshake_.resumed; }
  // TLS 1.3: the last NewSessionTicket this connection got (once), for the next one.
  std::optional<Tls13Ticket> TakeLatestTicket13() { return std::exchange(latestTicket13_, std::nullopt); }
  // TLS 1.2: the session this connection made or resumed (once, after the
  // server's Finished checked out), for the next one; none without the
  // extended master secret.
  std::optional<Tls12Session> TakeLatestSession12() { return std::exchange(latestSession12_, std::nullopt); }
  // The two bytes of the negotiated (or resumed) suite; empty before.
  const Bytes& CipherSuite() const { return handshake_.cipherSuite; }
  // The version the ServerHello chose (0x0301, 0x0303); 0 before it.
  std::uint16_t NegotiatedVersion() const {
    if (tls13_.active) return kVersionTls13;
    return handshake_.serverRandom.empty() ? 0 : version_;
  }

 private:
  friend class TlsConnectionTestPeer;

  // --- Record layer (record_layer.cpp) ---------------------------------------
  void SendRecord(std::uint8_t type, std::string_view bytes);
  void ProcessRecord(std::uint8_t type, std::string_view recordVersion, std::string_view fragment);
  Bytes ProtectFragment(std::uint8_t type, std::string_view fragment);
  // Decrypts and checks one record; false when it must be dropped.
  bool UnprotectFragment(std::uint8_t type, std::string_view recordVersion, Bytes& fragment);
  Bytes ComputeRecordMac(const RecordState& state, std::uint8_t type, std::string_view recordVersion,
                         std::uint64_t sequence, std::string_view fragment) const;
  void SendAlert(std::uint8_t description, std::uint8_t level);
  // A record the current state cannot take: unexpected_message.
  void RefuseRecord(std::string_view logText);
  void ProcessAlert(std::string_view fragment);
  void SendChangeCipherSpec();
  void ProcessChangeCipherSpec(std::string_view fragment);
  void SendHandshake(std::uint8_t type, std::string_view body);

  // --- Handshake dispatcher (handshake.cpp) ----------------------------------
  void ProcessHandshake(std::string_view fragment);
  void HandleHandshakeMessage(std::uint8_t type, std::string_view message);

  // --- Client role (client_handshake.cpp) ------------------------------------
  void SendClientHello();
  void ProcessServerHello(std::string_view body);
  void ProcessCertificate(std::string_view body);
  void ProcessCertificateRequest(std::string_view body);
  void ProcessServerHelloDone(std::string_view body);
  // Client: answers a certificate request; server: sends the own chain.
  void SendCertificate();
  void SendClientKeyExchange();
  void SendCertificateVerify();

  // --- Client role, TLS 1.2 policies (client_handshake12.cpp) ----------------
  void SendClientHello12();
  void ProcessServerHello12(std::string_view body);
  void ProcessServerKeyExchange(std::string_view body);
  // ECDHE key exchange with the server's signed share; false (alert sent)
  // when it cannot be done.
  bool SendClientKeyExchangeEcdhe();
  // Whether the server's key fits the negotiated TLS 1.2 suite; logs and
  // sends the alert when it does not.
  bool AcceptServerKey12(const Certificate& certificate);
  // The CertificateRequest read strictly (alert sent when malformed).
  void ProcessCertificateRequest12(std::string_view body);
  // The answer with the configured credentials: the chain (or nothing when
  // none fits) and, after the key exchange, its CertificateVerify.
  void SendClientCertificate12();
  void SendClientCertificateVerify12();
  // Resumption (client_resumption12.cpp): the session the hello offers
  // (its session id set, its ticket returned), the ServerHello's verdict on
  // it, the ticket, and the session kept once the handshake is done.
  Bytes OfferSession12();
  bool AcceptResumption12(std::uint16_t chosenVersion, std::string_view suite, bool extendedMasterSecret);
  void ProcessNewSessionTicket12(std::string_view body);
  // A resumed handshake has no certificate, key exchange or request.
  bool RefusedInResumption12(std::uint8_t type);
  void CompleteHandshake12();

  // --- Client role, TLS 1.3 (client_handshake13.cpp) -----------------------
  void SendClientHello13();
  // Routes the first answer: TLS 1.3 (or a retry request) here, anything
  // older to the TLS 1.2 code after the downgrade check.
  void ProcessServerHello13(std::string_view message);
  void ProcessHandshake13(std::string_view fragment);
  void HandleHandshakeMessage13(std::uint8_t type, std::string_view message, bool moreInRecord);
  void ProcessEncryptedExtensions(std::string_view body);
  void ProcessCertificateRequest13(std::string_view body);
  void ProcessCertificate13(std::string_view body);
  void ProcessCertificateVerify13(std::string_view body);
  void ProcessFinished13(std::string_view message, bool moreInRecord);
  void ProcessNewSessionTicket(std::string_view body);
  void ProcessKeyUpdate(std::string_view body, bool moreInRecord);
  void SendClientCertificate13();
  void SendPostHandshake13(std::uint8_t type, std::string_view body);
  // Moves our write direction to the next application traffic secret.
  void UpdateWriteKey13();
  bool AppendTranscript13(std::string_view message);
  Bytes TranscriptHash13() const;
  bool InstallKey13(RecordState& state, const Bytes& trafficSecret);
  // Every TLS 1.3 refusal: a level 1 line saying what was wrong, then the alert.
  void Fail13(std::uint8_t description, std::string_view logText);

  // --- TLS 1.3 records (record_layer13.cpp) ----------------------------------
  void SendRecord13(std::uint8_t type, std::string_view bytes);
  void ProcessRecord13(std::uint8_t type, std::string_view recordVersion, std::string_view fragment);
  void ProcessAlert13(std::string_view fragment);

  // --- Server role (server_handshake.cpp) ------------------------------------
  void ProcessClientHello(std::string_view body);
  void SendServerHello();
  void SendHelloDone();
  void ProcessClientKeyExchange(std::string_view body);
  void ProcessCertificateVerify(std::string_view body);

  // --- Key schedule (key_schedule.cpp) ---------------------------------------
  void ComputeMasterSecret(std::string_view preMaster);
  // Installs the suite's keys in both directions (sequence numbers to 0).
  void PerformChangeCipherSpec();
  Bytes ComputeFinished(bool sending) const;
  // TLS 1.2 (key_schedule12.cpp): the suite's row (nullptr below TLS 1.2),
  // its keys in both directions, and the master secret from the pre-master.
  const Tls12Suite* Suite12() const;
  void PerformChangeCipherSpec12();
  void ComputeMasterSecret12(std::string_view preMaster);
  void SendFinished();
  void ProcessFinished(std::string_view body);

  // --- Helpers (tls_connection.cpp) -------------------------------------------
  // True for TLS 1.0 and later formulas, false for SSL 3.0.
  bool UsesTlsFormulas() const;
  // True when PerformChangeCipherSpec has what it needs: a known suite and
  // a 48-byte master secret.
  bool KeysAvailable() const;
  // A line with the connection's prefix.
  void Log(int level, std::string_view text) const;
  // Level 9 lines: label + hex of the bytes, and free text.
  void LogHandshakeData(std::string_view label, std::string_view bytes) const;
  void LogTlsMessage(std::string_view text) const;
  void FailHandshake(std::uint8_t description, std::string_view logText);

  // --- Configuration ------------------------------------------------------------
  TlsLog log_;
  std::string serverName_;
  bool verifyCertificates_ = true;
  bool sessionCaching_ = false;
  CertificateCheck certificateCheck_;
  TlsVersionPolicy versionPolicy_ = TlsVersionPolicy::kTls10;
  std::shared_ptr<const ClientCredentials> clientCredentials_;

  // --- Connection state ---------------------------------------------------------
  TlsRole role_ = TlsRole::kServer;
  // The protocol version in use; 0 until one is chosen.
  std::uint16_t version_ = 0;
  RecordState read_;
  RecordState write_;
  HandshakeState handshake_;
  Tls13Handshake tls13_;
  std::optional<Tls13Ticket> ticket13_;
  std::optional<Tls13Ticket> latestTicket13_;
  std::optional<Tls12Session> session12_;
  std::optional<Tls12Session> latestSession12_;
  Bytes receiveBuffer_;
  Bytes pendingPlaintext_;
  Bytes outgoingData_;
  Bytes applicationData_;
  bool failed_ = false;
  bool alertReceived_ = false;
  bool peerClosed_ = false;
  bool closeNotifySent_ = false;
};

}  // namespace qv
