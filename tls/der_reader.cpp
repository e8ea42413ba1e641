#include "tls/der_reader.h"

namespace qv {

namespace {

void skipLeadingZeros(std::string_view& input) {
  std::size_t zeros = 0;
  while (zeros < input.size() && input[zeros] == '\0') ++zeros;
  input.remove_prefix(zeros);
}

// Reads the element at the front of input (after the zero skip) without
// consuming it; not found when it is malformed or runs past the end.
DerElement peekElement(std::string_view input) {
  DerElement element;
  if (input.size() < 2) return element;
  const auto tag = static_cast<std::uint8_t>(input[0]);
  const auto first = static_cast<std::uint8_t>(input[1]);
  std::size_t headerLength = 2;
  std::size_t length = first;
  if (first >= 0x80) {
    // Long form: the low seven bits count the length bytes. Lengths that
    // need more than four bytes cannot be real here.
    const std::size_t lengthBytes = first & 0x7F;
    if (lengthBytes > 4 || input.size() < 2 + lengthBytes) return element;
    length = 0;
    for (std::size_t k = 0; k < lengthBytes; ++k) {
      length = (length << 8) | static_cast<std::uint8_t>(input[2 + k]);
    }
    headerLength += lengthBytes;
  }
  if (length > input.size() - headerLength) return element;
  element.tag = tag;
  element.content = input.substr(headerLength, length);
  element.whole = input.substr(0, headerLength + length);
  element.found = true;
  return element;
}

}  // namespace

DerElement TakeElement(std::uint8_t tag, std::string_view& input) {
  std::string_view rest = input;
  skipLeadingZeros(rest);
  DerElement element = peekElement(rest);
  if (!element.found || element.tag != tag) return DerElement{};
  input = rest.substr(element.whole.size());
  return element;
}

DerElement NextElement(std::string_view& input) {
  std::string_view rest = input;
  skipLeadingZeros(rest);
  DerElement element = peekElement(rest);
  if (!element.found) return DerElement{};
  input = rest.substr(element.whole.size());
  return element;
}

Bytes StripLeadingZeros(std::string_view bytes) {
  std::size_t zeros = 0;
  while (zeros < bytes.size() && bytes[zeros] == '\0') ++zeros;
  return Bytes(bytes.substr(zeros));
}

}  // namespace qv
