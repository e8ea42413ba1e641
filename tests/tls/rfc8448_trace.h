#pragma once
// The example traces of RFC 8448 as its XML source holds them: each step of
// a section ("{client} send handshake record:") with its labelled hex values.
#include <gtest/gtest.h>

#include <string>
#include <string_view>
#include <vector>

#include "tests/crypto/vector_files.h"
#include "xml/byte_string.h"

namespace qv::test {

struct TraceStep {
  std::string actor;        // "client" or "server"
  std::string description;  // "send handshake record", ...
  std::vector<std::pair<std::string, Bytes>> values;
};

class Rfc8448Trace {
 public:
  // The steps of the section with this anchor ("onertt", "helloretryrequest").
  explicit Rfc8448Trace(std::string_view anchor) {
    const std::string text = readTestdata("vectors/rfc/rfc8448.xml");
    const std::size_t begin = text.find("<section anchor=\"" + std::string(anchor) + "\"");
    const std::size_t end = text.find("<section anchor=", begin + 1);
    if (begin == std::string::npos) return;
    const std::string section = text.substr(begin, end - begin);
    std::size_t at = 0;
    while ((at = section.find("<t hangText='", at)) != std::string::npos) {
      at += 13;
      const std::size_t close = section.find("'>", at);
      const std::string label = section.substr(at, close - at);
      const std::size_t contentStart = close + 2;
      const std::size_t contentEnd = section.find('<', contentStart);
      const std::string content = section.substr(contentStart, contentEnd - contentStart);
      if (label == "{client}" || label == "{server}") {
        TraceStep step;
        step.actor = label.substr(1, 6);
        std::size_t first = content.find_first_not_of(" \n");
        std::size_t last = content.find_first_of(":(", first);
        if (first != std::string::npos) step.description = content.substr(first, last - first);
        while (!step.description.empty() && step.description.back() == ' ') step.description.pop_back();
        steps_.push_back(std::move(step));
      } else if (!steps_.empty()) {
        const std::string name = label.substr(0, label.find(" ("));
        Bytes bytes;
        std::string digits;
        for (const char c : content) {
          if (std::isxdigit(static_cast<unsigned char>(c)))
            digits += c;
          else if (c != ' ' && c != '\n') {
            digits.clear();
            break;
          }
        }
        for (std::size_t k = 0; k + 1 < digits.size(); k += 2) {
          bytes += static_cast<char>(std::stoi(digits.substr(k, 2), nullptr, 16));
        }
        steps_.back().values.emplace_back(name, bytes);
      }
      at = contentEnd;
    }
  }

  // The value `label` of the nth step of `actor` whose description starts with `description`.
  Bytes Value(std::string_view actor, std::string_view description, std::string_view label,
              int nth = 0) const {
    for (const TraceStep& step : steps_) {
      if (step.actor != actor || step.description.rfind(description, 0) != 0) continue;
      if (nth-- > 0) continue;
      for (const auto& [name, bytes] : step.values) {
        if (name == label) return bytes;
      }
    }
    ADD_FAILURE() << "no " << label << " in " << actor << " " << description;
    return {};
  }

 private:
  std::vector<TraceStep> steps_;
};

}  // namespace qv::test
