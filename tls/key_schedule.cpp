// Master secret, key block, Finished: TLS 1.0 and SSL 3.0 formulas.
#include "crypto/md5.h"
#include "crypto/prf.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "session/log.h"
#include "tls/cipher_suites.h"
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
  const std::string_view secret = preMaster.size() > 48 ? preMaster.substr(preMaster.size() - 48) : preMaster;
  const Bytes seed = clientRandom + serverRandom;
  if (UsesTlsFormulas()) {
    masterSecret = tlsPrf(secret, "master secret", seed, 48);
  } else {
    masterSecret = ssl3Expand(secret, seed, 48);
  }
  LogHandshakeData("Client Random", clientRandom);
  LogHandshakeData("Server Random", serverRandom);
  LogHandshakeData("Master Secret", masterSecret);
}

void TlsConnection::PerformChangeCipherSpec() {
  cipherAlgorithm = SuiteCipherAlgorithm(cipherSuite);
  macAlgorithm = SuiteMacAlgorithm(cipherSuite);
  blockSize = SuiteBlockSize(cipherSuite);
  cipherType = SuiteCipherType(cipherSuite);
  LogHandshakeData("PerformChangeCipherSpec", cipherSuite);

  const std::size_t macLength = MacLength(macAlgorithm);
  const std::size_t keyLength = KeyLength(cipherAlgorithm);
  const std::size_t ivLength = IvLength(cipherAlgorithm);
  const std::size_t blockLength = 2 * (macLength + keyLength + ivLength);
  const Bytes seed = serverRandom + clientRandom;
  // SSL 3.0 gets as much key material as the suite needs (AES needs more
  // than the five rounds of "A" to "EEEEE" give).
  const Bytes keyBlock = UsesTlsFormulas()
                             ? tlsPrf(masterSecret, "key expansion", seed, static_cast<int>(blockLength))
                             : ssl3Expand(masterSecret, seed, blockLength);
  LogHandshakeData("Key Block", keyBlock);

  std::size_t position = 0;
  const auto take = [&](std::size_t n) {
    const Bytes part = position < keyBlock.size() ? keyBlock.substr(position, n) : Bytes();
    position += n;
    return part;
  };
  clientWriteMacSecret = take(macLength);
  serverWriteMacSecret = take(macLength);
  LogHandshakeData("Client Write MAC Secret", clientWriteMacSecret);
  LogHandshakeData("Server Write MAC Secret", serverWriteMacSecret);
  const Bytes clientKey = take(keyLength);
  const Bytes serverKey = take(keyLength);
  const Bytes clientIv = take(ivLength);
  const Bytes serverIv = take(ivLength);
  if (cipherAlgorithm != kCipherNone) {
    LogHandshakeData("Client Write Key", clientKey);
    LogHandshakeData("Server Write Key", serverKey);
  }
  const bool client = isClient != 0;
  if (cipherAlgorithm == kCipherAes128 || cipherAlgorithm == kCipherAes256) {
    const int keyBits = cipherAlgorithm == kCipherAes128 ? 128 : 256;
    aesWrite.configure(keyBits);
    aesRead.configure(keyBits);
    aesWrite.setEncryptKey(client ? clientKey : serverKey, client ? clientIv : serverIv);
    aesRead.setDecryptKey(client ? serverKey : clientKey, client ? serverIv : clientIv);
  } else if (cipherAlgorithm == kCipherRc4) {
    rc4SetKey(rc4Write, client ? clientKey : serverKey);
    rc4SetKey(rc4Read, client ? serverKey : clientKey);
  }
  writeSequence = Bytes(8, '\0');
  readSequence = Bytes(8, '\0');
}

Bytes TlsConnection::ComputeFinished(bool sending) const {
  const bool clientSide = (sending == (isClient != 0));
  if (UsesTlsFormulas()) {
    return tlsPrf(masterSecret, clientSide ? "client finished" : "server finished",
                  md5Digest(handshakeMessages) + sha1Digest(handshakeMessages), 12);
  }
  const Bytes sender = clientSide ? Bytes("CLNT") : Bytes("SRVR");
  const Bytes md5Pad1(48, '\x36');
  const Bytes md5Pad2(48, '\x5C');
  const Bytes shaPad1(40, '\x36');
  const Bytes shaPad2(40, '\x5C');
  return md5Digest(masterSecret + md5Pad2 + md5Digest(handshakeMessages + sender + masterSecret + md5Pad1)) +
         sha1Digest(masterSecret + shaPad2 + sha1Digest(handshakeMessages + sender + masterSecret + shaPad1));
}

void TlsConnection::SendFinished() {
  finishedPending = false;
  const Bytes body = ComputeFinished(true);
  LogHandshakeData("SendFinished", body);
  SendHandshake(kHandshakeFinished, body);
}

void TlsConnection::ProcessFinished(std::string_view body) {
  LogHandshakeData("ProcessFinished", body);
  if (!readCipherActive) {
    // A Finished in the clear precedes the peer's ChangeCipherSpec: there
    // are no keys it could be checked or answered with.
    FailHandshake(kAlertUnexpectedMessage, "Finished before ChangeCipherSpec");
    return;
  }
  handshakeDone = true;
  const Bytes expected = ComputeFinished(false);
  unsigned char difference = body.size() == expected.size() ? 0 : 1;
  for (std::size_t k = 0; k < body.size() && k < expected.size(); ++k) {
    difference |= static_cast<unsigned char>(body[k] ^ expected[k]);
  }
  if (difference != 0) {
    writeLog(3, logPrefix + "Finished failed");
    SendAlert(kAlertDecryptionFailed, kAlertFatal);
  }
}

}  // namespace qv
