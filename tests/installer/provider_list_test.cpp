// The provider list's byte layout, the growing fetch and the registry form.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

#include "installer/fetch_provider_list.h"
#include "installer/provider_list_format.h"
#include "platform/provider_registry_values.h"

namespace qv {
namespace {

using Providers = std::vector<std::pair<std::uint32_t, std::string>>;

struct ListBuffer {
  std::vector<std::uint32_t> words;
  explicit ListBuffer(std::uint32_t total) : words((total + 3) / 4 + 4, 0xCCCCCCCCu) { put(0, total); }
  unsigned char* bytes() { return reinterpret_cast<unsigned char*>(words.data()); }
  std::uint32_t at(std::size_t offset) { return loadUInt32(bytes() + offset); }
  void put(std::size_t offset, std::uint32_t value) { storeUInt32(bytes() + offset, value); }
};

const Providers kTwo = {{3, "modem.tsp"}, {7, "quorvelone.tsp"}};
// 24 + 2 * 12 + names with NUL.
constexpr std::uint32_t kTwoNarrow = 24 + 24 + 10 + 15;
constexpr std::uint32_t kTwoWide = 24 + 24 + 2 * (10 + 15);

TEST(ProviderListFormatTest, WritesTheLayoutTapiPublishes) {
  ListBuffer list(256);
  ASSERT_EQ(WriteProviderList(list.bytes(), kTwo, true), 0);
  EXPECT_EQ(list.at(0), 256u);
  EXPECT_EQ(list.at(4), kTwoWide);
  EXPECT_EQ(list.at(8), kTwoWide);
  EXPECT_EQ(list.at(12), 2u);
  EXPECT_EQ(list.at(16), 24u);
  EXPECT_EQ(list.at(20), 24u);
  EXPECT_EQ(list.at(24), 3u);
  EXPECT_EQ(list.at(28), 20u);
  EXPECT_EQ(list.at(32), 48u);
  EXPECT_EQ(list.at(36), 7u);
  EXPECT_EQ(list.at(40), 30u);
  EXPECT_EQ(list.at(44), 68u);
  EXPECT_EQ(list.bytes()[48], 'm');
  EXPECT_EQ(list.bytes()[49], 0);
  EXPECT_EQ(list.bytes()[kTwoWide], 0xCC);
}

TEST(ProviderListFormatTest, RoundTripsNarrowAndWide) {
  for (bool wide : {false, true}) {
    SCOPED_TRACE(wide);
    ListBuffer list(256);
    ASSERT_EQ(WriteProviderList(list.bytes(), kTwo, wide), 0);
    EXPECT_EQ(list.at(4), wide ? kTwoWide : kTwoNarrow);
    auto entries = ReadProviderList(list.bytes(), 256, wide);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].permanentProviderId, 3u);
    EXPECT_EQ(entries[1].permanentProviderId, 7u);
    if (wide) {
      EXPECT_EQ(entries[1].wideName, u"quorvelone.tsp");
    } else {
      EXPECT_EQ(entries[1].narrowName, "quorvelone.tsp");
    }
  }
}

TEST(ProviderListFormatTest, ShortBuffersGetOnlyTheNeededSize) {
  {
    SCOPED_TRACE("below the fixed part");
    ListBuffer list(23);
    EXPECT_EQ(WriteProviderList(list.bytes(), kTwo, false), kLineErrStructureTooSmall);
    EXPECT_EQ(list.at(4), 0xCCCCCCCCu);
  }
  for (std::uint32_t total : {24u, kTwoNarrow - 1}) {
    SCOPED_TRACE(total);
    ListBuffer list(total);
    EXPECT_EQ(WriteProviderList(list.bytes(), kTwo, false), 0);
    EXPECT_EQ(list.at(4), kTwoNarrow);
    EXPECT_EQ(list.at(8), 24u);
    EXPECT_EQ(list.at(12), 0u);
    EXPECT_EQ(list.bytes()[24], 0xCC);
    EXPECT_TRUE(ReadProviderList(list.bytes(), total, false).empty());
  }
  {
    SCOPED_TRACE("empty list");
    ListBuffer list(24);
    EXPECT_EQ(WriteProviderList(list.bytes(), {}, true), 0);
    EXPECT_EQ(list.at(4), 24u);
    EXPECT_EQ(list.at(12), 0u);
  }
}

