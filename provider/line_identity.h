#pragma once
// The identifiers of a line of the `lines` list. Both come from the
// extension alone (and the installation's `guid`), never from the line's
// position, so an extension keeps them when the list is reordered, grows or
// shrinks, across restarts and on every host with the same `guid`.
#include <string_view>

#include "platform/tapi.h"

namespace qv {

// Extensions of up to nine digits map one to one onto 1 .. 1 111 111 110:
// (10^n - 10) / 9 for the shorter lengths, plus the number, plus one. So
// "301" and "0301" differ. Longer extensions take a 32-bit FNV-1a hash of
// their digits above that range; the line set reports a clash.
DWORD ExtensionPermanentLineId(std::string_view extension);
inline constexpr DWORD kLongExtensionIdBase = 1111111111u;

// A name-based UUID (RFC 4122 version 5, SHA-1) of the extension in the
// namespace of the installation's `guid` (read as the single line reads it).
GUID ExtensionLineGuid(std::string_view installationGuid, std::string_view extension);

}  // namespace qv
