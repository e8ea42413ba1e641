// Master secret, key block, Finished: TLS 1.0 and SSL 3.0 formulas.
#include "crypto/digest.h"
#include "crypto/md5.h"
#include "crypto/prf.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "tls/cipher_suites.h"
#include "tls/tls12_key_schedule.h"
#include "tls/tls12_suites.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

// SSL 3.0 expansion: MD5(secret + SHA-1(L + secret + seed)) for L = "A",
// "BB", "CCC", ... until length bytes are there.
Bytes ssl3Expand(std::string_view secret, std::string_view seed, std::size_t length) {
  Bytes output;
  for (std::size_t round = 1; output.size() < length; ++round) {
    const Bytes label(round, static_cast<char>('A' + round - 1));
    output += md5Digest(Bytes(secret) + sha1Digest(label + Bytes(secret) + Bytes(seed)));
  }
  return output.substr(0, length);
}

}  // namespace

void TlsConnection::ComputeMasterSecret(std::string_view preMaster) {
  if (version_ >= kVersionTls12 || handshake_.extendedMasterSecret) {
    ComputeMasterSecret12(preMaster);
    return;
  }
  const std::string_view secret = preMaster.size() > 48 ? preMaster.substr(preMaster.size() - 48) : preMaster;
  const Bytes seed = handshake_.clientRandom + handshake_.serverRandom;
  if (UsesTlsFormulas()) {
    handshake_.masterSecret = tlsPrf(secret, "master secret", seed, 48);
  } else {
    handshake_.masterSecret = ssl3Expand(secret, seed, 48);
  }
  LogHandshakeData("Client Random", handshake_.clientRandom);
  LogHandshakeData("Server Random", handshake_.serverRandom);
  LogHandshakeData("Master Secret", handshake_.masterSecret);
}

void TlsConnection::PerformChangeCipherSpec() {
  if (version_ >= kVersionTls12) {
    PerformChangeCipherSpec12();
    return;
  }
  const SuiteParameters suite = SuiteParametersOf(handshake_.cipherSuite);
  LogHandshakeData("PerformChangeCipherSpec", handshake_.cipherSuite);

  const std::size_t macLength = MacLength(suite.mac);
  const std::size_t keyLength = KeyLength(suite.cipher);
  const std::size_t ivLength = IvLength(suite.cipher);
  const std::size_t blockLength = 2 * (macLength + keyLength + ivLength);
  const Bytes seed = handshake_.serverRandom + handshake_.clientRandom;
  // SSL 3.0 gets as much key material as the suite needs (AES needs more
  // than the five rounds of "A" to "EEEEE" give).
  const Bytes keyBlock = UsesTlsFormulas() ? tlsPrf(handshake_.masterSecret, "key expansion", seed,
                                                    static_cast<int>(blockLength))
                                           : ssl3Expand(handshake_.masterSecret, seed, blockLength);
  LogHandshakeData("Key Block", keyBlock);

  std::size_t position = 0;
  const auto take = [&](std::size_t n) {
    const Bytes part = position < keyBlock.size() ? keyBlock.substr(position, n) : Bytes();
    position += n;
    return part;
  };
  const Bytes clientMacSecret = take(macLength);
  const Bytes serverMacSecret = take(macLength);
  LogHandshakeData("Client Write MAC Secret", clientMacSecret);
  LogHandshakeData("Server Write MAC Secret", serverMacSecret);
  const Bytes clientKey = take(keyLength);
  const Bytes serverKey = take(keyLength);
  const Bytes clientIv = take(ivLength);
  const Bytes serverIv = take(ivLength);
  if (suite.cipher != CipherKind::kNone) {
    LogHandshakeData("Client Write Key", clientKey);
    LogHandshakeData("Server Write Key", serverKey);
  }
  const bool client = role_ == TlsRole::kClient;
  for (RecordState* state : {&write_, &read_}) {
    state->cipher = suite.cipher;
    state->mac = suite.mac;
    state->sequence = 0;
  }
  write_.macSecret = client ? clientMacSecret : serverMacSecret;
  read_.macSecret = client ? serverMacSecret : clientMacSecret;
  if (IsBlockCipher(suite.cipher)) {
    const int keyBits = suite.cipher == CipherKind::kAes128Cbc ? 128 : 256;
    write_.aes.configure(keyBits);
    read_.aes.configure(keyBits);
    write_.aes.setEncryptKey(client ? clientKey : serverKey, client ? clientIv : serverIv);
    read_.aes.setDecryptKey(client ? serverKey : clientKey, client ? serverIv : clientIv);
  } else if (suite.cipher == CipherKind::kRc4) {
    rc4SetKey(write_.rc4, client ? clientKey : serverKey);
    rc4SetKey(read_.rc4, client ? serverKey : clientKey);
  }
}

Bytes TlsConnection::ComputeFinished(bool sending) const {
  const bool clientSide = (sending == (role_ == TlsRole::kClient));
  const Bytes& master = handshake_.masterSecret;
  const Bytes& messages = handshake_.transcript;
  if (const Tls12Suite* suite = Suite12()) {
    return Tls12Finished(suite->prfHash, master, clientSide, digestOf(suite->prfHash, messages));
  }
  if (UsesTlsFormulas()) {
    return tlsPrf(master, clientSide ? "client finished" : "server finished",
                  md5Digest(messages) + sha1Digest(messages), 12);
  }
  const Bytes sender = clientSide ? Bytes("CLNT") : Bytes("SRVR");
  const Bytes md5Pad1(48, '\x36');
  const Bytes md5Pad2(48, '\x5C');
  const Bytes shaPad1(40, '\x36');
  const Bytes shaPad2(40, '\x5C');
  return md5Digest(master + md5Pad2 + md5Digest(messages + sender + master + md5Pad1)) +
         sha1Digest(master + shaPad2 + sha1Digest(messages + sender + master + shaPad1));
}

void TlsConnection::SendFinished() {
  handshake_.finishedPending = false;
  const Bytes body = ComputeFinished(true);
  LogHandshakeData("SendFinished", body);
  SendHandshake(kHandshakeFinished, body);
}

void TlsConnection::ProcessFinished(std::string_view body) {
  LogHandshakeData("ProcessFinished", body);
  if (!read_.active) {
    // A Finished in the clear precedes the peer's ChangeCipherSpec: there
    // are no keys it could be checked or answered with.
    FailHandshake(kAlertUnexpectedMessage, "Finished before ChangeCipherSpec");
    return;
  }
  handshake_.done = true;
  const Bytes expected = ComputeFinished(false);
  unsigned char difference = body.size() == expected.size() ? 0 : 1;
  for (std::size_t k = 0; k < body.size() && k < expected.size(); ++k) {
    difference |= static_cast<unsigned char>(body[k] ^ expected[k]);
  }
  if (difference != 0) {
    Log(3, "Finished failed");
    SendAlert(kAlertDecryptionFailed, kAlertFatal);
  }
}

}  // namespace qv
