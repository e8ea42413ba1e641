// Separate connections on separate threads share only the process-wide
// session cache, own identity and trust roots.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>
#include <vector>

#include "tests/tls/tls_test_util.h"
#include "tls/certificate.h"
#include "tls/session_cache.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

TEST(TlsConcurrency, ConnectionsOnThreadsShareCacheAndIdentity) {
  test::loadServerIdentity();
  ClearSessionCache();
  std::atomic<int> completed{0};
  std::atomic<bool> stop{false};
  // Reloads the identity and touches the trust roots while handshakes run.
  std::thread reloader([&] {
    const Certificate root = ParseCertificateChain({test::derOf(test::kCaHex)}, " ", test::testLog());
    while (!stop) {
      test::loadServerIdentity();
      AddTrustRoot(root);
      ClearTrustRoots();
      std::this_thread::yield();
    }
  });
  std::vector<std::thread> workers;
  for (int w = 0; w < 3; ++w) {
    workers.emplace_back([&] {
      for (int k = 0; k < 4; ++k) {
        TlsConnection client(test::testLog());
        client.SetVerifyCertificates(false);
        for (int round = 0; round < 2; ++round) {
          if (round == 1) client.PrepareResumption();
          client.StartClient();
          TlsConnection server(test::testLog());
          server.StartServer(true);
          const test::PumpResult result = test::pump(client, server, "ping", "pong");
          if (result.serverReceived == "ping" && result.clientReceived == "pong") ++completed;
        }
      }
    });
  }
  for (std::thread& worker : workers) worker.join();
  stop = true;
  reloader.join();
  EXPECT_EQ(completed.load(), 3 * 4 * 2);
  EXPECT_GE(CachedSessionCount(), 1u);
  ClearSessionCache();
  ClearOwnIdentity();
}

}  // namespace
}  // namespace qv
