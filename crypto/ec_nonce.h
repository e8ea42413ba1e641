#pragma once
// Deterministic ECDSA nonces (RFC 6979 3.2): HMAC-DRBG keyed by the private
// scalar and the reduced digest. The group orders here are whole bytes long
// (qlen = 8 rlen), so bits2int of a block of rlen bytes is the bytes themselves.
#include <cstddef>
#include <string_view>

#include "crypto/digest.h"
#include "crypto/ec_scalar.h"
#include "crypto/hmac.h"
#include "xml/byte_string.h"

namespace qv::ec {

template <std::size_t N>
class DeterministicNonce {
 public:
  // privateKey: int2octets(x); reducedDigest: bits2octets(h1), both 8N bytes.
  DeterministicNonce(HashAlgorithm hash, std::string_view privateKey, std::string_view reducedDigest)
      : hash_(hash), v_(digestSize(hash), '\x01'), k_(digestSize(hash), '\0') {
    const Bytes seed = Bytes(privateKey) + Bytes(reducedDigest);
    k_ = hmacOf(hash_, k_, v_ + '\0' + seed);
    v_ = hmacOf(hash_, k_, v_);
    k_ = hmacOf(hash_, k_, v_ + '\x01' + seed);
    v_ = hmacOf(hash_, k_, v_);
  }

  // The next candidate in [1, n - 1]; the caller asks again when the nonce
  // gives r = 0 or s = 0.
  void next(const CurveParams<N>& c, Word* k) {
    for (;;) {
      if (!first_) {
        k_ = hmacOf(hash_, k_, v_ + '\0');
        v_ = hmacOf(hash_, k_, v_);
      }
      first_ = false;
      Bytes t;
      while (t.size() < 8 * N) {
        v_ = hmacOf(hash_, k_, v_);
        t += v_;
      }
      t.resize(8 * N);
      // Out of range about once in 2^32 draws for either curve.
      if (loadScalar(c, t, k)) return;
    }
  }

 private:
  HashAlgorithm hash_;
  Bytes v_;
  Bytes k_;
  bool first_ = true;
};

}  // namespace qv::ec
