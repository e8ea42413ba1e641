#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "crypto/limbs.h"

namespace qv::limbs {
namespace {

// Deterministic limbs with runs of 0 and FFFFFFFF, where carries go wrong.
LimbVector randomLimbs(std::size_t n, std::uint64_t& state) {
  LimbVector v(n);
  for (auto& x : v) {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    const unsigned kind = static_cast<unsigned>(state >> 60);
    x = kind < 2 ? 0 : kind < 4 ? 0xFFFFFFFFu : static_cast<Limb>(state >> 20);
  }
  return v;
}

// The products over 64-bit words (where available) and over single limbs
// must agree, for even and odd limb counts alike.
TEST(LimbKernels, WordAndLimbProductsAgree) {
  std::uint64_t state = 7;
  std::vector<std::uint64_t> cells;
  for (std::size_t na : {1u, 2u, 3u, 7u, 16u, 33u, 64u}) {
    for (std::size_t nb : {1u, 2u, 5u, 32u, 33u, 65u}) {
      SCOPED_TRACE(testing::Message() << na << "x" << nb);
      const LimbVector a = randomLimbs(na, state), b = randomLimbs(nb, state);
      LimbVector p(na + nb), q(na + nb);
      multiply(a.data(), na, b.data(), nb, p.data(), cells);
      narrow::multiply(a.data(), na, b.data(), nb, q.data());
      ASSERT_EQ(p, q);

      LimbVector sq(2 * na), sq2(2 * na), aa(2 * na);
      square(a.data(), na, sq.data(), cells);
      narrow::square(a.data(), na, sq2.data());
      narrow::multiply(a.data(), na, a.data(), na, aa.data());
      ASSERT_EQ(sq, aa);
      ASSERT_EQ(sq2, aa);

      for (std::size_t nOut : {std::size_t{1}, nb, na + 1, na + nb}) {
        LimbVector low(nOut), low2(nOut);
        multiplyLow(a.data(), na, b.data(), nb, low.data(), nOut, cells);
        narrow::multiplyLow(a.data(), na, b.data(), nb, low2.data(), nOut);
        ASSERT_EQ(low,
                  LimbVector(p.begin(), p.begin() + static_cast<std::ptrdiff_t>(std::min(nOut, p.size()))));
        ASSERT_EQ(low2, low);
      }

      // The partial high product is the exact one or one less.
      for (std::size_t from : {std::size_t{1}, std::size_t{2}, nb, na + nb - 1}) {
        if (from >= na + nb) continue;
        const std::size_t n = na + nb - from;
        LimbVector high(n), high2(n);
        multiplyHigh(a.data(), na, b.data(), nb, high.data(), from, cells);
        narrow::multiplyHigh(a.data(), na, b.data(), nb, high2.data(), from);
        const LimbVector exact(p.begin() + static_cast<std::ptrdiff_t>(from), p.end());
        for (const LimbVector* h : {&high, &high2}) {
          LimbVector plusOne(n + 1, 0);
          add(h->data(), n, LimbVector{1}.data(), 1, plusOne.data());
          ASSERT_TRUE(*h == exact || compare(plusOne.data(), n + 1, exact.data(), n) == 0) << "from " << from;
        }
      }
    }
  }
}

TEST(LimbKernels, SubtractBorrowsAcrossBothHalves) {
  for (std::size_t n : {2u, 15u, 16u, 17u, 40u, 65u}) {
    SCOPED_TRACE(n);
    // b^(n-1) - 1: the borrow runs through every limb, across the split.
    LimbVector a(n, 0);
    a[n - 1] = 1;
    const LimbVector one{1};
    subtractInPlace(a.data(), n, one.data(), 1);
    LimbVector expected(n, 0xFFFFFFFFu);
    expected[n - 1] = 0;
    EXPECT_EQ(a, expected);
    // Full-length operands where only the lower half borrows.
    LimbVector x(n, 0), y(n, 0);
    x[n - 1] = 5;
    y[0] = 1;
    subtractInPlace(x.data(), n, y.data(), n);
    LimbVector want(n, 0xFFFFFFFFu);
    want[n - 1] = 4;
    EXPECT_EQ(x, want);
    // Equal operands give zero.
    const LimbVector r = expected;
    LimbVector z = r;
    subtractInPlace(z.data(), n, r.data(), n);
    EXPECT_EQ(z, LimbVector(n, 0));
  }
}

}  // namespace
}  // namespace qv::limbs
