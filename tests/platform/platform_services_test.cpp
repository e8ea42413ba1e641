// Ticks, the module's own path and the library loader.
#include <gtest/gtest.h>

#include <string>

#include "platform/dynamic_library.h"
#include "platform/module.h"
#include "platform/tapi.h"
#include "platform/ticks.h"

namespace qv {
namespace {

std::string narrowed(const WCHAR* text) {
  std::string out;
  for (; *text != 0; ++text) out += static_cast<char>(*text);
  return out;
}

TEST(Ticks, MonotonicAndThe32BitCounterIsTheLowHalf) {
  std::uint64_t first = tickCount64();
  std::uint32_t low = tickCount32();
  std::uint64_t second = tickCount64();
  EXPECT_LE(first, second);
  // Wrap-safe: the 32-bit counter lies between the two 64-bit readings.
  EXPECT_LE(static_cast<std::uint32_t>(low - static_cast<std::uint32_t>(first)),
            static_cast<std::uint32_t>(second - first) + 20u);
}

TEST(ModulePath, FullPathAndTruncationLikeGetModuleFileName) {
  HINSTANCE self = ownModuleHandle();
  ASSERT_NE(self, nullptr);
  WCHAR full[260];
  writeModuleFileName(self, full, 260);
  std::string path = narrowed(full);
  EXPECT_NE(path.find("platform_services_test"), std::string::npos) << path;
  EXPECT_TRUE(path[0] == '/' || path[1] == ':') << path;  // absolute

  WCHAR small[6];
  for (auto& c : small) c = 0x55;
  writeModuleFileName(self, small, 5);
  EXPECT_EQ(small[4], 0);  // cut to capacity, terminated
  EXPECT_EQ(narrowed(small), path.substr(0, 4));
  EXPECT_EQ(small[5], 0x55);  // nothing written beyond capacity
}

TEST(DynamicLibrary, MissingFileIsAnErrorNotACrash) {
  DynamicLibrary library;
  std::string error;
  EXPECT_FALSE(library.open("/nonexistent/quorvelone-none.tsp", error));
  EXPECT_FALSE(error.empty());
  EXPECT_FALSE(library.isOpen());
  EXPECT_EQ(library.symbol("TSPI_lineOpen"), nullptr);
}

}  // namespace
}  // namespace qv
