#include "platform/reg_file.h"

#include <gtest/gtest.h>

#include <string>

namespace qv {
namespace {

constexpr char kKey[] = "HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi";

RegDocument parse(const std::string& text) {
  RegDocument document;
  std::string problem;
  EXPECT_TRUE(parseRegDocument(text, kKey, document, problem)) << problem;
  return document;
}

TEST(RegFile, ReadsEveryValueForm) {
  std::string text =
      "Windows Registry Editor Version 5.00\r\n"
      "\r\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Quorvelone\\TAPI]\r\n"
      "\"plain\"=\"40\"\r\n"
      "\"escaped\"=\"a\\\\b \\\"q\\\"\"\r\n"
      "\"dw\"=dword:0000abcd\r\n"
      "\"multi\"=hex(7):61,00,00,00,62,00,00,00,\\\r\n"
      "  00,00\r\n"
      "\"bin\"=hex:00,ff\r\n"
      "@=\"default\"\r\n"
      "\"gone\"=\"x\"\r\n"
      "\"gone\"=-\r\n"
      "; a comment\r\n";
  RegDocument d = parse(text);
  ASSERT_EQ(d.keyRanges.size(), 1u);
  struct Expect {
    const char* name;
    std::uint32_t type;
    std::string data;
  };
  const Expect expected[] = {
      {"plain", 1, std::string("40\0", 3)},      {"ESCAPED", 1, std::string("a\\b \"q\"\0", 8)},
      {"dw", 4, std::string("\xcd\xab\0\0", 4)}, {"multi", 7, std::string("a\0b\0\0", 5)},
      {"bin", 3, std::string("\0\xff", 2)},      {"", 1, std::string("default\0", 8)},
  };
  for (const auto& e : expected) {
    const RegEntry* entry = findRegEntry(d, e.name);
    ASSERT_NE(entry, nullptr) << e.name;
    EXPECT_EQ(entry->type, e.type) << e.name;
    EXPECT_EQ(entry->data, e.data) << e.name;
  }
  EXPECT_EQ(findRegEntry(d, "gone"), nullptr);
}

TEST(RegFile, RejectsWhatIsNotAStore) {
  const char* bad[] = {
      "garbage\r\n",
      "\xff\xfeW\0i\0",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=\"open\r\n",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=dword:xyz\r\n",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=hex:1,2\r\n",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=hex:01,\r\n",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\nnoquote=1\r\n",
      "Windows Registry Editor Version "
      "5.00\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=hex(zz):00\r\n",
  };
  for (const char* text : bad) {
    RegDocument d;
    std::string problem;
    EXPECT_FALSE(parseRegDocument(text, kKey, d, problem)) << text;
    EXPECT_FALSE(problem.empty());
  }
  // Lines of other keys are not ours to judge.
  RegDocument d = parse("REGEDIT4\n[HKEY_CURRENT_USER\\Other]\nnot a value line\n");
  EXPECT_TRUE(d.keyRanges.empty());
}

TEST(RegFile, RoundTripKeepsOtherKeysByteForByte) {
  std::string other =
      "[HKEY_CURRENT_USER\\Software\\Other]\r\n"
      "\"keep\"=\"me\"  ; odd spacing survives\r\n"
      "\r\n";
  std::string text = "Windows Registry Editor Version 5.00\r\n\r\n" + other +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"port\"=\"443\"\r\n\r\n" +
                     "[HKEY_LOCAL_MACHINE\\SOFTWARE\\After]\r\n\"x\"=dword:00000001\r\n";
  RegDocument d = parse(text);
  setRegEntry(d, {"port", 1, std::string("5060\0", 5)});
  setRegEntry(d, {"multi", 7, std::string("a\0\0", 3)});
  setRegEntry(d, {"quote\"name", 1, std::string("back\\slash \"quoted\"\0", 21)});
  setRegEntry(d, {"lines", 1, std::string("two\r\nlines\0", 11)});
  std::string rendered = renderRegDocument(d, kKey);
  EXPECT_NE(rendered.find(other), std::string::npos);
  EXPECT_NE(rendered.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\After]\r\n\"x\"=dword:00000001\r\n"),
            std::string::npos);
  EXPECT_NE(rendered.find("\"port\"=\"5060\"\r\n"), std::string::npos);
  EXPECT_NE(rendered.find("\"multi\"=hex(7):61,00,00,00,00,00\r\n"), std::string::npos);

  RegDocument again = parse(rendered);
  ASSERT_EQ(again.entries.size(), d.entries.size());
  for (const auto& entry : d.entries) {
    const RegEntry* back = findRegEntry(again, entry.name);
    ASSERT_NE(back, nullptr) << entry.name;
    EXPECT_EQ(back->type, entry.type) << entry.name;
    EXPECT_EQ(back->data, entry.data) << entry.name;
  }
  EXPECT_EQ(renderRegDocument(again, kKey), rendered);  // stable
}

TEST(RegFile, NewStoreAndMissingKey) {
  RegDocument empty = parse("");
  setRegEntry(empty, {"a", 1, std::string("1\0", 2)});
  EXPECT_EQ(renderRegDocument(empty, kKey),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n"
            "\"a\"=\"1\"\r\n\r\n");
  RegDocument other = parse("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\X]\n\"b\"=\"2\"\n");
  setRegEntry(other, {"a", 1, std::string("1\0", 2)});
  EXPECT_EQ(renderRegDocument(other, kKey),
            "Windows Registry Editor Version 5.00\r\n\r\n[HKEY_CURRENT_USER\\X]\r\n\"b\"=\"2\"\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\r\n\"a\"=\"1\"\r\n\r\n");
}

TEST(RegFile, DuplicateSectionsMergeIntoOne) {
  RegDocument d = parse(
      "REGEDIT4\n[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\n\"a\"=\"1\"\n"
      "[HKEY_CURRENT_USER\\X]\n"
      "[HKEY_LOCAL_MACHINE\\SOFTWARE\\quorvelone\\tapi]\n\"a\"=\"2\"\n\"b\"=\"3\"\n");
  ASSERT_EQ(d.keyRanges.size(), 2u);
  EXPECT_EQ(findRegEntry(d, "a")->data, std::string("2\0", 2));
  std::string rendered = renderRegDocument(d, kKey);
  EXPECT_EQ(rendered.find("quorvelone"), rendered.rfind("quorvelone"));
  EXPECT_NE(rendered.find("[HKEY_CURRENT_USER\\X]"), std::string::npos);
}

}  // namespace
}  // namespace qv
