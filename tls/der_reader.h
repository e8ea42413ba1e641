#pragma once
// Minimal DER reading: elements are consumed from the front of a byte string.
// Malformed input never raises an error; it reads as an empty element.
#include <cstdint>
#include <string_view>

#include "xml/byte_string.h"

namespace qv {

inline constexpr std::uint8_t kDerInteger = 0x02;
inline constexpr std::uint8_t kDerBitString = 0x03;
inline constexpr std::uint8_t kDerObjectId = 0x06;
inline constexpr std::uint8_t kDerSequence = 0x30;
inline constexpr std::uint8_t kDerSet = 0x31;
inline constexpr std::uint8_t kDerExplicit0 = 0xA0;
inline constexpr std::uint8_t kDerExplicit3 = 0xA3;

struct DerElement {
  std::uint8_t tag = 0;
  std::string_view content;
  // Header and content together, as they appeared in the input.
  std::string_view whole;
  bool found = false;
};

// Leading zero bytes are skipped first. When the next element has the given
// tag it is removed from input and its content returned; otherwise (wrong
// tag, more than 4 length bytes, a length past the end) the result is not
// found, its content empty, and input is left as it was.
DerElement TakeElement(std::uint8_t tag, std::string_view& input);
// As TakeElement, whatever the tag.
DerElement NextElement(std::string_view& input);

// Copy of the content without its leading zero bytes.
Bytes StripLeadingZeros(std::string_view bytes);

}  // namespace qv
