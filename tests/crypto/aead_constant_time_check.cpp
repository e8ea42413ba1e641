// Constant time, checked by Memcheck: keys, plaintexts and RSA exponents are
// marked undefined, so any branch or memory index that depends on them is
// reported as a use of uninitialised data; outputs are marked defined again
// where they become public (ciphertexts, tags, the result of a comparison).
// Runs under valgrind from CTest and exits non-zero on its first report.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <string>

#include "crypto/chacha20_poly1305.h"
#include "crypto/mont_pow.h"
#include "crypto/poly1305.h"

namespace qv {
namespace {

void secret(const std::string& bytes) { VALGRIND_MAKE_MEM_UNDEFINED(bytes.data(), bytes.size()); }
template <typename T>
void published(T& value) {
  VALGRIND_MAKE_MEM_DEFINED(&value, sizeof value);
}
void published(const std::string& bytes) { VALGRIND_MAKE_MEM_DEFINED(bytes.data(), bytes.size()); }

Bytes pattern(std::size_t n, unsigned seed) {
  Bytes out(n, '\0');
  for (std::size_t i = 0; i < n; ++i) out[i] = static_cast<char>(seed + 29 * i + (i >> 3));
  return out;
}

void aead() {
  // Lengths around the four-block loop and the 16-byte Poly1305 blocks.
  for (std::size_t length : {0u, 1u, 15u, 16u, 63u, 255u, 256u, 257u, 1000u}) {
    const Bytes key = pattern(32, 1), nonce = pattern(12, 2), aad = pattern(length % 21, 3);
    const Bytes plain = pattern(length, 4);
    ChaCha20Poly1305 cipher;
    secret(key);
    cipher.setKey(key);
    secret(plain);
    const Bytes sealed = cipher.seal(nonce, aad, plain);
    published(sealed);

    const Bytes macKey = pattern(32, 5);
    secret(macKey);
    secret(plain);
    Bytes tag = poly1305(macKey, plain);
    published(tag);
  }
  // Tag comparison: only whether the tags match is public.
  const Bytes a = pattern(16, 6), b = pattern(16, 7);
  secret(a);
  secret(b);
  bool same = equalConstantTime(reinterpret_cast<const unsigned char*>(a.data()),
                                reinterpret_cast<const unsigned char*>(b.data()), 16);
  published(same);
}

// The RSA private exponentiation with a secret exponent (d mod p-1 in use);
// the base, already blinded there, and the modulus are public here.
void exponentiation() {
  const BigInt modulus =
      BigInt::fromBytes(pattern(128, 8)).add(BigInt(1).shiftLeft(1023)).mod(BigInt(1).shiftLeft(1024));
  const BigInt odd = modulus.testBit(0) ? modulus : modulus.add(BigInt(1));
  const BigInt base = BigInt::fromBytes(pattern(100, 9));
  for (auto* pow : {&modPowSecret, &narrow::modPowSecret}) {
    BigInt exponent = BigInt::fromBytes(pattern(128, 10)).mod(odd);
    secret(exponent.limbs());
    BigInt result = pow(base, exponent, odd);
    published(result.limbs());
  }
}

}  // namespace
}  // namespace qv

int main() {
  qv::aead();
  qv::exponentiation();
  std::puts("checked ChaCha20-Poly1305, Poly1305, tag comparison, modPowSecret");
  return 0;
}
