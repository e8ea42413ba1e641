#include "crypto/big_int.h"

#include <bit>
#include <cstring>

#include "crypto/limbs.h"

namespace qv {

static_assert(std::endian::native == std::endian::little, "limb bytes are stored in the machine's order");

namespace {

using limbs::Limb;
using limbs::LimbVector;

LimbVector toVector(const Bytes& raw) {
  LimbVector v(raw.size() / 4);
  if (!v.empty()) std::memcpy(v.data(), raw.data(), v.size() * 4);
  return v;
}

Bytes toRaw(const Limb* a, std::size_t n) {
  n = limbs::trimmed(a, n);
  Bytes raw(n * 4, '\0');
  if (n != 0) std::memcpy(raw.data(), a, n * 4);
  return raw;
}

}  // namespace

BigInt::BigInt(std::int32_t value) {
  negative_ = value < 0;
  const std::uint32_t magnitude = negative_
                                      ? static_cast<std::uint32_t>(0) - static_cast<std::uint32_t>(value)
                                      : static_cast<std::uint32_t>(value);
  if (magnitude != 0) limbs_ = toRaw(&magnitude, 1);
}

BigInt BigInt::fromLimbs(bool negative, Bytes limbs) {
  BigInt r;
  r.negative_ = negative;
  r.limbs_ = std::move(limbs);
  r.limbs_.resize(r.limbs_.size() / 4 * 4);
  r.normalise();
  return r;
}

void BigInt::normalise() {
  std::size_t n = limbs_.size();
  while (n >= 4 && limbs_[n - 1] == 0 && limbs_[n - 2] == 0 && limbs_[n - 3] == 0 && limbs_[n - 4] == 0)
    n -= 4;
  limbs_.resize(n);
  if (limbs_.empty()) negative_ = false;
}

BigInt BigInt::fromBytes(std::string_view bytes) {
  // Leading zero bytes would only be trimmed again.
  std::size_t start = 0;
  while (start < bytes.size() && bytes[start] == 0) ++start;
  bytes.remove_prefix(start);
  const std::size_t n = (bytes.size() + 3) / 4;
  LimbVector v(n, 0);
  for (std::size_t k = 0; k < bytes.size(); ++k) {
    const std::size_t fromEnd = bytes.size() - 1 - k;
    v[fromEnd / 4] |= Limb{static_cast<unsigned char>(bytes[k])} << (8 * (fromEnd % 4));
  }
  BigInt r;
  r.limbs_ = toRaw(v.data(), n);
  return r;
}

Bytes BigInt::toBytes(std::size_t minLength) const {
  const std::size_t bytes = (bitLength() + 7) / 8;
  const std::size_t length = bytes < minLength ? minLength : bytes;
  Bytes out(length, '\0');
  // Limb bytes are little-endian, so byte k of the magnitude is limbs_[k].
  for (std::size_t k = 0; k < bytes; ++k) out[length - 1 - k] = limbs_[k];
  return out;
}

std::uint32_t BigInt::limb(std::size_t index) const {
  if (index >= limbCount()) return 0;
  Limb l;
  std::memcpy(&l, limbs_.data() + 4 * index, 4);
  return l;
}

std::size_t BigInt::bitLength() const {
  const std::size_t n = limbCount();
  if (n == 0) return 0;
  return 32 * (n - 1) + static_cast<std::size_t>(std::bit_width(limb(n - 1)));
}

bool BigInt::testBit(std::size_t bit) const { return (limb(bit / 32) >> (bit % 32)) & 1; }

int BigInt::compareMagnitude(const BigInt& other) const {
  const std::size_t na = limbCount(), nb = other.limbCount();
  if (na != nb) return na < nb ? -1 : 1;
  for (std::size_t k = na; k-- > 0;) {
    const Limb x = limb(k), y = other.limb(k);
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

bool BigInt::equals(std::int32_t value) const { return *this == BigInt(value); }

BigInt BigInt::add(const BigInt& other) const {
  const LimbVector a = toVector(limbs_), b = toVector(other.limbs_);
  if (negative_ == other.negative_) {
    LimbVector out(std::max(a.size(), b.size()) + 1);
    limbs::add(a.data(), a.size(), b.data(), b.size(), out.data());
    return fromLimbs(negative_, toRaw(out.data(), out.size()));
  }
  // Different signs: the smaller magnitude comes off the larger, whose sign wins.
  const int c = compareMagnitude(other);
  if (c == 0) return BigInt();
  LimbVector big = c > 0 ? a : b;
  const LimbVector& small = c > 0 ? b : a;
  limbs::subtractInPlace(big.data(), big.size(), small.data(), small.size());
  return fromLimbs(c > 0 ? negative_ : other.negative_, toRaw(big.data(), big.size()));
}

BigInt BigInt::sub(const BigInt& other) const {
  BigInt negated = other;
  if (!negated.isZero()) negated.negative_ = !negated.negative_;
  return add(negated);
}

BigInt BigInt::mul(const BigInt& other) const {
  if (isZero() || other.isZero()) return BigInt();
  const LimbVector a = toVector(limbs_), b = toVector(other.limbs_);
  LimbVector out(a.size() + b.size());
  std::vector<std::uint64_t> cells;
  if (limbs_ == other.limbs_) {
    limbs::square(a.data(), a.size(), out.data(), cells);
  } else {
    limbs::multiply(a.data(), a.size(), b.data(), b.size(), out.data(), cells);
  }
  return fromLimbs(negative_ != other.negative_, toRaw(out.data(), out.size()));
}

BigInt BigInt::div(const BigInt& divisor) const {
  if (divisor.isZero()) return BigInt();
  const LimbVector u = toVector(limbs_), v = toVector(divisor.limbs_);
  LimbVector q;
  limbs::divide(u.data(), u.size(), v.data(), v.size(), &q, nullptr);
  return fromLimbs(negative_ != divisor.negative_, toRaw(q.data(), q.size()));
}

BigInt BigInt::mod(const BigInt& divisor) const {
  if (divisor.isZero()) return BigInt();
  const LimbVector u = toVector(limbs_), v = toVector(divisor.limbs_);
  LimbVector r;
  limbs::divide(u.data(), u.size(), v.data(), v.size(), nullptr, &r);
  return fromLimbs(negative_, toRaw(r.data(), r.size()));
}

BigInt BigInt::shiftLeft(std::size_t bits) const {
  if (isZero()) return BigInt();
  const std::size_t whole = bits / 32;
  const unsigned part = static_cast<unsigned>(bits % 32);
  const LimbVector a = toVector(limbs_);
  LimbVector out(a.size() + whole + 1, 0);
  for (std::size_t k = 0; k < a.size(); ++k) {
    out[k + whole] |= a[k] << part;
    if (part != 0) out[k + whole + 1] = a[k] >> (32 - part);
  }
  return fromLimbs(negative_, toRaw(out.data(), out.size()));
}

BigInt BigInt::shiftRight(std::size_t bits) const {
  const std::size_t whole = bits / 32;
  if (whole >= limbCount()) return BigInt();
  const unsigned part = static_cast<unsigned>(bits % 32);
  const LimbVector a = toVector(limbs_);
  LimbVector out(a.size() - whole, 0);
  for (std::size_t k = 0; k < out.size(); ++k) {
    out[k] = a[k + whole] >> part;
    if (part != 0 && k + whole + 1 < a.size()) out[k] |= a[k + whole + 1] << (32 - part);
  }
  return fromLimbs(negative_, toRaw(out.data(), out.size()));
}

const BigInt& bigOne() {
  static const BigInt one(1);
  return one;
}

}  // namespace qv
