#include "crypto/mont_pow.h"

#include <cstdint>
#include <cstring>
#include <vector>

namespace qv {

namespace {

#if defined(__SIZEOF_INT128__)
__extension__ typedef unsigned __int128 Uint128;
#endif

// The modulus' limbs as Limb words (32 or 64 bits), k of them.
template <typename Limb>
std::vector<Limb> wordsOf(const BigInt& x, std::size_t k) {
  constexpr std::size_t kPer = sizeof(Limb) / 4;
  std::vector<Limb> out(k, 0);
  for (std::size_t i = 0; i < k; ++i)
    for (std::size_t h = 0; h < kPer; ++h) out[i] |= static_cast<Limb>(x.limb(kPer * i + h)) << (32 * h);
  return out;
}

// Montgomery products modulo an odd n of k words; Wide holds two words.
template <typename Limb, typename Wide>
class Montgomery {
 public:
  static constexpr int kBits = 8 * sizeof(Limb);

  explicit Montgomery(std::vector<Limb> n) : n_(std::move(n)), k_(n_.size()), t_(k_ + 2) {
    // -n^-1 mod 2^kBits by Newton's iteration (each step doubles the good bits).
    Limb inv = 1;
    for (int i = 0; i < 6; ++i) inv *= static_cast<Limb>(2) - n_[0] * inv;
    n0_ = static_cast<Limb>(0) - inv;
  }

  // out = a * b / 2^(kBits k) mod n for a, b < n (CIOS). out may alias a or b.
  void multiply(const Limb* a, const Limb* b, Limb* out) {
    std::fill(t_.begin(), t_.end(), 0);
    for (std::size_t i = 0; i < k_; ++i) {
      Wide carry = 0;
      for (std::size_t j = 0; j < k_; ++j) {
        const Wide s = static_cast<Wide>(t_[j]) + static_cast<Wide>(a[j]) * b[i] + carry;
        t_[j] = static_cast<Limb>(s);
        carry = s >> kBits;
      }
      Wide s = static_cast<Wide>(t_[k_]) + carry;
      t_[k_] = static_cast<Limb>(s);
      t_[k_ + 1] = static_cast<Limb>(s >> kBits);
      const Limb m = t_[0] * n0_;
      carry = (static_cast<Wide>(t_[0]) + static_cast<Wide>(m) * n_[0]) >> kBits;
      for (std::size_t j = 1; j < k_; ++j) {
        s = static_cast<Wide>(t_[j]) + static_cast<Wide>(m) * n_[j] + carry;
        t_[j - 1] = static_cast<Limb>(s);
        carry = s >> kBits;
      }
      s = static_cast<Wide>(t_[k_]) + carry;
      t_[k_ - 1] = static_cast<Limb>(s);
      t_[k_] = t_[k_ + 1] + static_cast<Limb>(s >> kBits);
    }
    // t < 2n: subtract n, and keep the difference unless it borrowed past t's top word.
    Limb borrow = 0;
    for (std::size_t j = 0; j < k_; ++j) {
      const Wide d = static_cast<Wide>(t_[j]) - n_[j] - borrow;
      out[j] = static_cast<Limb>(d);
      borrow = static_cast<Limb>(d >> (2 * kBits - 1));
    }
    const Limb keepT = static_cast<Limb>(0) - (borrow & (static_cast<Limb>(1) - (t_[k_] & 1)));
    for (std::size_t j = 0; j < k_; ++j) out[j] = (t_[j] & keepT) | (out[j] & ~keepT);
  }

 private:
  std::vector<Limb> n_;
  std::size_t k_;
  Limb n0_ = 0;
  std::vector<Limb> t_;
};

template <typename Limb, typename Wide>
BigInt modPowWords(const BigInt& base, const BigInt& exponent, const BigInt& modulus) {
  constexpr std::size_t kPer = sizeof(Limb) / 4;
  const std::size_t k = (modulus.limbCount() + kPer - 1) / kPer;
  if (modulus.negative() || !modulus.testBit(0) || modulus.bitLength() <= 1 ||
      exponent.limbCount() > modulus.limbCount())
    return BigInt();
  Montgomery<Limb, Wide> mont(wordsOf<Limb>(modulus, k));
  // R^2 mod n converts into Montgomery form; these steps see only the modulus.
  const std::vector<Limb> r2 = wordsOf<Limb>(bigOne().shiftLeft(2 * 8 * sizeof(Limb) * k).mod(modulus), k);
  std::vector<Limb> one(k, 0);
  one[0] = 1;
  const std::vector<Limb> baseWords = wordsOf<Limb>(base.mod(modulus), k);

  constexpr int kWindow = 4;
  constexpr std::size_t kTable = 1u << kWindow;
  constexpr std::size_t kWindowsPerWord = 8 * sizeof(Limb) / kWindow;
  std::vector<Limb> table(kTable * k);
  mont.multiply(one.data(), r2.data(), &table[0]);        // 1 in Montgomery form
  mont.multiply(baseWords.data(), r2.data(), &table[k]);  // base
  for (std::size_t i = 2; i < kTable; ++i) mont.multiply(&table[(i - 1) * k], &table[k], &table[i * k]);

  std::vector<Limb> acc(table.begin(), table.begin() + static_cast<std::ptrdiff_t>(k));
  std::vector<Limb> pick(k);
  const std::vector<Limb> e = wordsOf<Limb>(exponent, k);
  for (std::size_t window = kWindowsPerWord * k; window-- > 0;) {
    for (int s = 0; s < kWindow; ++s) mont.multiply(acc.data(), acc.data(), acc.data());
    const Limb bits = (e[window / kWindowsPerWord] >> (kWindow * (window % kWindowsPerWord))) & 0xF;
    std::fill(pick.begin(), pick.end(), 0);
    for (std::size_t i = 0; i < kTable; ++i) {
      // All ones when i == bits: x - 1 borrows into the top bit only for x == 0.
      const Limb diff = static_cast<Limb>(i) ^ bits;
      const Limb mask = static_cast<Limb>(0) - ((diff - 1) >> (8 * sizeof(Limb) - 1));
      for (std::size_t j = 0; j < k; ++j) pick[j] |= table[i * k + j] & mask;
    }
    mont.multiply(acc.data(), pick.data(), acc.data());
  }
  mont.multiply(acc.data(), one.data(), acc.data());
  Bytes raw(sizeof(Limb) * k, '\0');
  for (std::size_t i = 0; i < raw.size(); ++i)
    raw[i] = static_cast<char>(acc[i / sizeof(Limb)] >> (8 * (i % sizeof(Limb))));
  return BigInt::fromLimbs(false, std::move(raw));
}

}  // namespace

BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus) {
#if defined(__SIZEOF_INT128__)
  return modPowWords<std::uint64_t, Uint128>(base, exponent, modulus);
#else
  return modPowWords<std::uint32_t, std::uint64_t>(base, exponent, modulus);
#endif
}

namespace narrow {
BigInt modPowSecret(const BigInt& base, const BigInt& exponent, const BigInt& modulus) {
  return modPowWords<std::uint32_t, std::uint64_t>(base, exponent, modulus);
}
}  // namespace narrow

}  // namespace qv
