// Generated well-formed documents parsed by our reader and by libxml2 must
// give the same element names, attributes and texts.
#include <gtest/gtest.h>
#include <libxml/parser.h>
#include <libxml/tree.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include "xml/byte_string.h"
#include "xml/xml_node.h"
#include "xml/xml_wellformed.h"

namespace qv {
namespace {

class DocumentGenerator {
 public:
  explicit DocumentGenerator(std::uint32_t seed) : rng_(seed) {}

  std::string document() {
    prefixes_.clear();
    std::string out;
    if (chance(50)) out += pick({"<?xml version=\"1.0\"?>", "<?xml version='1.0' encoding='UTF-8'?>\n"});
    out += miscellany();
    std::string declarations;
    for (int k = below(4); k > 0; --k) {
      std::string prefix = name(6);
      bool fresh = true;
      for (const std::string& p : prefixes_) fresh = fresh && p != prefix;
      if (!fresh) continue;
      declarations += " xmlns:" + prefix + "=" + quoted("urn:p" + std::to_string(prefixes_.size()));
      prefixes_.push_back(prefix);
    }
    if (chance(30)) declarations += " xmlns=" + quoted("urn:default");
    out += element(0, declarations);
    out += miscellany();
    return out;
  }

 private:
  std::uint32_t below(std::uint32_t n) { return static_cast<std::uint32_t>(rng_() % n); }
  bool chance(int percent) { return static_cast<int>(below(100)) < percent; }
  std::string pick(std::initializer_list<const char*> options) {
    return *(options.begin() + below(static_cast<std::uint32_t>(options.size())));
  }

  // Names mix ASCII with multi-byte UTF-8 name characters; none starts with "xml".
  std::string name(int maxLength) {
    std::string out = pick({"a", "B", "_", "z", "Q", "\xC3\xA9", "\xCE\xA9", "\xE4\xB8\xAD",
                            "\xF0\x90\x80\x80", "\xC3\xA4", "\xE2\x81\xB0"});
    for (int k = below(static_cast<std::uint32_t>(maxLength)); k > 0; --k)
      out += pick({"a", "b", "Y", "-", ".", "0", "9", "_", "\xC2\xB7", "\xCC\x81", "\xE2\x80\xBF", "\xC3\xB1",
                   "\xE6\x96\x87", "\xF0\x9F\x80\x81"});
    return out;
  }

  std::string qualified(std::string local) {
    if (!prefixes_.empty() && chance(40))
      return prefixes_[below(static_cast<std::uint32_t>(prefixes_.size()))] + ":" + local;
    return local;
  }

  std::string charReference() {
    static const std::uint32_t ranges[][2] = {
        {0x20, 0x7E}, {0xA0, 0x7FF}, {0x800, 0xD7FF}, {0xE000, 0xFFFD}, {0x10000, 0x10FFFF}};
    const auto& range = ranges[below(5)];
    std::uint32_t cp = range[0] + below(range[1] - range[0] + 1);
    if (chance(50)) return "&#" + std::to_string(cp) + ";";
    static const char* digitsLower = "0123456789abcdef";
    static const char* digitsUpper = "0123456789ABCDEF";
    const char* digits = chance(50) ? digitsLower : digitsUpper;
    std::string hex;
    for (std::uint32_t v = cp; v != 0; v >>= 4) hex.insert(hex.begin(), digits[v & 15]);
    return "&#x" + std::string(below(2), '0') + hex + ";";
  }

  // Character data without '<', '&', ']' or CR; quote excludes one quote byte.
  std::string characters(char quote) {
    std::string out;
    for (int k = below(12); k > 0; --k) {
      switch (below(10)) {
        case 0:
          out += pick({"&amp;", "&lt;", "&gt;", "&quot;", "&apos;"});
          break;
        case 1:
          out += charReference();
          break;
        case 2:
          out += pick({"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xC2\xA0"});
          break;
        case 3:
          out += quote == '"' ? "'" : quote == '\'' ? "\"" : pick({"'", "\""});
          break;
        case 4:
          out += quote == 0 ? pick({"\n", "\t", "  ", ">"}) : pick({" ", ">", "/"});
          break;
        default:
          out += static_cast<char>('a' + below(26));
          break;
      }
    }
    return out;
  }

