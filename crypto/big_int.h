#pragma once
// Arbitrary-precision signed integers for RSA.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

// Sign-magnitude integer. The magnitude is held as 32-bit limbs, least
// significant first, each limb as 4 little-endian bytes; it is always
// normalised (no zero top limb), so zero is the empty magnitude and is never
// negative.
class BigInt {
 public:
  BigInt() = default;
  BigInt(std::int32_t value);  // NOLINT: small constants convert implicitly

  // Big-endian, non-negative; an empty string gives zero.
  static BigInt fromBytes(std::string_view bytes);
  // Magnitude big-endian without leading zero bytes, padded in front with
  // zero bytes to minLength (0: no padding).
  Bytes toBytes(std::size_t minLength = 0) const;

  // Raw form: sign and little-endian limb bytes (length a multiple of 4).
  bool negative() const { return negative_; }
  const Bytes& limbs() const { return limbs_; }
  std::size_t limbCount() const { return limbs_.size() / 4; }
  std::uint32_t limb(std::size_t index) const;  // 0 beyond the top
  std::size_t bitLength() const;                // of the magnitude; 0 for zero
  bool testBit(std::size_t bit) const;          // of the magnitude
  bool isZero() const { return limbs_.empty(); }

  // -1, 0 or 1 comparing |this| with |other|.
  int compareMagnitude(const BigInt& other) const;
  // Equal to the small integer, sign included (0 means the empty magnitude).
  bool equals(std::int32_t value) const;

  BigInt add(const BigInt& other) const;
  BigInt sub(const BigInt& other) const;
  BigInt mul(const BigInt& other) const;
  // Truncated division of the magnitudes, quotient sign = XOR of the signs.
  // A zero divisor gives zero.
  BigInt div(const BigInt& divisor) const;
  // Remainder 0 <= r < divisor for non-negative operands; for negative
  // operands the remainder of the magnitudes carries the dividend's sign.
  // A zero divisor gives zero.
  BigInt mod(const BigInt& divisor) const;
  // Magnitude shifts; the sign stays (a zero result is non-negative).
  BigInt shiftLeft(std::size_t bits) const;
  BigInt shiftRight(std::size_t bits) const;

  friend bool operator==(const BigInt& a, const BigInt& b) {
    return a.negative_ == b.negative_ && a.limbs_ == b.limbs_;
  }
  friend BigInt operator+(const BigInt& a, const BigInt& b) { return a.add(b); }
  friend BigInt operator-(const BigInt& a, const BigInt& b) { return a.sub(b); }
  friend BigInt operator*(const BigInt& a, const BigInt& b) { return a.mul(b); }
  friend BigInt operator/(const BigInt& a, const BigInt& b) { return a.div(b); }
  friend BigInt operator%(const BigInt& a, const BigInt& b) { return a.mod(b); }

  // From raw little-endian limb bytes (normalised here; sign dropped for zero).
  static BigInt fromLimbs(bool negative, Bytes limbs);

 private:
  void normalise();

  bool negative_ = false;
  Bytes limbs_;
};

// The process-wide constant one.
const BigInt& bigOne();

// a^-1 mod m by the binary extended Euclidean algorithm, in [0, m). Gives
// zero when no inverse exists (gcd(a, m) != 1, m <= 1) or either is zero.
BigInt modInverse(const BigInt& a, const BigInt& m);

// x mod m for 0 <= x with mu = floor(2^(64k) / m), k = m.limbCount().
// Zero for a zero modulus; a negative x gives its residue in [0, m). A wrong
// mu gives a wrong value below m, never a long loop.
BigInt barrettReduce(const BigInt& x, const BigInt& m, const BigInt& mu);

// base^exponent mod m, in [0, m) (the signs of exponent and modulus are
// ignored; a negative base counts as its residue). A zero exponent gives
// one; a zero modulus gives zero, and so does a modulus of one.
BigInt modPow(const BigInt& base, const BigInt& exponent, const BigInt& m);

}  // namespace qv
