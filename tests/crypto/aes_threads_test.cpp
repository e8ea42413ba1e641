#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "crypto/aes.h"
#include "crypto/aes_tables.h"

namespace qv {
namespace {

// The very first contexts of the process (and the first CPU feature
// detection) and the first use of the reference tables happen on several
// threads at once; every one of them must see complete, identical results.
TEST(AesTablesThreads, FirstConstructionRaceBuildsOnce) {
  ASSERT_FALSE(aesTablesBuilt());
  constexpr int kThreads = 8;
  std::atomic<int> ready{0};
  std::vector<Bytes> results(kThreads);
  std::vector<const AesTables*> tables(kThreads);
  std::vector<std::thread> threads;
  for (int n = 0; n < kThreads; ++n) {
    threads.emplace_back([&, n] {
      ready.fetch_add(1);
      while (ready.load() < kThreads) std::this_thread::yield();
      AesContext c;
      c.setEncryptKey(Bytes(16, '\x01'), Bytes(16, '\x02'));
      results[static_cast<std::size_t>(n)] = c.encryptCbc(Bytes(64, '\x03'));
      tables[static_cast<std::size_t>(n)] = &aesTables();
    });
  }
  for (auto& t : threads) t.join();
  const AesTables* first = &aesTables();
  for (const AesTables* t : tables) EXPECT_EQ(t, first);
  EXPECT_EQ(first->sbox[0x53], 0xED);
  for (const auto& r : results) {
    ASSERT_EQ(r.size(), 64u);
    EXPECT_EQ(r, results[0]);
  }
}

}  // namespace
}  // namespace qv
