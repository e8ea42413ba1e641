#pragma once
// The tests' (and fuzzers') way into a TlsConnection's private state: keys
// installed without a handshake, the record and handshake state, and the
// formulas on their own.
#include <cstdint>
#include <string_view>

#include "tls/tls_connection.h"
#include "xml/byte_string.h"

namespace qv {

class TlsConnectionTestPeer {
 public:
  explicit TlsConnectionTestPeer(TlsConnection& connection) : connection_(connection) {}

  // Both directions keyed for the suite as if a handshake in this role had
  // just finished: TLS 1.0, fixed master secret and randoms.
  void InstallKeys(TlsRole role, std::string_view suite) {
    connection_.role_ = role;
    connection_.version_ = kVersionTls10;
    HandshakeState& handshake = connection_.handshake_;
    handshake.cipherSuite = Bytes(suite);
    handshake.masterSecret = Bytes(48, '\x11');
    handshake.clientRandom = Bytes(32, '\x22');
    handshake.serverRandom = Bytes(32, '\x33');
    connection_.PerformChangeCipherSpec();
    connection_.write_.active = true;
    connection_.read_.active = true;
    handshake.done = true;
  }

  // The same for a TLS 1.2 suite (GCM, or CBC with explicit IVs).
  void InstallKeys12(TlsRole role, std::string_view suite) {
    InstallKeys(role, suite);
    connection_.version_ = kVersionTls12;
    connection_.PerformChangeCipherSpec();
  }

  HandshakeState& Handshake() { return connection_.handshake_; }
  Tls13Handshake& Tls13() { return connection_.tls13_; }
  // Moves the TLS 1.3 write sequence number, as if that many records had left.
  void SetWriteSequence13(std::uint64_t sequence) { connection_.write_.tls13.sequence_ = sequence; }
  RecordState& Read() { return connection_.read_; }
  RecordState& Write() { return connection_.write_; }
  std::uint16_t& Version() { return connection_.version_; }
  TlsRole& Role() { return connection_.role_; }
  const Bytes& ReceiveBuffer() const { return connection_.receiveBuffer_; }
  const Bytes& PendingPlaintext() const { return connection_.pendingPlaintext_; }
  // What waits for the socket, without taking it.
  const Bytes& Outgoing() const { return connection_.outgoingData_; }

  void SendAlert(std::uint8_t description, std::uint8_t level) { connection_.SendAlert(description, level); }
  // Handshake bytes as if they had arrived in a record.
  void ProcessHandshake(std::string_view fragment) { connection_.ProcessHandshake(fragment); }
  // A record of any type, protected as the current write state says.
  void SendRecord(std::uint8_t type, std::string_view bytes) { connection_.SendRecord(type, bytes); }
  // The MAC our sending (or receiving) side computes for a record.
  Bytes ComputeRecordMac(bool sending, std::uint8_t type, std::string_view recordVersion,
                         std::uint64_t sequence, std::string_view fragment) const {
    return connection_.ComputeRecordMac(sending ? connection_.write_ : connection_.read_, type, recordVersion,
                                        sequence, fragment);
  }
  void ComputeMasterSecret(std::string_view preMaster) { connection_.ComputeMasterSecret(preMaster); }
  void PerformChangeCipherSpec() { connection_.PerformChangeCipherSpec(); }
  Bytes ComputeFinished(bool sending) const { return connection_.ComputeFinished(sending); }

 private:
  TlsConnection& connection_;
};

}  // namespace qv
