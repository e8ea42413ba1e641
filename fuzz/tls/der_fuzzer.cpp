// The DER reader and the name rules on arbitrary bytes: every element walked
// (nested into constructed ones to a bounded depth), the input read as a
// Name, and split in two for the domain match.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "tls/certificate.h"
#include "tls/der_reader.h"

namespace {

void walk(std::string_view input, int depth) {
  while (!input.empty()) {
    const qv::DerElement element = qv::NextElement(input);
    if (!element.found) break;
    qv::StripLeadingZeros(element.content);
    if (depth < 8 && (element.tag & 0x20) != 0) walk(element.content, depth + 1);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  walk(input, 0);
  std::string_view rest = input;
  qv::TakeElement(qv::kDerSequence, rest);
  qv::NameText(input);
  const std::size_t cut = size / 2;
  qv::DomainMatches(input.substr(0, cut), input.substr(cut));
  return 0;
}
