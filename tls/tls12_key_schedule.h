#pragma once
// TLS 1.2 secrets (RFC 5246 6.3, 7.4.9, 8.1; RFC 7627): everything runs the
// PRF over the suite's hash.
#include <string_view>

#include "crypto/digest.h"
#include "xml/byte_string.h"

namespace qv {

// 48 bytes from the pre-master secret and both randoms.
Bytes Tls12MasterSecret(HashAlgorithm hash, std::string_view preMaster, std::string_view clientRandom,
                        std::string_view serverRandom);
// 48 bytes bound to the handshake: sessionHash is the suite hash of every
// handshake message up to and including ClientKeyExchange.
Bytes Tls12ExtendedMasterSecret(HashAlgorithm hash, std::string_view preMaster, std::string_view sessionHash);

// The key block split the way RFC 5246 6.3 lays it out; parts the suite
// does not use are empty.
struct Tls12KeyBlock {
  Bytes clientMacKey;
  Bytes serverMacKey;
  Bytes clientKey;
  Bytes serverKey;
  Bytes clientIv;
  Bytes serverIv;
};
Tls12KeyBlock Tls12DeriveKeys(HashAlgorithm hash, std::string_view masterSecret,
                              std::string_view clientRandom, std::string_view serverRandom,
                              std::size_t macLength, std::size_t keyLength, std::size_t fixedIvLength);

// The 12-byte verify_data over the transcript hash.
Bytes Tls12Finished(HashAlgorithm hash, std::string_view masterSecret, bool fromClient,
                    std::string_view transcriptHash);

}  // namespace qv
