// Hostile documents: deep nesting, huge inputs and unterminated markup must
// parse in linear time, without recursion and with bounded memory.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "xml/xml_node.h"

namespace qv {
namespace {

constexpr std::size_t kMiB = 1024 * 1024;

std::string repeat(std::string_view unit, std::size_t totalBytes) {
  std::string out;
  out.reserve(totalBytes + unit.size());
  while (out.size() < totalBytes) out += unit;
  return out;
}

// Deepest level in the tree (root = 1), walked without recursion.
std::size_t treeDepth(const XmlNode& root) {
  std::size_t deepest = 0;
  std::vector<std::pair<const XmlNode*, std::size_t>> pending{{&root, 1}};
  while (!pending.empty()) {
    auto [node, level] = pending.back();
    pending.pop_back();
    deepest = std::max(deepest, level);
    for (const XmlNode& child : node->children) pending.push_back({&child, level + 1});
  }
  return deepest;
}

TEST(XmlHostileTest, NestingStopsAtTheDepthLimit) {
  const std::string doc = repeat("<a>", 16 * kMiB);
  XmlParseInfo info;
  XmlNode root = parseXml(doc, true, &info);
  EXPECT_EQ(treeDepth(root), kXmlMaxDepth);
  EXPECT_EQ(info.skippedElements, doc.size() / 3 - kXmlMaxDepth);
  XmlNode copy = root;  // copying and destroying stay within the limit too
  EXPECT_EQ(treeDepth(copy), kXmlMaxDepth);
}

TEST(XmlHostileTest, DroppedLevelsStillBalanceTheirEndTags) {
  const std::size_t extra = 1000;
  std::string doc = "<r>";
  for (std::size_t level = 2; level <= kXmlMaxDepth + extra; ++level) doc += "<a>" + std::to_string(level);
  for (std::size_t level = 0; level < kXmlMaxDepth + extra - 1; ++level) doc += "<e/></a>";
  doc += "<tail>t</tail></r><after/>";
  XmlParseInfo info;
  XmlNode root = parseXml(doc, true, &info);
  EXPECT_EQ(treeDepth(root), kXmlMaxDepth);
  EXPECT_EQ(findText(root, "tail"), "t");
  EXPECT_EQ(root.name, "after");

  // The deepest kept element keeps its own text but nothing from below;
  // its parent still gets the <e/> that follows the kept <a>.
  const XmlNode* parent = &root;
  for (std::size_t level = 2; level < kXmlMaxDepth; ++level) parent = &parent->children.front();
  ASSERT_EQ(parent->children.size(), 2u);
  EXPECT_EQ(parent->children[1].name, "e");
  const XmlNode& deepest = parent->children[0];
  EXPECT_EQ(deepest.text, std::to_string(kXmlMaxDepth));
  EXPECT_TRUE(deepest.children.empty());
  // Dropped: the <a> below the limit and the <e/> in each of them and in the deepest kept one.
  EXPECT_EQ(info.skippedElements, 2 * extra + 1);
}

TEST(XmlHostileTest, DeepDocumentOnAnotherThread) {
  const std::string doc = repeat("<a><b/>", 4 * kMiB);
  std::size_t depth = 0;
  std::thread worker([&] { depth = treeDepth(parseXml(doc, true)); });
  worker.join();
  EXPECT_EQ(depth, kXmlMaxDepth);
}

// Each of these is a quadratic trap for a naive reader (at 4 MiB that would
// take hours); the test time-out catches a regression.
TEST(XmlHostileTest, LargeInputsParseInLinearTime) {
  const std::size_t size = 4 * kMiB;
  struct Case {
    const char* what;
    std::string doc;
    std::size_t children;
  };
  const Case cases[] = {
      {"entities", "<r><a>" + repeat("&amp;", size) + "</a></r>", 1},
      {"ampersands", "<r><a>" + repeat("&", size) + "</a></r>", 1},
      {"ampersands then ';'", "<r><a>" + repeat("&", size) + ";</a></r>", 1},
      {"char refs", "<r><a>" + repeat("&#x41;&#66;", size) + "</a></r>", 1},
      {"unterminated comment", "<r><a/><!--" + repeat("-", size), 1},
      {"unterminated pi", "<r><a/><?" + repeat("?", size), 1},
      {"unterminated cdata", "<r><a/><![CDATA[" + repeat("]]", size), 1},
      {"unterminated quote", "<r><a/><b c='" + repeat("x", size), 2},
      {"unquoted value", "<r><a/><b c=" + repeat("x", size), 2},
      {"many attributes", "<r><a " + repeat("b='1' ", size) + "/></r>", 1},
      {"lone '<'", "<r>" + repeat("<", size), 1},
      {"end tags", "<r><a/>" + repeat("</", size), 1},
      {"cdata sections", "<r><a>" + repeat("<![CDATA[x]]>", size) + "</a></r>", 1},
      {"comments", "<r><a>" + repeat("<!---->", size) + "</a></r>", 1},
      {"doc-level comments", repeat("<!-- -->", size) + "<r><a/></r>", 1},
      {"long name", "<r><a" + repeat("\xE4\xB8\xAD", size) + "/></r>", 1},
      {"text", "<r><a>" + repeat("x", size) + "</a></r>", 1},
  };
  for (const Case& c : cases) {
    XmlNode root = parseXml(c.doc, true);
    EXPECT_EQ(root.name, "r") << c.what;
    EXPECT_EQ(root.children.size(), c.children) << c.what;
  }
  EXPECT_EQ(decodeEntities(repeat("&lt;", size)), std::string(size / 4, '<'));
}

TEST(XmlHostileTest, ManySiblings) {
  XmlNode root = parseXml("<r>" + repeat("<a/>", kMiB) + "<b>x</b></r>", true);
  EXPECT_EQ(root.children.size(), kMiB / 4 + 1);
  EXPECT_EQ(findText(root, "b"), "x");
}

}  // namespace
}  // namespace qv
