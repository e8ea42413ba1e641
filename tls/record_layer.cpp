// Records: fragmentation, MAC, CBC padding and encryption, AES-GCM, and their
// reverse.

#include <optional>
#include <utility>

#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/rc4.h"
#include "crypto/sha1.h"
#include "tls/cbc_record.h"
#include "tls/cipher_suites.h"
#include "tls/gcm_record.h"
#include "tls/tls_connection.h"

namespace qv {

namespace {

// The record header before anything was negotiated.
constexpr std::uint16_t kDefaultVersion = kVersionTls10;

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
  if (write_.tls13.HasKey()) {
    SendRecord13(type, bytes);
    return;
  }
  const Bytes headerVersion = versionBytes(version_ != 0 ? version_ : kDefaultVersion);
  for (std::size_t offset = 0; offset < bytes.size(); offset += kMaxFragment) {
    const std::string_view plain = bytes.substr(offset, kMaxFragment);
    Bytes fragment = write_.active ? ProtectFragment(type, plain) : Bytes(plain);
    if (failed_ && write_.active && fragment.empty()) return;
    outgoingData_ += static_cast<char>(type);
    outgoingData_.append(headerVersion);
    outgoingData_ += static_cast<char>((fragment.size() >> 8) & 0xFF);
    outgoingData_ += static_cast<char>(fragment.size() & 0xFF);
    outgoingData_ += fragment;
  }
}

Bytes TlsConnection::ProtectFragment(std::uint8_t type, std::string_view plain) {
  const std::uint64_t number = write_.sequence++;
  if (IsAeadCipher(write_.cipher) || write_.explicitIv) {
    Bytes sealed = write_.cipher == CipherKind::kChaCha20Poly1305
                       ? write_.chacha.Seal(number, type, versionBytes(version_), plain)
                   : IsAeadCipher(write_.cipher)
                       ? write_.gcm.Seal(number, type, versionBytes(version_), plain)
                       : SealCbcRecord(write_.aes, write_.macSecret, number, type, versionBytes(version_),
                                       plain, randomBytes(kCbcBlock));
    if (sealed.empty()) {
      Log(3, "No key for record protection");
      failed_ = true;
    }
    return sealed;
  }
  Bytes fragment(plain);
  if (write_.mac != MacKind::kNone) {
    fragment += ComputeRecordMac(write_, type, versionBytes(version_), number, plain);
  }
  if (IsBlockCipher(write_.cipher)) {
    const std::size_t blockSize = BlockLength(write_.cipher);
    const std::size_t n = fragment.size();
    const std::size_t padding = ((n + 1) % blockSize == 0) ? 0 : blockSize - ((n + 1) % blockSize);
    fragment.append(padding + 1, static_cast<char>(padding));
  }
  switch (write_.cipher) {
    case CipherKind::kRc4:
      return rc4Crypt(write_.rc4, fragment);
    case CipherKind::kAes128Cbc:
    case CipherKind::kAes256Cbc:
      if (!write_.aes.hasEncryptKey()) {
        // Keys are made before write protection starts; without one nothing
        // may leave, least of all in the clear.
        Log(3, "No key for record protection");
        failed_ = true;
        return {};
      }
      return write_.aes.encryptCbc(fragment);
    default:
      return fragment;
  }
}

void TlsConnection::ProcessRecord(std::uint8_t type, std::string_view recordVersion,
                                  std::string_view fragment) {
  // A refusal of the hello is logged as TLS 1.3 alerts are.
  const bool refusedHello = tls13_.step == Tls13Step::kWaitServerHello && type == kContentAlert;
  if (tls13_.active || tls13_.retried || refusedHello) {
    ProcessRecord13(type, recordVersion, fragment);
    return;
  }
  if (read_.active && IsAeadCipher(read_.cipher) && fragment.size() < AeadRecordOverhead(read_.cipher)) {
    // Not even room for the explicit nonce and the tag.
    if (read_.cipher == CipherKind::kChaCha20Poly1305) {
      Log(3, "ChaCha20-Poly1305 record of " + std::to_string(fragment.size()) +
                 " bytes is shorter than its tag");
    } else {
      Log(3, "GCM record of " + std::to_string(fragment.size()) + " bytes is shorter than its nonce and tag");
    }
    SendAlert(kAlertDecodeError, kAlertFatal);
    return;
  }
  Bytes plain(fragment);
  if (read_.active && !UnprotectFragment(type, recordVersion, plain)) {
    Log(3, "Bad Record Mac");
    SendAlert(kAlertBadRecordMac, kAlertFatal);
    return;
  }
  switch (type) {
    case kContentChangeCipherSpec:
      // One per handshake; a second could only reset what is in use.
      if (read_.active) {
        RefuseRecord("Unexpected ChangeCipherSpec");
        break;
      }
      ProcessChangeCipherSpec(plain);
      break;
    case kContentAlert:
      ProcessAlert(plain);
      break;
    case kContentHandshake:
      ProcessHandshake(plain);
      break;
    case kContentApplicationData:
      // Before the peer's Finished, data could have come from anyone (in
      // the clear, before its ChangeCipherSpec): never the caller's.
      if (!handshake_.done) {
        RefuseRecord("Unexpected application data");
        break;
      }
      applicationData_ += plain;
      break;
    default:
      Log(5, "Received unknown type " + std::to_string(type) + " on record layer");
      break;
  }
}

bool TlsConnection::UnprotectFragment(std::uint8_t type, std::string_view recordVersion, Bytes& fragment) {
  if (IsAeadCipher(read_.cipher) || read_.explicitIv) {
    const std::uint64_t number = read_.sequence++;
    if (read_.cipher == CipherKind::kChaCha20Poly1305)
      return read_.chacha.OpenInPlace(number, type, recordVersion, fragment);
    std::optional<Bytes> opened =
        IsAeadCipher(read_.cipher)
            ? read_.gcm.Open(number, type, recordVersion, fragment)
            : OpenCbcRecord(read_.aes, read_.macSecret, number, type, recordVersion, fragment);
    if (!opened) return false;
    fragment = std::move(*opened);
    return true;
  }
  bool intact = true;
  if (read_.cipher == CipherKind::kRc4) {
    fragment = rc4Crypt(read_.rc4, fragment);
  } else if (IsBlockCipher(read_.cipher)) {
    // A ciphertext that is not whole blocks cannot have been produced by the
    // peer's cipher; decrypting it would lose the chaining.
    if (fragment.empty() || fragment.size() % 16 != 0 || !read_.aes.hasDecryptKey()) return false;
    fragment = read_.aes.decryptCbc(fragment);
  }
  if (IsBlockCipher(read_.cipher) && !fragment.empty()) {
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
  if (read_.mac != MacKind::kNone) {
    const std::uint64_t number = read_.sequence++;
    const std::size_t macLength = MacLength(read_.mac);
    if (fragment.size() < macLength) return false;
    const std::string_view received = std::string_view(fragment).substr(fragment.size() - macLength);
    const std::string_view content = std::string_view(fragment).substr(0, fragment.size() - macLength);
    const Bytes expected = ComputeRecordMac(read_, type, recordVersion, number, content);
    intact = sameBytes(received, expected) && intact;
    fragment.resize(fragment.size() - macLength);
  }
  return intact;
}

Bytes TlsConnection::ComputeRecordMac(const RecordState& state, std::uint8_t type,
                                      std::string_view recordVersion, std::uint64_t sequence,
                                      std::string_view fragment) const {
  const Bytes& key = state.macSecret;
  const Bytes length = uintToBytes(static_cast<std::uint32_t>(fragment.size()), 2);
  Bytes data;
  data.reserve(8 + 5 + fragment.size());
  data += sequenceBytes(sequence);
  data += static_cast<char>(type);
  if (UsesTlsFormulas()) {
    data.append(recordVersion);
    data += length;
    data.append(fragment);
    return state.mac == MacKind::kMd5 ? hmacMd5(key, data) : hmacSha1(key, data);
  }
  data += length;
  data.append(fragment);
  const bool md5 = state.mac == MacKind::kMd5;
  const std::size_t padLength = md5 ? 48 : 40;
  const Bytes pad1(padLength, '\x36');
  const Bytes pad2(padLength, '\x5C');
  const auto hash = [md5](std::string_view input) { return md5 ? md5Digest(input) : sha1Digest(input); };
  return hash(key + pad2 + hash(key + pad1 + data));
}

void TlsConnection::SendAlert(std::uint8_t description, std::uint8_t level) {
  if (version_ == 0) version_ = kDefaultVersion;
  const Bytes alert{static_cast<char>(level), static_cast<char>(description)};
  LogHandshakeData("SendAlert", alert);
  SendRecord(kContentAlert, alert);
  if (description == kAlertCloseNotify && level == kAlertWarning) {
    closeNotifySent_ = true;
  } else {
    failed_ = true;
  }
}

void TlsConnection::RefuseRecord(std::string_view logText) {
  Log(1, logText);
  SendAlert(kAlertUnexpectedMessage, kAlertFatal);
}

void TlsConnection::ProcessAlert(std::string_view fragment) {
  if (fragment.size() < 2) return;
  const auto level = static_cast<std::uint8_t>(fragment[0]);
  const auto description = static_cast<std::uint8_t>(fragment[1]);
  if (level == kAlertWarning && description == kAlertCloseNotify) {
    Log(8, "Received closure alert");
    peerClosed_ = true;
    if (!closeNotifySent_) SendAlert(kAlertCloseNotify, kAlertWarning);
    return;
  }
  Log(5, "Alert(" + std::to_string(level) + ", " + std::to_string(description) + ")");
  alertReceived_ = true;
}

void TlsConnection::SendChangeCipherSpec() {
  const Bytes message(1, '\x01');
  LogHandshakeData("SendChangeCipherSpec", message);
  SendRecord(kContentChangeCipherSpec, message);
  write_.active = true;
}

void TlsConnection::ProcessChangeCipherSpec(std::string_view fragment) {
  LogHandshakeData("ProcessChangeCipherSpec", fragment);
  if (!write_.active && !KeysAvailable()) {
    // Keys would come from an empty master secret: known to anyone.
    FailHandshake(kAlertUnexpectedMessage, "ChangeCipherSpec before key exchange");
    return;
  }
  read_.active = true;
  if (!write_.active) {
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
  if (type != kHandshakeHelloRequest) handshake_.transcript += message;
  SendRecord(kContentHandshake, message);
}

}  // namespace qv
