#include "session/log.h"

#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/session/settings_test_env.h"

namespace qv {
namespace {

using testing_support::diskLineEnd;
using testing_support::fakeTicks;

class LogTest : public ::testing::Test, public testing_support::FoundationTest {};

std::vector<std::string> splitLines(const std::string& text) {
  std::vector<std::string> lines;
  std::string end = diskLineEnd();
  std::size_t start = 0;
  for (std::size_t pos; (pos = text.find(end, start)) != std::string::npos; start = pos + end.size())
    lines.push_back(text.substr(start, pos - start));
  if (start < text.size()) lines.push_back(text.substr(start) + "<unterminated>");
  return lines;
}

TEST_F(LogTest, TimeStampCountsFromFirstCallAndPadsFields) {
  struct Case {
    std::uint64_t elapsed;
    const char* prefix;
  };
  const Case cases[] = {
      {0, "[0:00:00:000]:5 "},
      {83 * 60000 + 4070, "[1:23:04:070]:5 "},
      {90061001, "[25:01:01:001]:5 "},  // hours are not reduced modulo 24
      {999, "[0:00:00:999]:5 "},
  };
  enableLog(5);
  writeLog(9, "suppressed first call still starts the clock");
  for (const auto& c : cases) {
    fakeTicks = 1000 + c.elapsed;
    writeLog(5, "TSPI_lineOpen");
  }
  auto lines = splitLines(logText());
  ASSERT_EQ(lines.size(), std::size(cases));
  for (std::size_t i = 0; i < lines.size(); ++i)
    EXPECT_EQ(lines[i], std::string(cases[i].prefix) + "TSPI_lineOpen");
}

TEST_F(LogTest, LevelFilter) {
  struct Case {
    int loglevel;
    int level;
    bool written;
  };
  const Case cases[] = {{0, 0, true},  {0, 1, false}, {5, 5, true},  {5, 6, false},
                        {4, 5, false}, {9, 9, true},  {0, -1, true}, {-1, 0, false}};
  int n = 0;
  for (const auto& c : cases) {
    resetLogForTesting();
    enableLog(c.loglevel);
    std::string message = "message " + std::to_string(++n) + ";";
    writeLog(c.level, message);
    bool found = logText().find(message) != std::string::npos;
    EXPECT_EQ(found, c.written) << "loglevel " << c.loglevel << " level " << c.level;
  }
}

TEST_F(LogTest, LoglengthCountsEntriesNotLines) {
  enableLog(5, 3);
  writeLog(5, "CSTA Tx: <a>\r\n<b/>\r\n</a>");  // one entry spanning three lines
  writeLog(5, "second");
  writeLog(6, "filtered out, not counted");
  writeLog(5, "third");
  for (int i = 0; i < 10; ++i) writeLog(5, "dropped");
  std::string text = logText();
  const std::string end = diskLineEnd();  // the stream translates line ends inside messages too
  EXPECT_NE(text.find("]:5 CSTA Tx: <a>" + end + "<b/>" + end + "</a>" + end), std::string::npos);
  EXPECT_NE(text.find("second"), std::string::npos);
  EXPECT_NE(text.find("third"), std::string::npos);
  EXPECT_EQ(text.find("dropped"), std::string::npos);
  EXPECT_EQ(text.find("filtered"), std::string::npos);
}

TEST_F(LogTest, RotationKeepsTheNewestEntriesInBoundedFiles) {
  auto path = enableLog(5, 2);
  ProviderSettings s = SettingsSnapshot();
  s.logrotate = 2;
  ReplaceSettings(s);
  const std::string base = path.string();
  for (int i = 1; i <= 9; ++i) writeLog(5, "entry " + std::to_string(i));
  // 9 entries, 2 a file: .2 holds 5-6, .1 holds 7-8, the log 9; 1-4 are gone.
  std::string current = logText();
  std::string first = testing_support::readFile(base + ".1");
  std::string second = testing_support::readFile(base + ".2");
  EXPECT_NE(current.find("entry 9"), std::string::npos) << current;
  EXPECT_EQ(current.find("entry 8"), std::string::npos);
  EXPECT_NE(first.find("entry 7"), std::string::npos);
  EXPECT_NE(first.find("entry 8"), std::string::npos);
  EXPECT_NE(second.find("entry 5"), std::string::npos);
  EXPECT_NE(second.find("entry 6"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(base + ".3")) << "no more than logrotate files are kept";
  for (const std::string& text : {current, first, second}) EXPECT_EQ(text.find("entry 4"), std::string::npos);
}

TEST_F(LogTest, WithoutRotationAFullLogStaysFull) {
  auto path = enableLog(5, 2);
  for (int i = 1; i <= 5; ++i) writeLog(1, "entry " + std::to_string(i));
  EXPECT_NE(logText().find("entry 2"), std::string::npos);
  EXPECT_EQ(logText().find("entry 3"), std::string::npos);
  EXPECT_FALSE(std::filesystem::exists(path.string() + ".1"));
}

TEST_F(LogTest, ZeroOrNegativeLoglengthCreatesEmptyFile) {
  for (int length : {0, -5}) {
    resetLogForTesting();
    auto path = enableLog(5, length);
    testing_support::writeFile(path, "old content");
    writeLog(9, "above the level: file not even opened");
    EXPECT_EQ(logText(), "old content");
    writeLog(1, "passes the level test");
    EXPECT_TRUE(std::filesystem::exists(path));
    EXPECT_EQ(logText(), "") << "length " << length;
  }
}

TEST_F(LogTest, LineEndsAreTheTextModeStreamsBytes) {
  enableLog(0);
  writeLog(0, "Loaded TAPI DLL");
  EXPECT_EQ(logText(), "[0:00:00:000]:0 Loaded TAPI DLL" + diskLineEnd());
}

TEST_F(LogTest, NoFileWithoutLogfileAndOpenIsRetried) {
  ProviderSettings s = SettingsSnapshot();
  s.loglevel = 5;
  ReplaceSettings(s);
  writeLog(0, "lost: no logfile");
  EXPECT_TRUE(std::filesystem::is_empty(dir));

  s.logfile = (dir / "missing-folder" / "log.txt").string();
  ReplaceSettings(s);
  writeLog(0, "lost: cannot open");
  std::filesystem::create_directories(dir / "missing-folder");
  writeLog(0, "written after retry");
  std::string text = testing_support::readFile(dir / "missing-folder" / "log.txt");
  EXPECT_EQ(text.find("lost"), std::string::npos);
  EXPECT_NE(text.find("written after retry"), std::string::npos);
}

TEST_F(LogTest, OpenStreamIgnoresLaterLogfileChange) {
  enableLog(5);
  writeLog(5, "one");
  ProviderSettings s = SettingsSnapshot();
  s.logfile = (dir / "other.txt").string();
  ReplaceSettings(s);
  writeLog(5, "two");
  EXPECT_FALSE(std::filesystem::exists(dir / "other.txt"));
  EXPECT_NE(logText().find("two"), std::string::npos);
}

TEST_F(LogTest, OpeningTruncatesAnExistingFile) {
  auto path = enableLog(5);
  testing_support::writeFile(path, "previous process\r\n");
  writeLog(5, "fresh");
  EXPECT_EQ(logText().find("previous"), std::string::npos);
}

TEST_F(LogTest, MessageBytesPassThroughUnchanged) {
  enableLog(5);
  std::string message("bin\0ary \xff\x80 %s %d", 16);
  writeLog(5, message);
  EXPECT_NE(logText().find(message), std::string::npos);
}

// Many threads logging at once: every entry arrives whole, once, and the
// count limit holds exactly.
TEST_F(LogTest, ConcurrentWritersNeverInterleave) {
  constexpr int kThreads = 4;
  constexpr int kPerThread = 300;
  enableLog(5, kThreads * kPerThread - 100);
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([t] {
      for (int i = 0; i < kPerThread; ++i)
        writeLog(
            5, "thread " + std::to_string(t) + " message " + std::to_string(i) + " " + std::string(40, 'x'));
    });
  }
  for (auto& t : threads) t.join();
  auto lines = splitLines(logText());
  ASSERT_EQ(lines.size(), static_cast<std::size_t>(kThreads * kPerThread - 100));
  for (const auto& line : lines) {
    EXPECT_EQ(line.rfind("[0:00:00:000]:5 thread ", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 41), " " + std::string(40, 'x')) << line;
  }
}

}  // namespace
}  // namespace qv
