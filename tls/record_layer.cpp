// Records: fragmentation, MAC, CBC padding and encryption, and their reverse.

#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "session/log.h"
#include "tls/cipher_suites.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

// The record header before anything was negotiated.
constexpr std::string_view kDefaultVersion{"\x03\x01", 2};

// Equal length and content, without stopping at the first difference.
bool sameBytes(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  unsigned char difference = 0;
  for (std::size_t k = 0; k < a.size(); ++k) {
    difference |= static_cast<unsigned char>(a[k] ^ b[k]);
  }
  return difference == 0;
}

}  // namespace

void TlsConnection::SendRecord(std::uint8_t type, std::string_view bytes) {
  const std::string_view headerVersion = version.size() == 2 ? std::string_view(version) : kDefaultVersion;
  for (std::size_t offset = 0; offset < bytes.size(); offset += kMaxFragment) {
    const std::string_view plain = bytes.substr(offset, kMaxFragment);
    Bytes fragment = writeCipherActive ? ProtectFragment(type, plain) : Bytes(plain);
    if (failed && writeCipherActive && fragment.empty()) return;
    outgoingData += static_cast<char>(type);
    outgoingData.append(headerVersion);
    outgoingData += static_cast<char>((fragment.size() >> 8) & 0xFF);
    outgoingData += static_cast<char>(fragment.size() & 0xFF);
    outgoingData += fragment;
  }
}

Bytes TlsConnection::ProtectFragment(std::uint8_t type, std::string_view plain) {
  const Bytes number = writeSequence;
  writeSequence = incrementCounter(writeSequence);
  Bytes fragment(plain);
  if (macAlgorithm != kMacNone) fragment += ComputeRecordMac(true, type, version, number, plain);
  if (cipherType == kBlockCipher && blockSize > 0) {
    const std::size_t n = fragment.size();
    const std::size_t padding = ((n + 1) % blockSize == 0) ? 0 : blockSize - ((n + 1) % blockSize);
    fragment.append(padding + 1, static_cast<char>(padding));
  }
  switch (cipherAlgorithm) {
    case kCipherRc4:
      return rc4Crypt(rc4Write, fragment);
    case kCipherAes128:
    case kCipherAes256:
      if (!aesWrite.hasEncryptKey()) {
        // Keys are made before write protection starts; without one nothing
        // may leave, least of all in the clear.
        writeLog(3, logPrefix + "No key for record protection");
        failed = true;
        return {};
      }
      return aesWrite.encryptCbc(fragment);
    default:
      return fragment;
  }
}

void TlsConnection::ProcessRecord(std::uint8_t type, std::string_view recordVersion,
                                  std::string_view fragment) {
  Bytes plain(fragment);
  if (readCipherActive && !UnprotectFragment(type, recordVersion, plain)) {
    writeLog(3, logPrefix + "Bad Record Mac");
    SendAlert(kAlertBadRecordMac, kAlertFatal);
    return;
  }
  switch (type) {
    case kContentChangeCipherSpec:
      ProcessChangeCipherSpec(plain);
      break;
    case kContentAlert:
      ProcessAlert(plain);
      break;
    case kContentHandshake:
      ProcessHandshake(plain);
      break;
    case kContentApplicationData:
      applicationData += plain;
      break;
    default:
      writeLog(5, logPrefix + "Received unknown type " + std::to_string(type) + " on record layer");
      break;
  }
}

bool TlsConnection::UnprotectFragment(std::uint8_t type, std::string_view recordVersion, Bytes& fragment) {
  bool intact = true;
  if (cipherAlgorithm == kCipherRc4) {
    fragment = rc4Crypt(rc4Read, fragment);
  } else if (cipherAlgorithm == kCipherAes128 || cipherAlgorithm == kCipherAes256) {
    // A ciphertext that is not whole blocks cannot have been produced by the
    // peer's cipher; decrypting it would lose the chaining.
    if (fragment.empty() || fragment.size() % 16 != 0 || !aesRead.hasDecryptKey()) return false;
    fragment = aesRead.decryptCbc(fragment);
  }
  if (cipherType == kBlockCipher && !fragment.empty()) {
    const std::size_t padding = static_cast<std::uint8_t>(fragment.back());
    if (padding + 1 > fragment.size()) {
      // Still check a MAC below (as if there were no padding) so a bad
      // padding takes the same path as a bad MAC.
      intact = false;
      fragment.pop_back();
    } else {
      // TLS fixes the padding bytes to the length value; SSL 3.0 leaves
      // them arbitrary.
      if (UsesTlsFormulas()) {
        unsigned char difference = 0;
        for (std::size_t k = fragment.size() - padding - 1; k < fragment.size(); ++k) {
          difference |= static_cast<unsigned char>(fragment[k] ^ static_cast<char>(padding));
        }
        intact = intact && difference == 0;
      }
      fragment.resize(fragment.size() - padding - 1);
    }
  }
  if (macAlgorithm != kMacNone) {
    const Bytes number = readSequence;
    readSequence = incrementCounter(readSequence);
    const std::size_t macLength = MacLength(macAlgorithm);
    if (fragment.size() < macLength) return false;
    const std::string_view received = std::string_view(fragment).substr(fragment.size() - macLength);
    const std::string_view content = std::string_view(fragment).substr(0, fragment.size() - macLength);
    const Bytes expected = ComputeRecordMac(false, type, recordVersion, number, content);
    intact = sameBytes(received, expected) && intact;
    fragment.resize(fragment.size() - macLength);
  }
  return intact;
}

