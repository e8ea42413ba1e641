#include "crypto/mont_pow.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace qv {

namespace {

using Limb = std::uint32_t;
using Wide = std::uint64_t;

std::vector<Limb> limbsOf(const BigInt& x, std::size_t k) {
  std::vector<Limb> out(k, 0);
  for (std::size_t i = 0; i < k; ++i) out[i] = x.limb(i);
  return out;
}

class Montgomery {
 public:
  explicit Montgomery(std::vector<Limb> n) : n_(std::move(n)), k_(n_.size()), t_(k_ + 2) {
    // -n^-1 mod 2^32 by Newton's iteration (each step doubles the good bits).
    Limb inv = 1;
    for (int i = 0; i < 5; ++i) inv *= 2 - n_[0] * inv;
    n0_ = static_cast<Limb>(0u - inv);
  }
  std::size_t k() const { return k_; }

  // out = a * b / 2^(32k) mod n for a, b < n (CIOS). out may alias a or b.
  void multiply(const Limb* a, const Limb* b, Limb* out) {
    std::fill(t_.begin(), t_.end(), 0);
    for (std::size_t i = 0; i < k_; ++i) {
      Wide carry = 0;
      for (std::size_t j = 0; j < k_; ++j) {
        const Wide s = static_cast<Wide>(t_[j]) + static_cast<Wide>(a[j]) * b[i] + carry;
        t_[j] = static_cast<Limb>(s);
        carry = s >> 32;
      }
      Wide s = static_cast<Wide>(t_[k_]) + carry;
      t_[k_] = static_cast<Limb>(s);
      t_[k_ + 1] = static_cast<Limb>(s >> 32);
      const Limb m = t_[0] * n0_;
      carry = (static_cast<Wide>(t_[0]) + static_cast<Wide>(m) * n_[0]) >> 32;
      for (std::size_t j = 1; j < k_; ++j) {
        s = static_cast<Wide>(t_[j]) + static_cast<Wide>(m) * n_[j] + carry;
        t_[j - 1] = static_cast<Limb>(s);
        carry = s >> 32;
      }
      s = static_cast<Wide>(t_[k_]) + carry;
      t_[k_ - 1] = static_cast<Limb>(s);
      t_[k_] = t_[k_ + 1] + static_cast<Limb>(s >> 32);
    }
    // t < 2n: subtract n, and keep the difference unless it borrowed past t's top limb.
    Limb borrow = 0;
    for (std::size_t j = 0; j < k_; ++j) {
      const Wide d = static_cast<Wide>(t_[j]) - n_[j] - borrow;
      out[j] = static_cast<Limb>(d);
      borrow = static_cast<Limb>(d >> 63);
    }
    const Limb keepT = static_cast<Limb>(0u - (borrow & (1u - (t_[k_] & 1u))));
    for (std::size_t j = 0; j < k_; ++j) out[j] = (t_[j] & keepT) | (out[j] & ~keepT);
  }

 private:
  std::vector<Limb> n_;
  std::size_t k_;
  Limb n0_ = 0;
  std::vector<Limb> t_;
};

}  // namespace

BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus) {
  const std::size_t k = modulus.limbCount();
  if (modulus.negative() || !modulus.testBit(0) || modulus.bitLength() <= 1 || exponent.limbCount() > k)
    return BigInt();
  Montgomery mont(limbsOf(modulus, k));
  // R^2 mod n converts into Montgomery form; these steps see only the modulus.
  const BigInt r2 = bigOne().shiftLeft(64 * k).mod(modulus);
  const std::vector<Limb> r2Limbs = limbsOf(r2, k);
  std::vector<Limb> one(k, 0);
  one[0] = 1;
  const std::vector<Limb> baseLimbs = limbsOf(base.mod(modulus), k);

  constexpr int kWindow = 4;
  constexpr std::size_t kTable = 1u << kWindow;
  std::vector<Limb> table(kTable * k);
  mont.multiply(one.data(), r2Limbs.data(), &table[0]);        // 1 in Montgomery form
  mont.multiply(baseLimbs.data(), r2Limbs.data(), &table[k]);  // base
  for (std::size_t i = 2; i < kTable; ++i) mont.multiply(&table[(i - 1) * k], &table[k], &table[i * k]);

  std::vector<Limb> acc(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(k));
  std::vector<Limb> pick(k);
  const std::vector<Limb> e = limbsOf(exponent, k);
  for (std::size_t window = 8 * k; window-- > 0;) {
    for (int s = 0; s < kWindow; ++s) mont.multiply(acc.data(), acc.data(), acc.data());
    const Limb bits = (e[window / 8] >> (4 * (window % 8))) & 0xF;
    std::fill(pick.begin(), pick.end(), 0);
    for (std::size_t i = 0; i < kTable; ++i) {
      // All ones when i == bits: (x - 1) >> 31 is 1 only for x == 0 here.
      const Limb mask = static_cast<Limb>(0u - (((static_cast<Limb>(i) ^ bits) - 1u) >> 31));
      for (std::size_t j = 0; j < k; ++j) pick[j] |= table[i * k + j] & mask;
    }
    mont.multiply(acc.data(), pick.data(), acc.data());
  }
  mont.multiply(acc.data(), one.data(), acc.data());
  Bytes raw(4 * k, '\0');
  std::memcpy(raw.data(), acc.data(), raw.size());  // limbs are little-endian bytes in BigInt
  return BigInt::fromLimbs(false, std::move(raw));
}

}  // namespace qv