  std::string quoted(const std::string& value) {
    // The caller's value holds no quote characters of either kind.
    return chance(50) ? "'" + value + "'" : "\"" + value + "\"";
  }

  std::string attributeValue() {
    char quote = chance(50) ? '\'' : '"';
    return quote + characters(quote) + quote;
  }

  std::string miscellany() {
    std::string out;
    for (int k = below(3); k > 0; --k) {
      switch (below(3)) {
        case 0:
          out += "<!--" + comment() + "-->";
          break;
        case 1:
          out += processingInstruction();
          break;
        default:
          out += pick({"\n", " ", "\t\n"});
          break;
      }
    }
    return out;
  }

  std::string comment() { return pick({"", " c ", "<a>&amp;</a>", "x-y", " \xE4\xB8\xAD "}); }
  std::string processingInstruction() { return "<?" + name(4) + pick({"?>", " data?>", " <a> & ?>", " ?>"}); }

  std::string element(int depth, const std::string& extraAttributes) {
    std::string tag = qualified(name(8));
    std::string out = "<" + tag + extraAttributes;
    std::vector<std::string> used;
    for (int k = below(4); k > 0; --k) {
      std::string local = name(5);
      bool fresh = true;
      for (const std::string& u : used) fresh = fresh && u != local;
      if (!fresh) continue;
      used.push_back(local);
      out += pick({" ", "\n  ", "\t"}) + qualified(local) + "=" + attributeValue();
    }
    out += pick({"", " ", "\n"});
    if (chance(15)) return out + "/>";
    out += ">";
    int parts = static_cast<int>(below(6));
    for (int k = 0; k < parts; ++k) {
      switch (below(depth < 6 ? 7 : 4)) {
        case 0:
          out += "<![CDATA[" + pick({"", "<a>&amp;</a>", "]]", "]>", "x]", "\xE2\x82\xAC <"}) + "]]>";
          break;
        case 1:
          out += "<!--" + comment() + "-->";
          break;
        case 2:
          out += processingInstruction();
          break;
        case 3:
          out += characters(0);
          break;
        default:
          out += element(depth + 1, "");
          break;
      }
    }
    return out + "</" + tag + ">";
  }

  std::mt19937 rng_;
  std::vector<std::string> prefixes_;
};

std::string str(const xmlChar* s) { return s != nullptr ? reinterpret_cast<const char*>(s) : ""; }

struct Comparison {
  bool caseSensitive;
  std::string fold(std::string s) const { return caseSensitive ? s : toLowerAscii(s); }

