// Parses share nothing but constants, so threads never see each other's trees.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "xml/xml_node.h"

namespace qv {
namespace {

TEST(XmlConcurrencyTest, ParallelParsesDoNotInterfere) {
  std::vector<std::thread> threads;
  std::vector<int> ok(4, 0);
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([t, &ok] {
      const std::string id = std::to_string(t);
      int good = 0;
      for (int i = 0; i < 2000; ++i) {
        XmlNode root = parseXml("<r><s><id>" + id + "</id></s><x a='&amp;'/></r>", true);
        good += findText(root, "s/id") == id ? 1 : 0;
      }
      ok[static_cast<std::size_t>(t)] = good;
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int good : ok) EXPECT_EQ(good, 2000);
}

}  // namespace
}  // namespace qv
