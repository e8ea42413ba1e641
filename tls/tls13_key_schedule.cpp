#include "tls/tls13_key_schedule.h"

#include "crypto/hkdf.h"
#include "crypto/hmac.h"

namespace qv {

namespace {

constexpr Tls13Suite kSuites[] = {
    {0x1301, "TLS_AES_128_GCM_SHA256", Tls13Aead::kAes128Gcm, 16, HashAlgorithm::kSha256},
    {0x1302, "TLS_AES_256_GCM_SHA384", Tls13Aead::kAes256Gcm, 32, HashAlgorithm::kSha384},
    {0x1303, "TLS_CHACHA20_POLY1305_SHA256", Tls13Aead::kChaCha20Poly1305, 32, HashAlgorithm::kSha256},
};

}  // namespace

const Tls13Suite* FindTls13Suite(std::uint16_t id) {
  for (const Tls13Suite& suite : kSuites) {
    if (suite.id == id) return &suite;
  }
  return nullptr;
}

Bytes Tls13DeriveSecret(HashAlgorithm hash, std::string_view secret, std::string_view label,
                        std::string_view transcriptHash) {
  return hkdfExpandLabel(hash, secret, label, transcriptHash, digestSize(hash));
}

Bytes Tls13EarlySecret(HashAlgorithm hash, std::string_view psk) {
  const Bytes zeros(digestSize(hash), '\0');
  return hkdfExtract(hash, zeros, psk.empty() ? std::string_view(zeros) : psk);
}

Bytes Tls13ResumptionBinder(HashAlgorithm hash, std::string_view psk, std::string_view truncatedHash) {
  const Bytes binderKey =
      Tls13DeriveSecret(hash, Tls13EarlySecret(hash, psk), "res binder", digestOf(hash, {}));
  return Tls13FinishedData(hash, binderKey, truncatedHash);
}

Bytes Tls13ResumptionMasterSecret(HashAlgorithm hash, const Tls13Secrets& secrets,
                                  std::string_view clientFinishedHash) {
  return Tls13DeriveSecret(hash, secrets.masterSecret, "res master", clientFinishedHash);
}

Bytes Tls13TicketPsk(HashAlgorithm hash, std::string_view resumptionMaster, std::string_view nonce) {
  return hkdfExpandLabel(hash, resumptionMaster, "resumption", nonce, digestSize(hash));
}

void Tls13DeriveHandshakeSecrets(HashAlgorithm hash, std::string_view sharedSecret,
                                 std::string_view helloHash, Tls13Secrets& secrets, std::string_view psk) {
  const Bytes emptyHash = digestOf(hash, {});
  const Bytes early = Tls13EarlySecret(hash, psk);
  const Bytes salt = Tls13DeriveSecret(hash, early, "derived", emptyHash);
  secrets.handshakeSecret = hkdfExtract(hash, salt, sharedSecret);
  secrets.clientHandshakeTraffic =
      Tls13DeriveSecret(hash, secrets.handshakeSecret, "c hs traffic", helloHash);
  secrets.serverHandshakeTraffic =
      Tls13DeriveSecret(hash, secrets.handshakeSecret, "s hs traffic", helloHash);
}

void Tls13DeriveApplicationSecrets(HashAlgorithm hash, std::string_view finishedHash, Tls13Secrets& secrets) {
  const Bytes zeros(digestSize(hash), '\0');
  const Bytes salt = Tls13DeriveSecret(hash, secrets.handshakeSecret, "derived", digestOf(hash, {}));
  secrets.masterSecret = hkdfExtract(hash, salt, zeros);
  secrets.clientApplicationTraffic =
      Tls13DeriveSecret(hash, secrets.masterSecret, "c ap traffic", finishedHash);
  secrets.serverApplicationTraffic =
      Tls13DeriveSecret(hash, secrets.masterSecret, "s ap traffic", finishedHash);
}

Tls13TrafficKeys Tls13TrafficKeysOf(HashAlgorithm hash, std::string_view trafficSecret,
                                    std::size_t keyLength) {
  return {hkdfExpandLabel(hash, trafficSecret, "key", {}, keyLength),
          hkdfExpandLabel(hash, trafficSecret, "iv", {}, 12)};
}

Bytes Tls13FinishedData(HashAlgorithm hash, std::string_view baseSecret, std::string_view transcriptHash) {
  const Bytes key = hkdfExpandLabel(hash, baseSecret, "finished", {}, digestSize(hash));
  return hmacOf(hash, key, transcriptHash);
}

Bytes Tls13NextTrafficSecret(HashAlgorithm hash, std::string_view trafficSecret) {
  return hkdfExpandLabel(hash, trafficSecret, "traffic upd", {}, digestSize(hash));
}

Bytes Tls13MessageHash(HashAlgorithm hash, std::string_view clientHello1) {
  const Bytes digest = digestOf(hash, clientHello1);
  return Bytes("\xFE\x00\x00", 3) + static_cast<char>(digest.size()) + digest;
}

}  // namespace qv
