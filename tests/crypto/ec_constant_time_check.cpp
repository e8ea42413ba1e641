// Constant time, checked by Memcheck: the private scalar (and the nonce) are
// marked undefined, so any branch or memory index that depends on them is
// reported as a use of uninitialised data; results are marked defined again
// only where they become public (points, signatures). Runs under valgrind
// from CTest and exits non-zero on its first report.
#include <valgrind/memcheck.h>

#include <cstdio>
#include <cstring>

#include "crypto/ec_nonce.h"
#include "crypto/ec_point.h"
#include "crypto/ec_scalar.h"

namespace qv::ec {
namespace {

template <typename T>
void secret(T& value) {
  VALGRIND_MAKE_MEM_UNDEFINED(&value, sizeof value);
}
template <typename T>
void published(T& value) {
  VALGRIND_MAKE_MEM_DEFINED(&value, sizeof value);
}

template <std::size_t N>
void run(const CurveParams<N>& c) {
  // A fixed scalar and a peer point (k * G for another k): the values do not
  // matter, only that none of them steers a branch.
  unsigned char bytes[8 * N];
  for (std::size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<unsigned char>(0x3c + 7 * i);
  const std::string_view scalarBytes(reinterpret_cast<const char*>(bytes), sizeof bytes);
  Word peerScalar[N];
  loadScalar(c, scalarBytes, peerScalar);
  peerScalar[0] ^= 0x55;
  Point<N> peerPoint = scalarMulBase(c, peerScalar);
  unsigned char x[8 * N], y[8 * N];
  toAffineBytes(c, peerPoint, x, y);
  unsigned char encoded[1 + 16 * N] = {4};
  std::memcpy(encoded + 1, x, sizeof x);
  std::memcpy(encoded + 1 + 8 * N, y, sizeof y);
  AffinePoint<N> peer;
  if (!decodePoint(c, std::string_view(reinterpret_cast<const char*>(encoded), sizeof encoded), peer)) {
    std::fputs("peer point invalid\n", stderr);
    std::exit(2);
  }

  secret(bytes);
  Word k[N];
  Word valid = loadScalar(c, scalarBytes, k);
  published(valid);  // only whether the key is usable leaves
  // Keys and ECDH: k * G and k * P.
  Point<N> pub = scalarMulBase(c, k);
  Point<N> shared = scalarMul(c, k, peer);
  // Their affine forms (an inversion of a secret Z).
  toAffineBytes(c, pub, x, y);
  published(x);
  published(y);
  toAffineBytes(c, shared, x, y);
  published(x);
  published(y);

  // Signing: s = k^-1 (e + r d) mod n with a secret nonce and key.
  Word nonce[N];
  for (std::size_t i = 0; i < N; ++i) nonce[i] = k[i] ^ (Word{0x1234} << i);
  reduceOnceModN(c, nonce);
  Point<N> r = scalarMulBase(c, nonce);
  toAffineBytes(c, r, x, y);
  published(x);
  Word rw[N], e[N] = {1, 2, 3};
  wordsFromBytes<N>(x, rw);
  reduceOnceModN(c, rw);
  const Fe<N> s = mul(
      invert(toMontgomery<N>(nonce, c.n), c.n),
      add(toMontgomery<N>(e, c.n), mul(toMontgomery<N>(rw, c.n), toMontgomery<N>(k, c.n), c.n), c.n), c.n);
  Word sw[N];
  fromMontgomery(s, sw, c.n);
  published(sw);
  std::printf("checked %zu-word curve: %d\n", N, valid != 0);
}

}  // namespace
}  // namespace qv::ec

int main() {
  qv::ec::run(qv::ec::p256Params());
  qv::ec::run(qv::ec::p384Params());
  return 0;
}
