// The constant-time arithmetic under P-256 and P-384 against BigInt, on the
// values where carries and the final subtraction go wrong: 0, 1, m - 1,
// m - 2, words of all ones, and seeded random values; and the portable word
// helpers (what i686 runs) against the 128-bit ones.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "crypto/big_int.h"
#include "crypto/ec_curves.h"
#include "tests/crypto/hex.h"

namespace qv::ec {
namespace {

template <std::size_t N>
BigInt toBig(const Word* w) {
  unsigned char bytes[8 * N];
  wordsToBytes<N>(w, bytes);
  return BigInt::fromBytes(std::string_view(reinterpret_cast<const char*>(bytes), sizeof bytes));
}

template <std::size_t N>
void fromBig(const BigInt& x, Word* w) {
  const Bytes bytes = x.toBytes(8 * N);
  wordsFromBytes<N>(reinterpret_cast<const unsigned char*>(bytes.data()), w);
}

template <std::size_t N>
std::vector<BigInt> interestingValues(const Modulus<N>& md, std::mt19937_64& rng) {
  const BigInt m = toBig<N>(md.m);
  std::vector<BigInt> values = {BigInt(0), BigInt(1), BigInt(2), m - BigInt(1), m - BigInt(2)};
  Word w[N];
  for (std::size_t k = 0; k < N; ++k) w[k] = ~Word{0};
  values.push_back(toBig<N>(w) % m);  // 2^(64N) - 1 reduced
  for (std::size_t k = 0; k < N; ++k) w[k] = k == 0 ? 0 : ~Word{0};
  values.push_back(toBig<N>(w) % m);
  for (int i = 0; i < 24; ++i) {
    for (std::size_t k = 0; k < N; ++k) w[k] = rng();
    values.push_back(toBig<N>(w) % m);
  }
  return values;
}

template <std::size_t N>
void checkModulus(const Modulus<N>& md) {
  std::mt19937_64 rng(20261209);
  const BigInt m = toBig<N>(md.m);
  const std::vector<BigInt> values = interestingValues(md, rng);
  for (const BigInt& a : values) {
    Word wa[N];
    fromBig<N>(a, wa);
    const Fe<N> fa = toMontgomery<N>(wa, md);
    Word back[N];
    fromMontgomery(invert(fa, md), back, md);
    EXPECT_EQ(toBig<N>(back), a.isZero() ? BigInt(0) : modInverse(a, m)) << hexEncode(a.toBytes());
    for (const BigInt& b : values) {
      Word wb[N];
      fromBig<N>(b, wb);
      const Fe<N> fb = toMontgomery<N>(wb, md);
      Word out[N];
      fromMontgomery(mul(fa, fb, md), out, md);
      ASSERT_EQ(toBig<N>(out), (a * b) % m) << hexEncode(a.toBytes()) << " * " << hexEncode(b.toBytes());
      fromMontgomery(add(fa, fb, md), out, md);
      ASSERT_EQ(toBig<N>(out), (a + b) % m);
      fromMontgomery(sub(fa, fb, md), out, md);
      ASSERT_EQ(toBig<N>(out), (a + m - b) % m);
      EXPECT_EQ(equal(fa, fb) != 0, a == b);
    }
  }
}

TEST(EcField, MontgomeryArithmeticAgainstBigInt) {
  checkModulus(p256Params().p);
  checkModulus(p256Params().n);
  checkModulus(p384Params().p);
  checkModulus(p384Params().n);
}

TEST(EcField, PortableWordHelpersMatch) {
  std::mt19937_64 rng(7);
  std::vector<Word> words = {0, 1, 2, 0xFFFFFFFF, 0x100000000, Word{1} << 63, ~Word{0}, ~Word{0} - 1};
  for (int i = 0; i < 16; ++i) words.push_back(rng());
  for (Word a : words) {
    for (Word b : words) {
      for (Word c : {Word{0}, Word{1}, ~Word{0}}) {
        for (Word carryIn : {Word{0}, Word{1}, ~Word{0}}) {
          Word c1 = carryIn, c2 = carryIn;
          ASSERT_EQ(portable::mulAdd(a, b, c, c1), mulAdd(a, b, c, c2)) << a << " " << b;
          ASSERT_EQ(c1, c2);
        }
        if (c > 1) continue;
        Word k1 = c, k2 = c;
        ASSERT_EQ(portable::addCarry(a, b, k1), addCarry(a, b, k2));
        ASSERT_EQ(k1, k2);
        k1 = c;
        k2 = c;
        ASSERT_EQ(portable::subBorrow(a, b, k1), subBorrow(a, b, k2));
        ASSERT_EQ(k1, k2);
      }
    }
  }
}

}  // namespace
}  // namespace qv::ec