TEST(ProviderListFormatTest, ReadingADamagedListStaysInsideTheBuffer) {
  ListBuffer list(64);
  ASSERT_EQ(WriteProviderList(list.bytes(), {{1, "a.tsp"}}, false), 0);
  {
    SCOPED_TRACE("count beyond the entries present");
    list.put(12, 0xFFFFFFFF);
    EXPECT_EQ(ReadProviderList(list.bytes(), 64, false).size(), 1u);
  }
  {
    SCOPED_TRACE("name past the end is left empty");
    list.put(12, 1);
    list.put(32, 0xFFFFFFF0);
    auto entries = ReadProviderList(list.bytes(), 64, false);
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_TRUE(entries[0].narrowName.empty());
  }
  {
    SCOPED_TRACE("entries past dwTotalSize");
    list.put(20, 60);
    EXPECT_TRUE(ReadProviderList(list.bytes(), 64, false).empty());
  }
  EXPECT_TRUE(ReadProviderList(list.bytes(), 10, false).empty());
}

// A list function that answers like Windows or like older TAPI, counting calls.
struct FakeTapi {
  bool refuseShortBuffers = false;
  std::int32_t failWith = 0;
  std::uint32_t claimNeeded = 0;  // 0: the real size
  int calls = 0;
  std::int32_t operator()(std::uint32_t version, void* list) {
    EXPECT_EQ(version, 0x00020002u);
    ++calls;
    if (failWith != 0) return failWith;
    auto* bytes = static_cast<unsigned char*>(list);
    if (claimNeeded != 0) {
      storeUInt32(bytes + 4, claimNeeded);
      return kLineErrStructureTooSmall;
    }
    if (refuseShortBuffers && loadUInt32(bytes) < kTwoNarrow) {
      storeUInt32(bytes + 4, kTwoNarrow);
      return kLineErrStructureTooSmall;
    }
    return WriteProviderList(bytes, kTwo, false);
  }
};

TEST(FetchProviderListTest, GrowsOnceToTheNeededSize) {
  for (bool refuse : {false, true}) {
    SCOPED_TRACE(refuse ? "LINEERR_STRUCTURETOOSMALL" : "larger dwNeededSize");
    FakeTapi tapi;
    tapi.refuseShortBuffers = refuse;
    FetchedProviderList fetched = FetchProviderList(std::ref(tapi));
    EXPECT_EQ(fetched.result, 0);
    EXPECT_EQ(tapi.calls, 2);
    EXPECT_EQ(loadUInt32(fetched.bytes()), kTwoNarrow);
    auto entries = ReadProviderList(fetched.bytes(), fetched.size(), false);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[1].narrowName, "quorvelone.tsp");
  }
}

TEST(FetchProviderListTest, StopsOnErrorsAndOnAnswersThatWouldRepeatForEver) {
  struct Case {
    const char* name;
    std::int32_t failWith;
    std::uint32_t claimNeeded;
    std::int32_t expected;
    int calls;
  };
  const Case cases[] = {
      {"other error", kLineErrOperationFailed, 0, kLineErrOperationFailed, 1},
      {"too small but needs no more", 0, 24, kLineErrStructureTooSmall, 1},
      {"too small and needs less than the fixed part", 0, 4, kLineErrStructureTooSmall, 1},
      {"needs more than any list can", 0, 0xFFFFFFF0u, kLineErrNoMem, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakeTapi tapi;
    tapi.failWith = c.failWith;
    tapi.claimNeeded = c.claimNeeded;
    EXPECT_EQ(FetchProviderList(std::ref(tapi)).result, c.expected);
    EXPECT_EQ(tapi.calls, c.calls);
  }
}

TEST(ProviderRegistryValuesTest, ListFromValues) {
  std::map<std::string, std::uint32_t> numbers = {
      {"NumProviders", 3}, {"NextProviderID", 2}, {"ProviderID0", 4}, {"ProviderID2", 9}};
  std::map<std::string, std::string> texts = {
      {"ProviderFileName0", "unimdm.tsp"}, {"ProviderFileName1", "lost.tsp"}, {"ProviderFileName2", "q.tsp"}};
  ProviderRegistry registry = ProviderRegistryFromValues(
      [&](const std::string& n) -> std::optional<std::uint32_t> {
        auto it = numbers.find(n);
        if (it == numbers.end()) return std::nullopt;
        return it->second;
      },
      [&](const std::string& n) -> std::optional<std::string> {
        auto it = texts.find(n);
        if (it == texts.end()) return std::nullopt;
        return it->second;
      });
  // The entry without an ID is skipped; the next ID never repeats one in use.
  ASSERT_EQ(registry.providers.size(), 2u);
  EXPECT_EQ(registry.providers[1].fileName, "q.tsp");
  EXPECT_EQ(registry.nextProviderId, 10u);

  auto values = ProviderRegistryToValues(registry);
  ASSERT_EQ(values.size(), 6u);
  EXPECT_EQ(values[0].name, "NumProviders");
  EXPECT_EQ(values[0].number, 2u);
  EXPECT_EQ(values[5].name, "ProviderFileName1");
  EXPECT_EQ(values[5].text, "q.tsp");
}

}  // namespace
}  // namespace qv
