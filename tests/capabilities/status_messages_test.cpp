// The status messages TAPI asks for are logged in table order, never stored.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/capability_answers.h"

namespace qv {
namespace {

std::vector<std::string> texts(DWORD lineStates, DWORD addressStates) {
  std::vector<std::string> out;
  for (std::string_view t : StatusMessageTexts(lineStates, addressStates)) out.emplace_back(t);
  return out;
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
