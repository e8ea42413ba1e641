#include "session/line_list.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/session/session_test_env.h"

namespace qv {
namespace {

// "ext" or "ext=name" per line, in order.
std::vector<std::string> Listed(const std::string& text) {
  std::vector<std::string> out;
  for (const LineEntry& e : ParseLineList(text))
    out.push_back(e.name.empty() ? e.extension : e.extension + "=" + e.name);
  return out;
}

TEST(LineList, ReadsNumbersNamesAndRanges) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
  };
  const Case cases[] = {
      {"", {}},
      {" ;, ;", {}},
      {"202", {"202"}},
      {"202=Reception", {"202=Reception"}},
      {" 202 = Front desk, 2 ;203", {"202=Front desk", "2", "203"}},
      {"300-303", {"300", "301", "302", "303"}},
      {" 0098 - 0101 ", {"0098", "0099", "0100", "0101"}},
      {"7-7", {"7"}},
      {"202=Reception;300-302,204", {"202=Reception", "300", "301", "302", "204"}},
      // The order given is the order of the lines.
      {"9;1;5", {"9", "1", "5"}},
      // A name runs to the next separator and may hold '=' and '-'.
      {"202=Sales-East=2;203", {"202=Sales-East=2", "203"}},
      {"202=", {"202"}},
  };
  for (const Case& c : cases) EXPECT_EQ(Listed(c.text), c.lines) << c.text;
}

TEST(LineList, SkipsWhatItCannotReadNamingIt) {
  struct Case {
    const char* text;
    std::vector<std::string> lines;
    const char* logged;
  };
  const Case cases[] = {
      {"abc;202", {"202"}, "lines: cannot read entry \"abc\", skipped"},
      {"20 2;203", {"203"}, "lines: cannot read entry \"20 2\", skipped"},
      {"300-3000;1", {"1"}, "lines: cannot read entry \"300-3000\", skipped"},
      {"310-300", {}, "lines: cannot read entry \"310-300\", skipped"},
      {"300-", {}, "lines: cannot read entry \"300-\", skipped"},
      {"=Reception", {}, "lines: cannot read entry \"=Reception\", skipped"},
      {"+49 202", {}, "lines: cannot read entry \"+49 202\", skipped"},
      {"300-302=Sales", {}, "lines: cannot read entry \"300-302=Sales\", skipped"},
      {"123456789012345678901234567890123", {}, "cannot read entry \"123456789012345678901234567890123\""},
  };
  for (const Case& c : cases) {
    const std::size_t mark = test::LogMark();
    EXPECT_EQ(Listed(c.text), c.lines) << c.text;
    const std::string log = test::LogSince(mark);
    EXPECT_NE(log.find(c.logged), std::string::npos) << c.text << "\n" << log;
  }
}

TEST(LineList, KeepsTheFirstOfARepeatedExtension) {
  const std::size_t mark = test::LogMark();
  EXPECT_EQ(Listed("301=First;300-302;301=Again"), (std::vector<std::string>{"301=First", "300", "302"}));
  const std::string log = test::LogSince(mark);
  EXPECT_NE(log.find("lines: extension 301 is listed more than once, repeat skipped"), std::string::npos)
      << log;
  // Leading zeros make a different extension.
  EXPECT_EQ(Listed("0301;301"), (std::vector<std::string>{"0301", "301"}));
}

TEST(LineList, StopsAtTenThousandLines) {
  const std::size_t mark = test::LogMark();
  const std::vector<LineEntry> lines = ParseLineList("5;00000-99999;77");
  ASSERT_EQ(lines.size(), kMaxLines);
  EXPECT_EQ(lines.front().extension, "5");
  EXPECT_EQ(lines.back().extension, "09998");
  EXPECT_NE(
      test::LogSince(mark).find("lines: more than 10000 extensions or repeats, 09999 and all after it are "
                                "skipped"),
      std::string::npos);
  // The widest range costs no more than the limit.
  EXPECT_EQ(ParseLineList("000000000000000000-999999999999999999").size(), kMaxLines);
  // Ranges that only repeat each other stop too.
  std::string repeats;
  for (int i = 0; i < 10; ++i) repeats += "0000-9998;";
  EXPECT_EQ(ParseLineList(repeats).size(), 9999u);
}

TEST(LineList, DisplayName) {
  EXPECT_EQ(LineDisplayName({"202", "Reception"}), "Reception (202)");
  EXPECT_EQ(LineDisplayName({"202", ""}), "202");
}

}  // namespace
}  // namespace qv
