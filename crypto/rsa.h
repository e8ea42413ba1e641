#pragma once
// RSA key record and the raw and PKCS#1 v1.5 block-type-1 operations.
#include <string_view>

#include "crypto/big_int.h"
#include "xml/byte_string.h"

namespace qv {

struct RsaKey {
  BigInt e;
  BigInt d;
  BigInt n;
  BigInt p;
  BigInt q;
  BigInt dQ;       // d mod (q - 1)
  BigInt dP;       // d mod (p - 1)
  BigInt qFactor;  // q * (q^-1 mod p) mod n
  BigInt pFactor;  // p * (p^-1 mod q) mod n

  // e and n from big-endian bytes; clears the private parts.
  void setPublicKey(std::string_view exponent, std::string_view modulus);
  // All five from big-endian bytes; with a non-zero p also the
  // Chinese-remainder values.
  void setPrivateKey(std::string_view d, std::string_view e, std::string_view n, std::string_view p,
                     std::string_view q);
  bool hasCrt() const { return !dP.isZero() && !dQ.isZero(); }
  // Length of the modulus in bytes.
  std::size_t modulusLength() const;
};

// Limits on keys from the network: a modulus of at most 16384 bits, and for
// a modulus above 3072 bits a public exponent of at most 64 bits (as OpenSSL).

// block^e mod n, at least as long as block (zero bytes in front). Empty when
// block, as a number, is not smaller than n, or n is zero or over the limits.
Bytes rsaPublicOp(const RsaKey& key, std::string_view block);
// input^exponent mod modulus without leading zero bytes. Empty when input is
// not smaller than the modulus, or the modulus is zero or over the limits.
Bytes rsaRawPublicOp(std::string_view exponent, std::string_view modulus, std::string_view input);
// block^d mod n (Chinese-remainder form when available), at least as long as
// block. Empty when block is not smaller than n, the modulus is over the
// limit, or the key has no private part.
Bytes rsaPrivateOp(const RsaKey& key, std::string_view block);
// PKCS#1 v1.5 block type 1 (00 01 FF.. 00 data) of the modulus length,
// signed with the private key; modulus length bytes, or empty when the data
// does not fit (more than modulus length - 11 bytes) or there is no key.
Bytes rsaSignPkcs1(const RsaKey& key, std::string_view data);

}  // namespace qv
