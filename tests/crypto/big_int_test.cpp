#include <gtest/gtest.h>

#include <limits>

#include "crypto/big_int.h"
#include "tests/crypto/hex.h"

namespace qv {
namespace {

using test::fromHex;
using test::hex;

BigInt big(const char* hexDigits) { return BigInt::fromBytes(fromHex(hexDigits)); }

TEST(BigIntBytes, ConversionsAndNormalisation) {
  EXPECT_EQ(BigInt::fromBytes(fromHex("00000100")), BigInt(256));
  EXPECT_EQ(hex(BigInt(256).toBytes(0)), "0100");
  EXPECT_EQ(hex(BigInt(256).toBytes(4)), "00000100");
  EXPECT_EQ(hex(BigInt(256).toBytes(1)), "0100");  // never cut
  EXPECT_TRUE(BigInt::fromBytes("").isZero());
  EXPECT_TRUE(BigInt::fromBytes(Bytes(9, '\0')).isZero());
  EXPECT_EQ(BigInt::fromBytes("").toBytes(0), "");
  EXPECT_EQ(hex(BigInt().toBytes(3)), "000000");
  // A short first group: 5 bytes make two limbs.
  const BigInt five = big("0102030405");
  EXPECT_EQ(five.limbCount(), 2u);
  EXPECT_EQ(five.limb(0), 0x02030405u);
  EXPECT_EQ(five.limb(1), 0x01u);
  EXPECT_EQ(five.limbs().size(), 8u);
  EXPECT_EQ(hex(five.toBytes(0)), "0102030405");
  EXPECT_EQ(five.bitLength(), 33u);
}

TEST(BigIntBytes, FromSmallIntegers) {
  EXPECT_TRUE(BigInt(0).isZero());
  EXPECT_FALSE(BigInt(0).negative());
  EXPECT_TRUE(BigInt(-7).negative());
  EXPECT_EQ(hex(BigInt(-7).toBytes(0)), "07");
  const BigInt minimum(std::numeric_limits<std::int32_t>::min());
  EXPECT_TRUE(minimum.negative());
  EXPECT_EQ(hex(minimum.toBytes(0)), "80000000");
  EXPECT_TRUE(BigInt(5).equals(5));
  EXPECT_FALSE(BigInt(-5).equals(5));
  EXPECT_TRUE(BigInt().equals(0));
}

TEST(BigIntArithmetic, SignedAddSubMul) {
  const struct {
    int a, b, sum, difference, product;
  } cases[] = {
      {3, 5, 8, -2, 15}, {-2, 5, 3, -7, -10}, {-2, -3, -5, 1, 6}, {5, -5, 0, 10, -25},
      {0, -4, -4, 4, 0}, {-4, 0, -4, -4, 0},  {7, 7, 14, 0, 49},  {-2, 3, 1, -5, -6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.a) + "," + std::to_string(c.b));
    EXPECT_EQ(BigInt(c.a).add(c.b), BigInt(c.sum));
    EXPECT_EQ(BigInt(c.a).sub(c.b), BigInt(c.difference));
    EXPECT_EQ(BigInt(c.a).mul(c.b), BigInt(c.product));
  }
  // A zero result is never negative.
  EXPECT_FALSE(BigInt(-5).add(5).negative());
  EXPECT_FALSE(BigInt(-5).mul(0).negative());
}

TEST(BigIntArithmetic, CarriesAndBorrowsAcrossLimbs) {
  EXPECT_EQ(hex(big("ffffffffffffffff").add(1).toBytes(0)), "010000000000000000");
  EXPECT_EQ(hex(big("010000000000000000").sub(1).toBytes(0)), "ffffffffffffffff");
  EXPECT_EQ(big("010000000000000000").sub(1).limbCount(), 2u);
  EXPECT_EQ(hex(big("ffffffffffffffff").mul(big("ffffffffffffffff")).toBytes(0)),
            "fffffffffffffffe0000000000000001");
  // Squaring goes through its own loop.
  EXPECT_EQ(hex(big("ffffffffffffffffffffffff").mul(big("ffffffffffffffffffffffff")).toBytes(0)),
            "fffffffffffffffffffffffe000000000000000000000001");
}

TEST(BigIntArithmetic, DivisionAndRemainder) {
  const struct {
    const char *u, *v, *q, *r;
  } cases[] = {
      {"64", "07", "0e", "02"},
      {"06", "07", "", "06"},
      {"07", "07", "01", ""},
      {"0100000000000000000000000000000000", "0100000001", "ffffffff00000000ffffffff", "01"},
      {"ffffffffffffffffffffffffffffffff", "ffffffffffffffff", "010000000000000001", ""},
      {"123456789abcdef0123456789abcdef0", "fedcba98", "1249249251a1f57bef0b31f9", "89cc4918"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.u);
    const BigInt u = big(c.u), v = big(c.v);
    EXPECT_EQ(u.div(v), big(c.q));
    EXPECT_EQ(u.mod(v), big(c.r));
    EXPECT_EQ(u.div(v).mul(v).add(u.mod(v)), u);
  }
  // A zero divisor yields zero rather than a fault.
  EXPECT_TRUE(BigInt(5).div(0).isZero());
  EXPECT_TRUE(BigInt(5).mod(BigInt()).isZero());
  // Quotient sign is the XOR of the signs.
  EXPECT_EQ(BigInt(-7).div(2), BigInt(-3));
  EXPECT_EQ(BigInt(7).div(-2), BigInt(-3));
  EXPECT_EQ(BigInt(-7).div(-2), BigInt(3));
}

TEST(BigIntArithmetic, Shifts) {
  EXPECT_EQ(BigInt(1).shiftLeft(64), big("010000000000000000"));
  EXPECT_EQ(big("010000000000000000").shiftRight(64), BigInt(1));
  EXPECT_EQ(BigInt(0x1234).shiftLeft(36).shiftRight(36), BigInt(0x1234));
  EXPECT_EQ(BigInt(-6).shiftRight(1), BigInt(-3));
  EXPECT_TRUE(BigInt(5).shiftRight(3).isZero());
  EXPECT_TRUE(BigInt(-5).shiftRight(200).isZero());
  EXPECT_FALSE(BigInt(-5).shiftRight(200).negative());
  EXPECT_TRUE(BigInt().shiftLeft(100).isZero());
  EXPECT_EQ(BigInt(3).shiftLeft(0), BigInt(3));
}

TEST(BigIntModular, ModPowCases) {
  EXPECT_EQ(modPow(4, 13, 497), BigInt(445));
  EXPECT_EQ(modPow(1234, 0, 497), BigInt(1));
  EXPECT_EQ(modPow(1, big("ffffffffffffffffffff"), 497), BigInt(1));
  EXPECT_EQ(modPow(496, 2, 497), BigInt(1));  // base becomes one after one squaring
  EXPECT_EQ(modPow(496, 3, 497), BigInt(496));
  EXPECT_EQ(modPow(0, 5, 497), BigInt());
  EXPECT_EQ(modPow(1000, 1, 497), BigInt(6));  // base above the modulus
  EXPECT_EQ(modPow(-2, 3, 11), BigInt(3));     // -8 mod 11
  EXPECT_TRUE(modPow(3, 5, 0).isZero());       // zero modulus
  EXPECT_TRUE(modPow(3, 5, 1).isZero());       // everything is 0 mod 1
  EXPECT_TRUE(modPow(3, 0, 1).isZero());
  // Fermat on a multi-limb prime: 2^(p-1) = 1 mod p, p = 2^127 - 1.
  const BigInt p = big("7fffffffffffffffffffffffffffffff");
  EXPECT_EQ(modPow(2, p.sub(1), p), BigInt(1));
  EXPECT_EQ(modPow(3, p.sub(1), p), BigInt(1));
}

TEST(BigIntModular, BarrettBranches) {
  const BigInt m = big("f123456789abcdef01");  // k = 3 limbs
  const BigInt mu = BigInt(1).shiftLeft(64 * 3).div(m);
  const BigInt small = BigInt(12345);
  EXPECT_EQ(barrettReduce(small, m, mu), small);                // already reduced
  const BigInt wide = BigInt(1).shiftLeft(64 * 3 + 5).add(99);  // more than 64k bits
  EXPECT_EQ(barrettReduce(wide, m, mu), wide.mod(m));
  const BigInt square = m.sub(1).mul(m.sub(1));  // largest product
  EXPECT_EQ(barrettReduce(square, m, mu), square.mod(m));
  EXPECT_EQ(barrettReduce(m, m, mu), BigInt());  // exactly m
  EXPECT_EQ(barrettReduce(m.mul(7).add(3), m, mu), BigInt(3));
  EXPECT_EQ(barrettReduce(1000, 7, BigInt(1).shiftLeft(64).div(7)), BigInt(6));  // one-limb modulus
  // A wrong mu gives a wrong value but still ends quickly with one below m.
  EXPECT_LT(barrettReduce(square, m, BigInt(1)).compareMagnitude(m), 0);
  EXPECT_TRUE(barrettReduce(5, BigInt(), BigInt()).isZero());
}

TEST(BigIntModular, ModInverse) {
  EXPECT_EQ(modInverse(3, 11), BigInt(4));
  EXPECT_EQ(modInverse(10, 17), BigInt(12));
  EXPECT_EQ(modInverse(14, 11), BigInt(4));  // a larger than m
  EXPECT_EQ(modInverse(2, 9), BigInt(5));    // even a, odd m
  EXPECT_EQ(modInverse(9, 16), BigInt(9));   // odd a, even m
  EXPECT_TRUE(modInverse(6, 9).isZero());    // not coprime
  EXPECT_TRUE(modInverse(4, 8).isZero());
  EXPECT_TRUE(modInverse(0, 7).isZero());
  EXPECT_TRUE(modInverse(3, 0).isZero());
  EXPECT_TRUE(modInverse(3, 1).isZero());
  const BigInt p = big("7fffffffffffffffffffffffffffffff");
  const BigInt a = big("0123456789abcdef0123456789");
  EXPECT_EQ(a.mul(modInverse(a, p)).mod(p), BigInt(1));
}

}  // namespace
}  // namespace qv
