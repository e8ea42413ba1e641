#pragma once
// Which CSTA dialect the connection speaks (registry value `invokeid`).
// "binary", the first release's: the invoke id as a 32-bit binary number in
// the frame header, the ECMA-354 namespace with its trailing slash and CSTA
// requests in edition 6. "ascii", the form of ECMA-323's TCP annex that
// standard CSTA servers use: the invoke id as four ASCII digits "0000" to
// "9999" ("9999" on events), the ECMA-354 namespace without the slash, and
// CSTA requests in the edition the PBX chose at login (3, 4 or 5).
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace qv {

enum class InvokeIdFormat : std::uint8_t { kBinary, kAscii };

inline constexpr std::uint32_t kAsciiEventInvokeId = 9999;

// Nothing for a text that names no format.
std::optional<InvokeIdFormat> ParseInvokeIdFormat(std::string_view text);
// The format of the stored settings; an unknown text is logged at level 1
// and counts as binary.
InvokeIdFormat InvokeIdFormatOfSettings();

// The id after `id` in this format: ascii wraps from 9998 to 1 and never
// gives 0 or 9999.
std::uint32_t NextInvokeId(InvokeIdFormat format, std::uint32_t id);

// The process's profile, set from the settings at each connect.
void SetCstaProfile(InvokeIdFormat format);
InvokeIdFormat CurrentInvokeIdFormat();
// The PBX's actualProtocolVersion from the login answer; with ascii, an
// ECMA-323 edition 3, 4 or 5 URI becomes the namespace of CSTA requests.
void SetNegotiatedProtocolVersion(std::string_view version);

std::string ApplicationSessionNamespace();
std::string CstaRequestNamespace();

}  // namespace qv
