#include "provider/line_identity.h"

#include <cstdint>
#include <string>

#include "crypto/sha1.h"
#include "provider/capability_answers.h"

namespace qv {

DWORD ExtensionPermanentLineId(std::string_view extension) {
  if (extension.size() <= 9) {
    std::uint32_t shorter = 0;  // how many numbers have fewer digits
    std::uint32_t power = 10;
    for (std::size_t n = 1; n < extension.size(); ++n) {
      shorter += power;
      power *= 10;
    }
    std::uint32_t value = 0;
    for (char c : extension) value = value * 10 + static_cast<std::uint32_t>(c - '0');
    return shorter + value + 1;
  }
  std::uint32_t hash = 2166136261u;
  for (char c : extension) {
    hash ^= static_cast<unsigned char>(c);
    hash *= 16777619u;
  }
  return kLongExtensionIdBase + hash % (0xFFFFFFFFu - kLongExtensionIdBase) + 1;
}

GUID ExtensionLineGuid(std::string_view installationGuid, std::string_view extension) {
  const GUID space = ParseLineGuid(installationGuid);
  // The namespace in network byte order, then the name.
  std::string input;
  for (int shift = 24; shift >= 0; shift -= 8) input.push_back(static_cast<char>(space.Data1 >> shift));
  input.push_back(static_cast<char>(space.Data2 >> 8));
  input.push_back(static_cast<char>(space.Data2));
  input.push_back(static_cast<char>(space.Data3 >> 8));
  input.push_back(static_cast<char>(space.Data3));
  for (BYTE b : space.Data4) input.push_back(static_cast<char>(b));
  input.append(extension);
  const Bytes digest = sha1Digest(input);
  auto byte = [&](std::size_t i) { return static_cast<std::uint8_t>(digest[i]); };
  GUID guid{};
  guid.Data1 = (static_cast<std::uint32_t>(byte(0)) << 24) | (static_cast<std::uint32_t>(byte(1)) << 16) |
               (static_cast<std::uint32_t>(byte(2)) << 8) | byte(3);
  guid.Data2 = static_cast<WORD>((byte(4) << 8) | byte(5));
  guid.Data3 = static_cast<WORD>((((byte(6) << 8) | byte(7)) & 0x0FFF) | 0x5000);  // version 5
  guid.Data4[0] = static_cast<BYTE>((byte(8) & 0x3F) | 0x80);                      // RFC 4122 variant
  for (std::size_t i = 1; i < 8; ++i) guid.Data4[i] = byte(8 + i);
  return guid;
}

}  // namespace qv
