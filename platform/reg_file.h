#pragma once
// Registry export files ("Windows Registry Editor Version 5.00"): parsing one
// key's values out of the text and writing them back, leaving every other
// line of the file as it was. Portable; the Linux registry store uses it.
#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qv {

struct RegEntry {
  std::string name;  // "" is the key's default value (@)
  std::uint32_t type = 0;
  // Bytes as the narrow-text registry API returns them: string types hold
  // 8-bit text with their terminating zero bytes.
  std::string data;
};

struct RegDocument {
  std::vector<std::string> lines;                              // the file, without line ends
  std::vector<std::pair<std::size_t, std::size_t>> keyRanges;  // [first, last) lines of the key's sections
  std::vector<RegEntry> entries;                               // the key's values, in file order
};

// Parses text and picks out the sections of key (e.g.
// "HKEY_LOCAL_MACHINE\SOFTWARE\quorvelone\tapi"). False, with a reason, when
// the text is not a registry export or a line of the key cannot be read.
bool parseRegDocument(std::string_view text, std::string_view key, RegDocument& document,
                      std::string& problem);

// Replaces or appends one value of the key.
void setRegEntry(RegDocument& document, const RegEntry& entry);
// The value of that name (names compare without regard to ASCII case), or null.
const RegEntry* findRegEntry(const RegDocument& document, std::string_view name);

// The file text: other lines unchanged, the key's values rewritten in one
// section where the key first appeared (or appended). CR LF line ends.
std::string renderRegDocument(const RegDocument& document, std::string_view key);

}  // namespace qv
