// TLS 1.2 keys: the master secret (extended when the server agreed, also
// for a TLS 1.0 server under "auto") and the record keys of the suite.
#include "crypto/digest.h"
#include "crypto/md5.h"
#include "crypto/prf.h"
#include "crypto/sha1.h"
#include "tls/tls12_key_schedule.h"
#include "tls/tls12_suites.h"
#include "tls/tls_connection.h"

namespace qv {

const Tls12Suite* TlsConnection::Suite12() const {
  return version_ >= kVersionTls12 ? FindTls12Suite(handshake_.cipherSuite) : nullptr;
}

void TlsConnection::ComputeMasterSecret12(std::string_view preMaster) {
  const Bytes& transcript = handshake_.transcript;
  if (const Tls12Suite* suite = Suite12()) {
    handshake_.masterSecret =
        handshake_.extendedMasterSecret
            ? Tls12ExtendedMasterSecret(suite->prfHash, preMaster, digestOf(suite->prfHash, transcript))
            : Tls12MasterSecret(suite->prfHash, preMaster, handshake_.clientRandom, handshake_.serverRandom);
  } else if (version_ >= kVersionTls12) {
    // No suite of ours: KeysAvailable() refuses to go on.
    handshake_.masterSecret.clear();
  } else {
    // RFC 7627 for TLS 1.0: the session hash is MD5 || SHA-1 of the transcript.
    handshake_.masterSecret =
        tlsPrf(preMaster, "extended master secret", md5Digest(transcript) + sha1Digest(transcript), 48);
  }
  LogHandshakeData("Client Random", handshake_.clientRandom);
  LogHandshakeData("Server Random", handshake_.serverRandom);
  LogHandshakeData("Master Secret", handshake_.masterSecret);
}

void TlsConnection::PerformChangeCipherSpec12() {
  LogHandshakeData("PerformChangeCipherSpec", handshake_.cipherSuite);
  const Tls12Suite* suite = Suite12();
  for (RecordState* state : {&write_, &read_}) {
    state->cipher = CipherKind::kNone;
    state->mac = MacKind::kNone;
    state->sequence = 0;
  }
  if (suite == nullptr) return;
  const Tls12KeyBlock keys =
      Tls12DeriveKeys(suite->prfHash, handshake_.masterSecret, handshake_.clientRandom,
                      handshake_.serverRandom, suite->macLength, suite->keyLength, suite->fixedIvLength);
  LogHandshakeData("Client Write Key", keys.clientKey);
  LogHandshakeData("Server Write Key", keys.serverKey);
  const bool client = role_ == TlsRole::kClient;
  const Bytes& writeKey = client ? keys.clientKey : keys.serverKey;
  const Bytes& readKey = client ? keys.serverKey : keys.clientKey;
  if (suite->cipher == RecordCipher::kChaCha20Poly1305) {
    write_.cipher = read_.cipher = CipherKind::kChaCha20Poly1305;
    write_.chacha.SetKey(writeKey, client ? keys.clientIv : keys.serverIv);
    read_.chacha.SetKey(readKey, client ? keys.serverIv : keys.clientIv);
    return;
  }
  if (suite->cipher == RecordCipher::kAesGcm) {
    const CipherKind kind = suite->keyLength == 16 ? CipherKind::kAes128Gcm : CipherKind::kAes256Gcm;
    write_.cipher = read_.cipher = kind;
    write_.gcm.SetKey(writeKey, client ? keys.clientIv : keys.serverIv);
    read_.gcm.SetKey(readKey, client ? keys.serverIv : keys.clientIv);
    return;
  }
  const CipherKind kind = suite->keyLength == 16 ? CipherKind::kAes128Cbc : CipherKind::kAes256Cbc;
  const int keyBits = suite->keyLength == 16 ? 128 : 256;
  for (RecordState* state : {&write_, &read_}) {
    state->cipher = kind;
    state->mac = MacKind::kSha1;
    state->explicitIv = true;
    state->aes.configure(keyBits);
  }
  write_.macSecret = client ? keys.clientMacKey : keys.serverMacKey;
  read_.macSecret = client ? keys.serverMacKey : keys.clientMacKey;
  // Each record brings its own IV; the chain only has to start somewhere.
  write_.aes.setEncryptKey(writeKey, Bytes(16, '\0'));
  read_.aes.setDecryptKey(readKey, Bytes(16, '\0'));
}

}  // namespace qv
