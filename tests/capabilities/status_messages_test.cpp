// The status messages TAPI asks for are logged in table order, never stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/capability_answers.h"

namespace qv {
namespace {

const std::vector<std::string> kLineTexts = {
    "BATTERY",        "CAPSCHANGE", "CLOSE",     "CONFIGCHANGE",   "COMPLCANCEL", "CONNECTED", "DEVSPECIFIC",
    "DISCONNECTED",   "INSERVICE",  "LOCK",      "MAINTENANCE",    "MSGWAITOFF",  "MSGWAITON", "NUMCALLS",
    "NUMCOMPLETIONS", "OPEN",       "OTHER",     "OUTOFSERVICE",   "REINIT",      "REMOVED",   "RINGING",
    "ROAMMODE",       "SIGNAL",     "TERMINALS", "TRANSLATECHANGE"};
const std::vector<std::string> kAddressTexts = {"CAPSCHANGE", "DEVSPECIFIC", "FORWARD",
                                                "INUSEMANY",  "INUSEONE",    "INUSEZERO",
                                                "NUMCALLS",   "OTHER",       "TERMINALS"};

std::vector<std::string> texts(DWORD lineStates, DWORD addressStates) {
  std::vector<std::string> out;
  for (std::string_view t : StatusMessageTexts(lineStates, addressStates)) out.emplace_back(t);
  return out;
}

std::vector<std::string> prefixed(const char* prefix, const std::vector<std::string>& names) {
  std::vector<std::string> out;
  for (const auto& n : names) out.push_back(std::string("SetStatusMessages: ") + prefix + n);
  return out;
}

TEST(StatusMessagesTest, AllBitsGiveEveryRowInTableOrder) {
  EXPECT_EQ(texts(0xFFFFFFFF, 0), prefixed("LINEDEVSTATE_", kLineTexts));
  EXPECT_EQ(texts(0, 0xFFFFFFFF), prefixed("LINEADDRESSSTATE_", kAddressTexts));
  auto both = prefixed("LINEDEVSTATE_", kLineTexts);
  for (auto& t : prefixed("LINEADDRESSSTATE_", kAddressTexts)) both.push_back(t);
  EXPECT_EQ(texts(0xFFFFFFFF, 0xFFFFFFFF), both);
}

TEST(StatusMessagesTest, SingleBitsAndUnknownBits) {
  EXPECT_TRUE(texts(0, 0).empty());
  // Bits outside the tables are ignored.
  EXPECT_TRUE(texts(0xFE000000, 0xFFFFFE00).empty());
  EXPECT_EQ(texts(0x8000, 0), std::vector<std::string>{"SetStatusMessages: LINEDEVSTATE_BATTERY"});
  EXPECT_EQ(texts(0x400000, 0), std::vector<std::string>{"SetStatusMessages: LINEDEVSTATE_TRANSLATECHANGE"});
  EXPECT_EQ(texts(0x1, 0x1), (std::vector<std::string>{"SetStatusMessages: LINEDEVSTATE_OTHER",
                                                       "SetStatusMessages: LINEADDRESSSTATE_OTHER"}));
  // Lower bit values do not come first: the table decides the order.
  EXPECT_EQ(texts(0x2 | 0x8000, 0), (std::vector<std::string>{"SetStatusMessages: LINEDEVSTATE_BATTERY",
                                                              "SetStatusMessages: LINEDEVSTATE_RINGING"}));
  EXPECT_EQ(TSPI_lineSetStatusMessages(nullptr, 0xFFFFFFFF, 0xFFFFFFFF), 0);
}

}  // namespace
}  // namespace qv