Bytes TlsConnection::ComputeRecordMac(bool sending, std::uint8_t type, std::string_view recordVersion,
                                      std::string_view sequence, std::string_view fragment) const {
  const bool clientWrote = (sending == (isClient != 0));
  const Bytes& key = clientWrote ? clientWriteMacSecret : serverWriteMacSecret;
  const Bytes length = uintToBytes(static_cast<std::uint32_t>(fragment.size()), 2);
  Bytes data;
  data.reserve(sequence.size() + 5 + fragment.size());
  data.append(sequence);
  data += static_cast<char>(type);
  if (UsesTlsFormulas()) {
    data.append(sending ? std::string_view(version) : recordVersion);
    data += length;
    data.append(fragment);
    return macAlgorithm == kMacMd5 ? hmacMd5(key, data) : hmacSha1(key, data);
  }
  data += length;
  data.append(fragment);
  const bool md5 = macAlgorithm == kMacMd5;
  const std::size_t padLength = md5 ? 48 : 40;
  const Bytes pad1(padLength, '\x36');
  const Bytes pad2(padLength, '\x5C');
  const auto hash = [md5](std::string_view input) { return md5 ? md5Digest(input) : sha1Digest(input); };
  return hash(key + pad2 + hash(key + pad1 + data));
}

void TlsConnection::SendAlert(std::uint8_t description, std::uint8_t level) {
  if (version.empty()) version = Bytes(kDefaultVersion);
  const Bytes alert{static_cast<char>(level), static_cast<char>(description)};
  LogHandshakeData("SendAlert", alert);
  SendRecord(kContentAlert, alert);
  if (description == kAlertCloseNotify && level == kAlertWarning) {
    closeNotifySent = true;
  } else {
    failed = true;
  }
}

void TlsConnection::ProcessAlert(std::string_view fragment) {
  if (fragment.size() < 2) return;
  const auto level = static_cast<std::uint8_t>(fragment[0]);
  const auto description = static_cast<std::uint8_t>(fragment[1]);
  if (level == kAlertWarning && description == kAlertCloseNotify) {
    writeLog(8, logPrefix + "Received closure alert");
    if (!closeNotifySent) SendAlert(kAlertCloseNotify, kAlertWarning);
    return;
  }
  writeLog(5, logPrefix + "Alert(" + std::to_string(level) + ", " + std::to_string(description) + ")");
  alertReceived = true;
}

void TlsConnection::SendChangeCipherSpec() {
  const Bytes message(1, '\x01');
  LogHandshakeData("SendChangeCipherSpec", message);
  SendRecord(kContentChangeCipherSpec, message);
  writeCipherActive = true;
}

void TlsConnection::ProcessChangeCipherSpec(std::string_view fragment) {
  LogHandshakeData("ProcessChangeCipherSpec", fragment);
  if (!writeCipherActive && !KeysAvailable()) {
    // Keys would come from an empty master secret: known to anyone.
    FailHandshake(kAlertUnexpectedMessage, "ChangeCipherSpec before key exchange");
    return;
  }
  readCipherActive = true;
  if (!writeCipherActive) {
    SendChangeCipherSpec();
    PerformChangeCipherSpec();
  }
}

void TlsConnection::SendHandshake(std::uint8_t type, std::string_view body) {
  Bytes message;
  message.reserve(body.size() + 4);
  message += static_cast<char>(type);
  message += uintToBytes(static_cast<std::uint32_t>(body.size()), 3);
  message.append(body);
  if (type != kHandshakeHelloRequest) handshakeMessages += message;
  SendRecord(kContentHandshake, message);
}

}  // namespace qv
