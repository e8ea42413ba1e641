#pragma once
// Scalars modulo the group order n: loading private scalars and digests,
// constant time in the value.
#include <cstddef>
#include <string_view>

#include "crypto/ec_curves.h"

namespace qv::ec {

// The bytes (exactly 8N) as a plain scalar; all ones when 1 <= s < n.
template <std::size_t N>
Word loadScalar(const CurveParams<N>& c, std::string_view bytes, Word* s) {
  wordsFromBytes<N>(reinterpret_cast<const unsigned char*>(bytes.data()), s);
  Word acc = 0;
  for (std::size_t k = 0; k < N; ++k) acc |= s[k];
  return ~maskIfZero(acc) & lessThanModulus<N>(s, c.n);
}

// t - n when t >= n, else t (t < 2n: any value below 2^(64N)).
template <std::size_t N>
void reduceOnceModN(const CurveParams<N>& c, Word* t) {
  reduceOnce<N>(t, t, 0, c.n);
}

// The leftmost 64N bits of a digest as an integer (FIPS 186-4 6.4: a shorter
// digest is taken whole), reduced mod n.
template <std::size_t N>
void digestToScalar(const CurveParams<N>& c, std::string_view digest, Word* e) {
  unsigned char buffer[8 * N] = {};
  const std::size_t take = digest.size() < 8 * N ? digest.size() : 8 * N;
  // Right-aligned: a short digest is a smaller number, not a shifted one.
  for (std::size_t i = 0; i < take; ++i) buffer[8 * N - take + i] = static_cast<unsigned char>(digest[i]);
  wordsFromBytes<N>(buffer, e);
  reduceOnceModN(c, e);
}

}  // namespace qv::ec
