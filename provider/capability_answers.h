#pragma once
// The line's answers to TAPI's capability and status queries, filled into
// TAPI's structures in their published TAPI 2.x layouts.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tapi.h"

namespace qv {

inline constexpr DWORD kLineDevCapsFixedSize = 268;
inline constexpr DWORD kLineAddressCapsFixedSize = 228;
inline constexpr DWORD kLineAddressStatusFixedSize = 64;

inline constexpr std::u16string_view kProviderInfoText = u"Quorvel ONE TAPI Service Provider";
inline constexpr std::u16string_view kLineNameText = u"Quorvel ONE PBX";

// Hexadecimal digits to a number, wrapping at 32 bits; any other character
// counts as digit 0, an empty text gives 0.
std::uint32_t ParseHexField(std::string_view text);

// The `guid` setting (8-4-4-4-12) as a GUID. Characters missing from a short
// text add nothing: a field parses only the characters that exist.
GUID ParseLineGuid(std::string_view text);

// ((permanentProviderId & 0xFFFF) << 16) | (deviceId - lineDeviceIdBase).
DWORD PermanentLineId(std::uint32_t permanentProviderId, std::uint32_t lineDeviceIdBase, DWORD deviceId);

// Fills LINEDEVCAPS (whole buffer cleared first). A buffer smaller than the
// fixed part gets only its size members and LINEERR_STRUCTURETOOSMALL.
LONG FillLineDevCaps(LPLINEDEVCAPS caps, DWORD deviceId, std::uint32_t permanentProviderId,
                     std::uint32_t lineDeviceIdBase, std::string_view guid, DWORD lineStates = 0);

// What tells one listed line from another in LINEDEVCAPS.
struct LineNaming {
  std::u16string_view name;
  DWORD permanentLineId = 0;
  GUID guid{};
  DWORD lineStates = 0;  // the LINE_LINEDEVSTATE messages the line sends
};
// LINEDEVCAPS of a listed line: as the single line's, with its own name and
// identifiers.
LONG FillLineDevCaps(LPLINEDEVCAPS caps, const LineNaming& naming);

// Fills LINEADDRESSCAPS; members it does not name keep what the caller put
// there. The address is `username` widened byte by byte to UTF-16. With
// callEvents the line reports call states and offers call control, and says
// exactly which.
LONG FillAddressCaps(LPLINEADDRESSCAPS caps, DWORD deviceId, std::string_view username,
                     bool callEvents = false);

// What the line with call events supports (LINEADDRESSCAPS).
inline constexpr DWORD kCtiCallInfoStates =
    0x38340;                                     // CALLID, ORIGIN, REASON, CALLERID, CALLEDID, CONNECTEDID
inline constexpr DWORD kCtiPartyIdFlags = 0x6D;  // BLOCKED, NAME, ADDRESS, UNKNOWN, UNAVAIL
inline constexpr DWORD kCtiCallStates = 0x7F3B;  // IDLE, OFFERING, DIALTONE, DIALING, RINGBACK,
                                                 // CONNECTED, PROCEEDING, ONHOLD, CONFERENCED,
                                                 // ONHOLDPENDCONF, ONHOLDPENDTRANSFER, DISCONNECTED
inline constexpr DWORD kCtiDialToneModes = 0x1;  // NORMAL
inline constexpr DWORD kCtiDisconnectModes = 0x3B3;  // NORMAL, UNKNOWN, FORWARDED, BUSY, BADADDRESS,
                                                     // UNREACHABLE, CONGESTION
inline constexpr DWORD kCtiAddrCapFlags = 0x4020;    // DIALED, CONFERENCEHELD
inline constexpr DWORD kCtiCallFeatures =
    0x0F070AEE;  // ADDTOCONF, ANSWER, BLINDTRANSFER, COMPLETETRANSF, DIAL, DROP,
                 // GENERATEDIGITS, HOLD, PREPAREADDCONF, REDIRECT, REMOVEFROMCONF,
                 // SETUPCONF, SETUPTRANSFER, SWAPHOLD, UNHOLD
// Any party can be removed; its call goes idle.
inline constexpr DWORD kCtiRemoveFromConfCaps = 0x3;   // LINEREMOVEFROMCONF_ANY
inline constexpr DWORD kCtiRemoveFromConfState = 0x1;  // LINECALLSTATE_IDLE
inline constexpr DWORD kCtiTransferModes = 0x3;        // TRANSFER, CONFERENCE
// A consultation keeps one call on hold; its conference has three parties.
inline constexpr DWORD kCtiMaxOnHoldPending = 1;
inline constexpr DWORD kCtiMaxConference = 3;
inline constexpr DWORD kCtiAddressFeatures = 0x3607;  // FORWARD, MAKECALL, PICKUP, PICKUPGROUP,
                                                      // PICKUPDIRECT, FORWARDFWD, FORWARDDND
inline constexpr DWORD kCtiForwardModes = 0x1111;     // UNCOND, BUSY, NOANSW, BUSYNA
inline constexpr DWORD kCtiMaxForwardEntries = 4;
// LINEDEVCAPS.dwLineStates: the LINE_LINEDEVSTATE messages a line sends as
// TSPI_lineSetStatusMessages asks (none for the single line without call
// events, as the first release).
inline constexpr DWORD kServiceLineStates = LINEDEVSTATE_INSERVICE | LINEDEVSTATE_OUTOFSERVICE;
inline constexpr DWORD kCtiLineStates =
    kServiceLineStates | LINEDEVSTATE_NUMCALLS;  // do-not-disturb and the three kinds

// One address in use, no active or held calls.
LONG FillAddressStatus(LPLINEADDRESSSTATUS status);

// The log texts for the status messages asked for, line states first, each
// table in its fixed order.
std::vector<std::string_view> StatusMessageTexts(DWORD lineStates, DWORD addressStates);

}  // namespace qv
