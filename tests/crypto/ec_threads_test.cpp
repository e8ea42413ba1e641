#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/digest.h"
#include "crypto/ec.h"
#include "crypto/ecdsa.h"

namespace qv {
namespace {

// The tables of multiples of G are built on first use: the process's first
// key pairs, signatures and verifications run on several threads at once,
// and all must agree with one another.
TEST(EcThreads, FirstUseOfTheBaseTablesRace) {
  constexpr int kThreads = 6;
  std::atomic<int> ready{0};
  struct Result {
    Bytes p256, p384, signature;
    bool verified = false;
  };
  std::vector<Result> results(kThreads);
  const Bytes digest = digestOf(HashAlgorithm::kSha256, "threads");
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      Result& r = results[static_cast<std::size_t>(n)];
      // Half the threads reach the tables through verification first.
      const Bytes key256(32, '\x11');
      const Bytes pub256 = ecPublicKey(EcCurve::kP256, key256);
      if (n % 2 == 0) {
        r.p384 = ecPublicKey(EcCurve::kP384, Bytes(48, '\x22'));
        r.signature = ecdsaSignDer(EcCurve::kP256, key256, HashAlgorithm::kSha256, digest);
      } else {
        r.signature = ecdsaSignDer(EcCurve::kP256, key256, HashAlgorithm::kSha256, digest);
        r.p384 = ecPublicKey(EcCurve::kP384, Bytes(48, '\x22'));
      }
      r.verified = ecdsaVerifyDer(EcCurve::kP256, pub256, digest, r.signature);
      r.p256 = pub256;
    });
  }
  for (auto& t : threads) t.join();
  for (const Result& r : results) {
    EXPECT_TRUE(r.verified);
    EXPECT_EQ(r.p256, results[0].p256);
    EXPECT_EQ(r.p384, results[0].p384);
    EXPECT_EQ(r.signature, results[0].signature);
    EXPECT_TRUE(ecPointIsValid(EcCurve::kP384, r.p384));
  }
}

}  // namespace
}  // namespace qv
