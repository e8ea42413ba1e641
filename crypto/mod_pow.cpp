#include <algorithm>
#include <cstring>

#include "crypto/barrett.h"
#include "crypto/big_int.h"

namespace qv {

using limbs::Limb;
using limbs::LimbVector;

namespace {

LimbVector toVector(const BigInt& x) {
  LimbVector v(x.limbCount());
  if (!v.empty()) std::memcpy(v.data(), x.limbs().data(), v.size() * 4);
  return v;
}

BigInt fromVector(const Limb* a, std::size_t n) {
  n = limbs::trimmed(a, n);
  Bytes raw(n * 4, '\0');
  if (n != 0) std::memcpy(raw.data(), a, n * 4);
  return BigInt::fromLimbs(false, std::move(raw));
}

// The residue of x in [0, m) for m > 0, whatever the sign of x.
BigInt nonNegativeResidue(const BigInt& x, const BigInt& m) {
  BigInt r = x.mod(m);
  if (r.negative()) r = r.add(m);
  return r;
}

bool isOne(const Limb* a, std::size_t n) { return n > 0 && a[0] == 1 && limbs::trimmed(a, n) == 1; }

}  // namespace

BigInt barrettReduce(const BigInt& x, const BigInt& m, const BigInt& mu) {
  if (m.isZero()) return BigInt();
  const BigInt modulus = m.negative() ? BigInt::fromLimbs(false, m.limbs()) : m;
  if (x.negative()) return nonNegativeResidue(x, modulus);
  BarrettReducer reducer(toVector(modulus), toVector(mu));
  const LimbVector xv = toVector(x);
  LimbVector out(reducer.k());
  reducer.reduce(xv.data(), xv.size(), out.data());
  return fromVector(out.data(), out.size());
}

BigInt modPow(const BigInt& base, const BigInt& exponent, const BigInt& m) {
  if (m.isZero()) return BigInt();
  const BigInt modulus = m.negative() ? BigInt::fromLimbs(false, m.limbs()) : m;
  // Every value is 0 modulo 1.
  if (modulus.equals(1)) return BigInt();
  if (exponent.isZero()) return bigOne();

  LimbVector mv = toVector(modulus);
  LimbVector mu = BarrettReducer::computeMu(mv);
  BarrettReducer reducer(std::move(mv), std::move(mu));
  const std::size_t k = reducer.k();

  LimbVector current = toVector(nonNegativeResidue(base, modulus));
  current.resize(k, 0);
  LimbVector result(k, 0);
  LimbVector product(2 * k, 0);
  std::vector<std::uint64_t> cells;
  bool resultIsOne = true;

  const LimbVector e = toVector(exponent);
  const std::size_t bits = exponent.bitLength();
  for (std::size_t i = 0; i < bits; ++i) {
    if ((e[i / 32] >> (i % 32)) & 1) {
      if (resultIsOne) {
        // one * base is already reduced.
        result = current;
        resultIsOne = false;
      } else {
        limbs::multiply(result.data(), k, current.data(), k, product.data(), cells);
        reducer.reduce(product.data(), 2 * k, result.data());
      }
    }
    // The square after the top bit would never be used.
    if (i + 1 == bits) break;
    limbs::square(current.data(), k, product.data(), cells);
    reducer.reduce(product.data(), 2 * k, current.data());
    // A base of one changes the result no more.
    if (isOne(current.data(), k)) break;
  }
  if (resultIsOne) return bigOne();
  return fromVector(result.data(), k);
}

}  // namespace qv
