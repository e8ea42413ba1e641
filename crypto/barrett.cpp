#include "crypto/barrett.h"

#include <algorithm>

#include "crypto/big_int.h"

namespace qv {

using limbs::Limb;
using limbs::LimbVector;

BarrettReducer::BarrettReducer(LimbVector m, LimbVector mu) : m_(std::move(m)), mu_(std::move(mu)) {
  mu_.resize(limbs::trimmed(mu_.data(), mu_.size()));
  const std::size_t k = m_.size();
  r_.assign(k + 1, 0);
  r2_.assign(k + 1, 0);
}

LimbVector BarrettReducer::computeMu(const LimbVector& m) {
  LimbVector power(2 * m.size() + 1, 0);
  power.back() = 1;
  LimbVector mu;
  limbs::divide(power.data(), power.size(), m.data(), m.size(), &mu, nullptr);
  return mu;
}

void BarrettReducer::reduce(const Limb* x, std::size_t nx, Limb* out) {
  const std::size_t k = m_.size();
  nx = limbs::trimmed(x, nx);
  // 1. Already reduced.
  if (limbs::compare(x, nx, m_.data(), k) < 0) {
    std::copy_n(x, nx, out);
    std::fill(out + nx, out + k, 0);
    return;
  }
  // 2. Too long for the estimate: plain division.
  if (limbs::bitLength(x, nx) > 64 * k) {
    limbs::divide(x, nx, m_.data(), k, nullptr, &fallback_);
    std::copy(fallback_.begin(), fallback_.end(), out);
    std::fill(out + fallback_.size(), out + k, 0);
    return;
  }
  // 3. q3 = ((x >> 32(k-1)) * mu) >> 32(k+1), from the partial product that
  // leaves out the limb pairs far below b^(k+1): it may come out one short,
  // which step 4 absorbs with one more subtraction.
  const std::size_t nq1 = nx - (k - 1);
  const std::size_t nq2 = nq1 + mu_.size();
  const std::size_t nq3 = nq2 > k + 1 ? nq2 - (k + 1) : 0;
  if (q2_.size() < nq3) q2_.resize(nq3);
  limbs::multiplyHigh(x + (k - 1), nq1, mu_.data(), mu_.size(), q2_.data(), k + 1, cells_);
  const Limb* q3 = q2_.data();
  // 4. r = (x mod b^(k+1)) - (q3 * m mod b^(k+1)); a final borrow is the
  // b^(k+1) that a negative r gets added.
  limbs::multiplyLow(q3, nq3, m_.data(), k, r2_.data(), k + 1, cells_);
  std::fill(r_.begin(), r_.end(), 0);
  std::copy_n(x, std::min(nx, k + 1), r_.begin());
  std::uint64_t borrow = 0;
  for (std::size_t i = 0; i <= k; ++i) {
    const std::uint64_t d = std::uint64_t{r_[i]} - r2_[i] - borrow;
    r_[i] = static_cast<Limb>(d);
    borrow = (d >> 32) & 1;
  }
  // At most three subtractions with a true mu; a wrong mu must not make this
  // loop run for long, so fall back to division.
  int subtractions = 0;
  while (limbs::compare(r_.data(), k + 1, m_.data(), k) >= 0) {
    if (++subtractions > 3) {
      limbs::divide(r_.data(), k + 1, m_.data(), k, nullptr, &fallback_);
      std::fill(r_.begin(), r_.end(), 0);
      std::copy(fallback_.begin(), fallback_.end(), r_.begin());
      break;
    }
    limbs::subtractInPlace(r_.data(), k + 1, m_.data(), k);
  }
  std::copy_n(r_.begin(), k, out);
}

}  // namespace qv
