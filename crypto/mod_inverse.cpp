#include "crypto/big_int.h"

namespace qv {

namespace {

bool isEven(const BigInt& x) { return !x.testBit(0); }

BigInt halve(const BigInt& x) { return x.shiftRight(1); }

}  // namespace

// Binary extended Euclidean algorithm (HAC 14.61) on x = a mod m and y = m:
// it ends with C * x + D * y = gcd, and C is the inverse when gcd is one.
BigInt modInverse(const BigInt& a, const BigInt& m) {
  const BigInt y = m.negative() ? BigInt::fromLimbs(false, m.limbs()) : m;
  if (y.isZero() || y.equals(1)) return BigInt();
  BigInt x = a.mod(y);
  if (x.negative()) x = x.add(y);
  if (x.isZero()) return BigInt();
  // A common factor 2 means there is no inverse.
  if (isEven(x) && isEven(y)) return BigInt();

  BigInt u = x, v = y;
  BigInt A = 1, B = 0, C = 0, D = 1;
  while (!u.isZero()) {
    while (isEven(u)) {
      u = halve(u);
      if (isEven(A) && isEven(B)) {
        A = halve(A);
        B = halve(B);
      } else {
        A = halve(A.add(y));
        B = halve(B.sub(x));
      }
    }
    while (isEven(v)) {
      v = halve(v);
      if (isEven(C) && isEven(D)) {
        C = halve(C);
        D = halve(D);
      } else {
        C = halve(C.add(y));
        D = halve(D.sub(x));
      }
    }
    if (u.compareMagnitude(v) >= 0) {
      u = u.sub(v);
      A = A.sub(C);
      B = B.sub(D);
    } else {
      v = v.sub(u);
      C = C.sub(A);
      D = D.sub(B);
    }
  }
  if (!v.equals(1)) return BigInt();
  BigInt inverse = C.mod(y);
  if (inverse.negative()) inverse = inverse.add(y);
  return inverse;
}

}  // namespace qv
