#pragma once
// Magnitude arithmetic on plain arrays of 32-bit limbs, least significant
// first. BigInt, Barrett reduction and modPow share these loops; working on
// raw arrays with caller-owned scratch keeps allocation out of the hot paths.
#include <cstddef>
#include <cstdint>
#include <vector>

namespace qv::limbs {

using Limb = std::uint32_t;
using LimbVector = std::vector<Limb>;

// Length without most-significant zero limbs.
std::size_t trimmed(const Limb* a, std::size_t n);
std::size_t bitLength(const Limb* a, std::size_t n);
// -1, 0, 1; both operands may carry zero top limbs.
int compare(const Limb* a, std::size_t na, const Limb* b, std::size_t nb);

// out[0..max(na,nb)] = a + b (one extra limb for the carry).
void add(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out);
// a[0..na) -= b[0..nb), requires a >= b and na >= nb.
void subtractInPlace(Limb* a, std::size_t na, const Limb* b, std::size_t nb);

// Schoolbook products: one cell per result word collects the products of
// all limb pairs that land there, then one carry pass emits the words.
// cells is scratch, resized as needed.
// out[0..na+nb) = a * b.
void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out,
              std::vector<std::uint64_t>& cells);
// out[0..2n) = a * a; each cross product is formed once and doubled.
void square(const Limb* a, std::size_t n, Limb* out, std::vector<std::uint64_t>& cells);
// out[0..nOut) = (a * b) mod b^nOut; limb pairs above nOut are skipped.
void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut,
                 std::vector<std::uint64_t>& cells);
// out[0..na+nb-from) = the limbs from `from` upward of a * b, leaving out
// every limb pair below column from - 2 (the partial product of HAC 14.44).
// The pairs left out sum to less than (from - 2) * b^(from - 1) * (1 + 2/b),
// so the result is the true (a * b) >> 32*from or one less.
void multiplyHigh(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t from,
                  std::vector<std::uint64_t>& cells);

// Where the compiler has a 128-bit integer the products above run over pairs
// of limbs read as 64-bit words (a quarter of the multiplications); these are
// the same loops over single 32-bit limbs, used otherwise (and by the tests
// to check one against the other).
namespace narrow {
void multiply(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out);
void square(const Limb* a, std::size_t n, Limb* out);
void multiplyLow(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t nOut);
void multiplyHigh(const Limb* a, std::size_t na, const Limb* b, std::size_t nb, Limb* out, std::size_t from);
}  // namespace narrow

// Restoring binary long division of u by v (v non-zero): quotient and
// remainder, trimmed. Either output pointer may be null.
void divide(const Limb* u, std::size_t nu, const Limb* v, std::size_t nv, LimbVector* quotient,
            LimbVector* remainder);

}  // namespace qv::limbs
