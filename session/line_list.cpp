#include "session/line_list.h"

#include <cstdint>
#include <unordered_set>

#include "session/log.h"

namespace qv {

namespace {

bool isBlank(char c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

std::string_view trimmed(std::string_view text) {
  while (!text.empty() && isBlank(text.front())) text.remove_prefix(1);
  while (!text.empty() && isBlank(text.back())) text.remove_suffix(1);
  return text;
}

bool isNumber(std::string_view text) {
  if (text.empty() || text.size() > kMaxExtensionDigits) return false;
  for (char c : text) {
    if (c < '0' || c > '9') return false;
  }
  return true;
}

// Collects entries in order, dropping repeats and anything past the limit.
class Collector {
 public:
  // False once the list is full.
  bool add(std::string extension, std::string_view name) {
    // Ranges that only repeat earlier ones must not cost unbounded work.
    if (entries_.size() >= kMaxLines || ++attempts_ > 4 * kMaxLines) {
      if (!overflowLogged_) {
        writeLog(1, "lines: more than " + std::to_string(kMaxLines) + " extensions or repeats, " + extension +
                        " and all after it are skipped");
        overflowLogged_ = true;
      }
      return false;
    }
    if (!seen_.insert(extension).second) {
      writeLog(3, "lines: extension " + extension + " is listed more than once, repeat skipped");
      return true;
    }
    entries_.push_back(LineEntry{std::move(extension), std::string(name)});
    return true;
  }
  std::vector<LineEntry> take() { return std::move(entries_); }

 private:
  std::vector<LineEntry> entries_;
  std::unordered_set<std::string> seen_;
  std::size_t attempts_ = 0;
  bool overflowLogged_ = false;
};

void rejected(std::string_view entry) {
  writeLog(1, "lines: cannot read entry \"" + std::string(entry) + "\", skipped");
}

// A range "first-last" of equal-length numbers, first <= last.
bool addRange(std::string_view entry, std::size_t dash, Collector& out) {
  const std::string_view first = trimmed(entry.substr(0, dash));
  const std::string_view last = trimmed(entry.substr(dash + 1));
  // 18 digits keep the arithmetic inside 64 bits.
  if (!isNumber(first) || !isNumber(last) || first.size() != last.size() || first.size() > 18) return false;
  if (last < first) return false;
  std::uint64_t from = 0;
  std::uint64_t to = 0;
  for (char c : first) from = from * 10 + static_cast<std::uint64_t>(c - '0');
  for (char c : last) to = to * 10 + static_cast<std::uint64_t>(c - '0');
  std::string number(first.size(), '0');
  for (std::uint64_t n = from;; ++n) {
    std::uint64_t rest = n;
    for (std::size_t i = number.size(); i-- > 0;) {
      number[i] = static_cast<char>('0' + rest % 10);
      rest /= 10;
    }
    // A full list ends the range: a huge one costs no more than the limit.
    if (!out.add(number, {}) || n == to) break;
  }
  return true;
}

}  // namespace

std::vector<LineEntry> ParseLineList(std::string_view text) {
  Collector out;
  std::size_t start = 0;
  while (start <= text.size()) {
    std::size_t end = text.find_first_of(";,", start);
    if (end == std::string_view::npos) end = text.size();
    const std::string_view entry = trimmed(text.substr(start, end - start));
    start = end + 1;
    if (entry.empty()) continue;
    const std::size_t equals = entry.find('=');
    if (equals != std::string_view::npos) {
      const std::string_view number = trimmed(entry.substr(0, equals));
      if (!isNumber(number)) {
        rejected(entry);
        continue;
      }
      if (!out.add(std::string(number), trimmed(entry.substr(equals + 1)))) break;
      continue;
    }
    const std::size_t dash = entry.find('-');
    if (dash != std::string_view::npos) {
      if (!addRange(entry, dash, out)) rejected(entry);
      continue;
    }
    if (!isNumber(entry)) {
      rejected(entry);
      continue;
    }
    if (!out.add(std::string(entry), {})) break;
  }
  return out.take();
}

std::string LineDisplayName(const LineEntry& entry) {
  if (entry.name.empty()) return entry.extension;
  return entry.name + " (" + entry.extension + ")";
}

}  // namespace qv
