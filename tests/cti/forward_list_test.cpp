// TSPI_lineForward's list in the 24-byte entry layout, and the forward list
// LINEADDRESSSTATUS gives back.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "provider/forward_list.h"
#include "session/forwarding.h"

namespace qv {
namespace {

struct Entry {
  DWORD mode;
  std::u16string to;
  DWORD callerSize = 0;
};

// A LINEFORWARDLIST as an application builds it: entries, then their texts.
std::vector<unsigned char> ListOf(const std::vector<Entry>& entries, DWORD declaredEntries = ~0u) {
  const std::size_t fixed = 8 + entries.size() * kForwardEntrySize;
  std::vector<unsigned char> b(fixed);
  auto put = [&](std::size_t at, DWORD v) { std::memcpy(b.data() + at, &v, 4); };
  put(4, declaredEntries == ~0u ? static_cast<DWORD>(entries.size()) : declaredEntries);
  for (std::size_t i = 0; i < entries.size(); ++i) {
    const std::size_t e = 8 + i * kForwardEntrySize;
    put(e, entries[i].mode);
    put(e + 4, entries[i].callerSize);
    if (entries[i].to.empty()) continue;
    put(e + 16, static_cast<DWORD>(2 * (entries[i].to.size() + 1)));
    put(e + 20, static_cast<DWORD>(b.size()));
    for (char16_t c : entries[i].to) {
      b.push_back(static_cast<unsigned char>(c));
      b.push_back(static_cast<unsigned char>(c >> 8));
    }
    b.push_back(0);
    b.push_back(0);
  }
  put(0, static_cast<DWORD>(b.size()));
  return b;
}

TEST(ForwardListTest, ListsBecomeTheWantedStateOrAreRefused) {
  constexpr LONG kBad = static_cast<LONG>(LINEERR_INVALPARAM);
  struct Case {
    const char* name;
    std::vector<Entry> entries;
    LONG error;
    std::array<bool, kForwardKinds> on;
    std::array<std::string, kForwardKinds> to;
    bool dnd;
  };
  const Case cases[] = {
      {"empty list cancels", {}, 0, {}, {}, false},
      {"unconditional",
       {{LINEFORWARDMODE_UNCOND, u"+49 (305)"}},
       0,
       {true, false, false},
       {"49305", "", ""},
       false},
      {"dnd is unconditional without destination", {{LINEFORWARDMODE_UNCOND, u""}}, 0, {}, {}, true},
      {"busy and no answer",
       {{LINEFORWARDMODE_BUSY, u"306"}, {LINEFORWARDMODE_NOANSW, u"307"}},
       0,
       {false, true, true},
       {"", "306", "307"},
       false},
      {"busy-or-no-answer sets both",
       {{LINEFORWARDMODE_BUSYNA, u"308"}},
       0,
       {false, true, true},
       {"", "308", "308"},
       false},
      {"dnd with forwarding",
       {{LINEFORWARDMODE_UNCOND, u""}, {LINEFORWARDMODE_BUSY, u"1"}},
       0,
       {false, true, false},
       {"", "1", ""},
       true},
      {"mode twice", {{LINEFORWARDMODE_BUSY, u"1"}, {LINEFORWARDMODE_BUSYNA, u"2"}}, kBad, {}, {}, false},
      {"unsupported mode", {{LINEFORWARDMODE_UNCONDINTERNAL, u"1"}}, kBad, {}, {}, false},
      {"busy without destination", {{LINEFORWARDMODE_BUSY, u""}}, kBad, {}, {}, false},
      {"caller-specific", {{LINEFORWARDMODE_UNCOND, u"1", 4}}, kBad, {}, {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::vector<unsigned char> b = ListOf(c.entries);
    ForwardRequest r = ParseForwardList(reinterpret_cast<const LINEFORWARDLIST*>(b.data()));
    EXPECT_EQ(r.error, c.error);
    if (c.error != 0) continue;
    EXPECT_EQ(r.target.on, c.on);
    EXPECT_EQ(r.target.to, c.to);
    EXPECT_EQ(r.target.dnd, c.dnd);
  }
  EXPECT_EQ(ParseForwardList(nullptr).error, 0) << "null cancels everything";
}

TEST(ForwardListTest, ListsThatDoNotFitTheirSizeAreRefused) {
  std::vector<unsigned char> b = ListOf({{LINEFORWARDMODE_UNCOND, u"305"}});
  std::vector<unsigned char> more = ListOf({{LINEFORWARDMODE_UNCOND, u"305"}}, 1000);
  EXPECT_EQ(ParseForwardList(reinterpret_cast<const LINEFORWARDLIST*>(more.data())).error,
            static_cast<LONG>(LINEERR_INVALPARAM));
  // The destination's offset points past the end.
  b[8 + 20] = 0xF0;
  EXPECT_EQ(ParseForwardList(reinterpret_cast<const LINEFORWARDLIST*>(b.data())).error,
            static_cast<LONG>(LINEERR_INVALPARAM));
  std::vector<unsigned char> tiny(8, 0);
  tiny[0] = 4;
  EXPECT_EQ(ParseForwardList(reinterpret_cast<const LINEFORWARDLIST*>(tiny.data())).error,
            static_cast<LONG>(LINEERR_STRUCTURETOOSMALL));
}

TEST(ForwardListTest, TheStateWritesBackInTheSameLayout) {
  ForwardState s;
  s.dnd = true;
  s.on[1] = true;
  s.to[1] = "306";
  std::vector<unsigned char> b(64 + ForwardListSize(s), 0xCC);
  ASSERT_EQ(ForwardListSize(s), 2 * kForwardEntrySize + 8);
  EXPECT_EQ(WriteForwardList(s, b.data(), 64), 2u);
  auto at = [&](std::size_t o) {
    return static_cast<DWORD>(b[o] | b[o + 1] << 8 | b[o + 2] << 16 | b[o + 3] << 24);
  };
  EXPECT_EQ(at(64), static_cast<DWORD>(LINEFORWARDMODE_UNCOND));
  EXPECT_EQ(at(64 + 16), 0u) << "dnd has no destination";
  EXPECT_EQ(at(88), static_cast<DWORD>(LINEFORWARDMODE_BUSY));
  EXPECT_EQ(at(88 + 16), 8u);
  EXPECT_EQ(at(88 + 20), 112u);
  EXPECT_EQ(b[112], '3');
  EXPECT_EQ(b[118], 0);
  // Read back as an application would hand it in again.
  std::vector<unsigned char> list(8 + b.size() - 64);
  std::memcpy(list.data() + 8, b.data() + 64, b.size() - 64);
  DWORD total = static_cast<DWORD>(list.size()), entries = 2;
  std::memcpy(list.data(), &total, 4);
  std::memcpy(list.data() + 4, &entries, 4);
  DWORD shifted = 112 - 64 + 8;
  std::memcpy(list.data() + 8 + 24 + 20, &shifted, 4);
  EXPECT_EQ(ParseForwardList(reinterpret_cast<const LINEFORWARDLIST*>(list.data())).target, s);
}

TEST(ForwardListTest, ForwardingReportsInTheirForms) {
  const std::string ns = " xmlns=\"http://www.ecma-international.org/standards/ecma-323/csta/ed5\"";
  auto report = [&](const std::string& xml) { return ParseForwardingReport(parseXml(xml, true)); };
  auto list = report("<GetForwardingResponse" + ns +
                     "><forwardingList><forwardListItem><forwardingType>forwardBusy</forwardingType>"
                     "<forwardStatus>true</forwardStatus><forwardDN>306</forwardDN></forwardListItem>"
                     "<forwardListItem><forwardingType>forwardDND</forwardingType><forwardStatus>true"
                     "</forwardStatus></forwardListItem></forwardingList></GetForwardingResponse>");
  ASSERT_TRUE(list);
  EXPECT_TRUE(list->completeList);
  ASSERT_EQ(list->settings.size(), 1u) << "unknown types are skipped";
  EXPECT_EQ(list->settings[0].kind, ForwardKind::kBusy);
  EXPECT_EQ(list->settings[0].destination, "306");
  auto event = report(
      "<csta:ForwardingEvent xmlns:csta=\"x\"><csta:forwardingType>forwardImmediate"
      "</csta:forwardingType><csta:forwardStatus>false</csta:forwardStatus></csta:ForwardingEvent>");
  ASSERT_TRUE(event);
  ASSERT_EQ(event->settings.size(), 1u);
  EXPECT_FALSE(event->settings[0].on);
  auto dnd = report("<DoNotDisturbEvent" + ns + "><doNotDisturbOn>true</doNotDisturbOn></DoNotDisturbEvent>");
  ASSERT_TRUE(dnd && dnd->dnd);
  EXPECT_TRUE(*dnd->dnd);
  auto bad =
      report("<DoNotDisturbEvent" + ns + "><doNotDisturbOn>maybe</doNotDisturbOn></DoNotDisturbEvent>");
  ASSERT_TRUE(bad);
  EXPECT_FALSE(bad->dnd);
  EXPECT_FALSE(report("<MakeCallResponse" + ns + "/>"));
  const std::string set = SetForwardingXml("201@office", ForwardKind::kNoAnswer, true, "<3>");
  XmlNode root = parseXml(set, true);
  EXPECT_EQ(findText(root, "forwardingType"), "forwardNoAns");
  EXPECT_EQ(findText(root, "forwardDN"), "<3>");
  EXPECT_EQ(findText(parseXml(SetDoNotDisturbXml("201", false), true), "doNotDisturbOn"), "false");
}

}  // namespace
}  // namespace qv
