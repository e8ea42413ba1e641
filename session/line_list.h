#pragma once
// The `lines` setting: the extensions the provider shows as TAPI lines, in
// the order given. Entries are separated by ';' or ','; white space around
// them is ignored. An entry is a number ("202"), a number with a name
// ("202=Reception", the name running to the next separator) or an inclusive
// range of numbers of the same length ("300-349").
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

namespace qv {

inline constexpr std::size_t kMaxLines = 10000;
// Longest extension accepted, in digits.
inline constexpr std::size_t kMaxExtensionDigits = 32;

struct LineEntry {
  std::string extension;
  std::string name;  // empty when the entry gave none
};

// The lines of a `lines` text. An entry that cannot be read is logged at
// level 1 and skipped, a repeated extension at level 3; entries past
// kMaxLines are dropped with one level-1 line.
std::vector<LineEntry> ParseLineList(std::string_view text);

// The TAPI line name: "Name (202)", or "202" without a name.
std::string LineDisplayName(const LineEntry& entry);

}  // namespace qv
