#include "tls/tls12_key_schedule.h"

#include "crypto/tls12_prf.h"

namespace qv {

Bytes Tls12MasterSecret(HashAlgorithm hash, std::string_view preMaster, std::string_view clientRandom,
                        std::string_view serverRandom) {
  return tls12Prf(hash, preMaster, "master secret", Bytes(clientRandom) + Bytes(serverRandom), 48);
}

Bytes Tls12ExtendedMasterSecret(HashAlgorithm hash, std::string_view preMaster,
                                std::string_view sessionHash) {
  return tls12Prf(hash, preMaster, "extended master secret", sessionHash, 48);
}

Tls12KeyBlock Tls12DeriveKeys(HashAlgorithm hash, std::string_view masterSecret,
                              std::string_view clientRandom, std::string_view serverRandom,
                              std::size_t macLength, std::size_t keyLength, std::size_t fixedIvLength) {
  const std::size_t total = 2 * (macLength + keyLength + fixedIvLength);
  const Bytes block = tls12Prf(hash, masterSecret, "key expansion", Bytes(serverRandom) + Bytes(clientRandom),
                               static_cast<int>(total));
  std::size_t position = 0;
  const auto take = [&](std::size_t n) {
    Bytes part = position < block.size() ? block.substr(position, n) : Bytes();
    position += n;
    return part;
  };
  Tls12KeyBlock keys;
  keys.clientMacKey = take(macLength);
  keys.serverMacKey = take(macLength);
  keys.clientKey = take(keyLength);
  keys.serverKey = take(keyLength);
  keys.clientIv = take(fixedIvLength);
  keys.serverIv = take(fixedIvLength);
  return keys;
}

Bytes Tls12Finished(HashAlgorithm hash, std::string_view masterSecret, bool fromClient,
                    std::string_view transcriptHash) {
  return tls12Prf(hash, masterSecret, fromClient ? "client finished" : "server finished", transcriptHash, 12);
}

}  // namespace qv