  void compare(const XmlNode& ours, xmlNodePtr ref, bool isRoot, const std::string& where) const {
    ASSERT_EQ(ours.name, fold(str(ref->name))) << where;

    std::vector<XmlAttribute> expected;
    for (xmlNsPtr ns = ref->nsDef; ns != nullptr; ns = ns->next)
      expected.push_back({fold(ns->prefix != nullptr ? str(ns->prefix) : "xmlns"), str(ns->href)});
    for (xmlAttrPtr attr = ref->properties; attr != nullptr; attr = attr->next) {
      xmlChar* value = xmlNodeGetContent(reinterpret_cast<xmlNodePtr>(attr));
      expected.push_back({fold(str(attr->name)), str(value)});
      xmlFree(value);
    }
    ASSERT_EQ(ours.attributes.size(), expected.size()) << where;
    for (std::size_t k = 0; k < expected.size(); ++k) {
      EXPECT_EQ(ours.attributes[k].name, expected[k].name) << where;
      EXPECT_EQ(ours.attributes[k].value, expected[k].value) << where << " @" << expected[k].name;
    }

    std::string text;
    std::vector<xmlNodePtr> elements;
    for (xmlNodePtr child = ref->children; child != nullptr; child = child->next) {
      if (child->type == XML_TEXT_NODE || child->type == XML_CDATA_SECTION_NODE)
        text += str(child->content);
      else if (child->type == XML_ELEMENT_NODE)
        elements.push_back(child);
    }
    if (!isRoot) {
      EXPECT_EQ(ours.text, text) << where;
    }
    EXPECT_TRUE(ours.caseSensitive == caseSensitive);
    ASSERT_EQ(ours.children.size(), elements.size()) << where;
    for (std::size_t k = 0; k < elements.size(); ++k)
      compare(ours.children[k], elements[k], false, where + "/" + ours.children[k].name);
  }
};

std::uint32_t seedFromEnvironment() {
  const char* seed = std::getenv("QV_XML_SEED");
  return seed != nullptr ? static_cast<std::uint32_t>(std::strtoul(seed, nullptr, 10)) : 20261208u;
}

TEST(XmlDifferentialTest, AgreesWithLibxml2OnWellFormedDocuments) {
  const std::uint32_t seed = seedFromEnvironment();
  DocumentGenerator generator(seed);
  constexpr int kDocuments = 5000;
  for (int i = 0; i < kDocuments; ++i) {
    const std::string doc = generator.document();
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    ASSERT_NE(ctxt, nullptr);
    xmlDocPtr ref = xmlCtxtReadMemory(ctxt, doc.data(), static_cast<int>(doc.size()), nullptr, "UTF-8",
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool wellFormed = ref != nullptr && ctxt->wellFormed && ctxt->nsWellFormed;
    const xmlError* error = xmlCtxtGetLastError(ctxt);
    const std::string why = error != nullptr && error->message != nullptr ? error->message : "";
    xmlFreeParserCtxt(ctxt);
    ASSERT_TRUE(wellFormed) << "generator produced a malformed document (seed " << seed << ", #" << i
                            << "):\n"
                            << doc;
    const bool caseSensitive = i % 4 != 0;
    XmlNode ours = parseXml(doc, caseSensitive);
    Comparison{caseSensitive}.compare(
        ours, xmlDocGetRootElement(ref), true,
        "seed " + std::to_string(seed) + " #" + std::to_string(i) + " /" + ours.name);
    xmlFreeDoc(ref);
    if (HasFatalFailure() || HasNonfatalFailure()) {
      ADD_FAILURE() << "document:\n" << doc;
      return;
    }
  }
}

// libxml2's verdict (well-formedness only; namespaces are not the strict
// check's concern) on generated documents and on every one cut short or with
// one byte replaced by markup.
TEST(XmlDifferentialTest, StrictCheckAgreesWithLibxml2OnDamagedDocuments) {
  const std::uint32_t seed = seedFromEnvironment();
  DocumentGenerator generator(seed);
  std::mt19937 rng(seed);
  auto libxml2 = [](const std::string& doc) {
    xmlParserCtxtPtr ctxt = xmlNewParserCtxt();
    xmlDocPtr ref = xmlCtxtReadMemory(ctxt, doc.data(), static_cast<int>(doc.size()), nullptr, "UTF-8",
                                      XML_PARSE_NONET | XML_PARSE_NOERROR | XML_PARSE_NOWARNING);
    const bool wellFormed = ref != nullptr && ctxt->wellFormed;
    xmlFreeDoc(ref);
    xmlFreeParserCtxt(ctxt);
    return wellFormed;
  };
  for (int i = 0; i < 2000; ++i) {
    std::string doc = generator.document();
    ASSERT_FALSE(CheckWellFormedXml(doc)) << *CheckWellFormedXml(doc) << "\n" << doc;
    std::string damaged = doc;
    if (i % 2 == 0) {
      damaged.resize(rng() % doc.size());
    } else {
      damaged[rng() % doc.size()] = "<>&/'\"="[rng() % 7];
    }
    if (damaged.empty()) continue;
    const bool ours = !CheckWellFormedXml(damaged);
    ASSERT_EQ(ours, libxml2(damaged)) << "seed " << seed << " #" << i << ":\n" << damaged;
  }
}

}  // namespace
}  // namespace qv
