#pragma once
// The client's ephemeral key shares for TLS 1.3: X25519, secp256r1 and
// secp384r1 (uncompressed points), and the shared secret with the server's.
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

struct KeySharePrivate {
  std::uint16_t group = 0;
  Bytes secret;     // scalar
  Bytes publicKey;  // as sent in key_share
};

// A fresh share; an empty public key for a group this build cannot make.
KeySharePrivate MakeKeyShare(std::uint16_t group);
// The ECDHE shared secret (X25519: 32 bytes, not all zero; NIST curves:
// the X coordinate after validating the server's point); empty when the
// server's share is unusable.
Bytes KeyShareSecret(const KeySharePrivate& own, std::string_view peerPublic);

}  // namespace qv
