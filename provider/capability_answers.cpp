#include "provider/capability_answers.h"

#include <algorithm>
#include <cstring>

namespace qv {

namespace {

constexpr LONG kStructureTooSmall = static_cast<LONG>(0x8000004D);
constexpr LONG kInvalPointer = static_cast<LONG>(0x80000035);

struct StatusBit {
  DWORD bit;
  std::string_view text;
};

constexpr StatusBit kLineStateTexts[] = {
    {0x8000, "SetStatusMessages: LINEDEVSTATE_BATTERY"},
    {0x100000, "SetStatusMessages: LINEDEVSTATE_CAPSCHANGE"},
    {0x400, "SetStatusMessages: LINEDEVSTATE_CLOSE"},
    {0x200000, "SetStatusMessages: LINEDEVSTATE_CONFIGCHANGE"},
    {0x800000, "SetStatusMessages: LINEDEVSTATE_COMPLCANCEL"},
    {0x4, "SetStatusMessages: LINEDEVSTATE_CONNECTED"},
    {0x20000, "SetStatusMessages: LINEDEVSTATE_DEVSPECIFIC"},
    {0x8, "SetStatusMessages: LINEDEVSTATE_DISCONNECTED"},
    {0x40, "SetStatusMessages: LINEDEVSTATE_INSERVICE"},
    {0x80000, "SetStatusMessages: LINEDEVSTATE_LOCK"},
    {0x100, "SetStatusMessages: LINEDEVSTATE_MAINTENANCE"},
    {0x20, "SetStatusMessages: LINEDEVSTATE_MSGWAITOFF"},
    {0x10, "SetStatusMessages: LINEDEVSTATE_MSGWAITON"},
    {0x800, "SetStatusMessages: LINEDEVSTATE_NUMCALLS"},
    {0x1000, "SetStatusMessages: LINEDEVSTATE_NUMCOMPLETIONS"},
    {0x200, "SetStatusMessages: LINEDEVSTATE_OPEN"},
    {0x1, "SetStatusMessages: LINEDEVSTATE_OTHER"},
    {0x80, "SetStatusMessages: LINEDEVSTATE_OUTOFSERVICE"},
    {0x40000, "SetStatusMessages: LINEDEVSTATE_REINIT"},
    {0x1000000, "SetStatusMessages: LINEDEVSTATE_REMOVED"},
    {0x2, "SetStatusMessages: LINEDEVSTATE_RINGING"},
    {0x4000, "SetStatusMessages: LINEDEVSTATE_ROAMMODE"},
    {0x10000, "SetStatusMessages: LINEDEVSTATE_SIGNAL"},
    {0x2000, "SetStatusMessages: LINEDEVSTATE_TERMINALS"},
    {0x400000, "SetStatusMessages: LINEDEVSTATE_TRANSLATECHANGE"},
};

constexpr StatusBit kAddressStateTexts[] = {
    {0x100, "SetStatusMessages: LINEADDRESSSTATE_CAPSCHANGE"},
    {0x2, "SetStatusMessages: LINEADDRESSSTATE_DEVSPECIFIC"},
    {0x40, "SetStatusMessages: LINEADDRESSSTATE_FORWARD"},
    {0x10, "SetStatusMessages: LINEADDRESSSTATE_INUSEMANY"},
    {0x8, "SetStatusMessages: LINEADDRESSSTATE_INUSEONE"},
    {0x4, "SetStatusMessages: LINEADDRESSSTATE_INUSEZERO"},
    {0x20, "SetStatusMessages: LINEADDRESSSTATE_NUMCALLS"},
    {0x1, "SetStatusMessages: LINEADDRESSSTATE_OTHER"},
    {0x80, "SetStatusMessages: LINEADDRESSSTATE_TERMINALS"},
};

// Characters [first, first + count) of the text, as far as they exist.
std::string_view field(std::string_view text, std::size_t first, std::size_t count) {
  if (first >= text.size()) return {};
  return text.substr(first, count);
}

// UTF-16 little-endian with its NUL, at `offset` of the structure.
void putWide(void* structure, DWORD offset, std::u16string_view text) {
  auto* out = static_cast<unsigned char*>(structure) + offset;
  for (char16_t unit : text) {
    *out++ = static_cast<unsigned char>(unit & 0xFF);
    *out++ = static_cast<unsigned char>(unit >> 8);
  }
  out[0] = 0;
  out[1] = 0;
}

DWORD wideSize(std::u16string_view text) { return static_cast<DWORD>(2 * (text.size() + 1)); }

void setDialParams(LINEDIALPARAMS& params, DWORD pause, DWORD speed, DWORD digit, DWORD dialtone) {
  params.dwDialPause = pause;
  params.dwDialSpeed = speed;
  params.dwDigitDuration = digit;
  params.dwWaitForDialtone = dialtone;
}

}  // namespace

std::uint32_t ParseHexField(std::string_view text) {
  std::uint32_t value = 0;
  for (char c : text) {
    std::uint32_t digit = 0;
    if (c >= '0' && c <= '9') {
      digit = static_cast<std::uint32_t>(c - '0');
    } else if (c >= 'a' && c <= 'f') {
      digit = static_cast<std::uint32_t>(c - 'a' + 10);
    } else if (c >= 'A' && c <= 'F') {
      digit = static_cast<std::uint32_t>(c - 'A' + 10);
    }
    value = value * 16u + digit;
  }
  return value;
}

GUID ParseLineGuid(std::string_view text) {
  GUID guid{};
  guid.Data1 = ParseHexField(field(text, 0, 8));
  guid.Data2 = static_cast<WORD>(ParseHexField(field(text, 9, 4)));
  guid.Data3 = static_cast<WORD>(ParseHexField(field(text, 14, 4)));
  guid.Data4[0] = static_cast<BYTE>(ParseHexField(field(text, 19, 2)));
  guid.Data4[1] = static_cast<BYTE>(ParseHexField(field(text, 21, 2)));
  for (std::size_t i = 0; i < 6; ++i) {
    guid.Data4[2 + i] = static_cast<BYTE>(ParseHexField(field(text, 24 + 2 * i, 2)));
  }
  return guid;
}

DWORD PermanentLineId(std::uint32_t permanentProviderId, std::uint32_t lineDeviceIdBase, DWORD deviceId) {
  return ((permanentProviderId & 0xFFFFu) << 16) | static_cast<DWORD>(deviceId - lineDeviceIdBase);
}

LONG FillLineDevCaps(LPLINEDEVCAPS caps, DWORD deviceId, std::uint32_t permanentProviderId,
                     std::uint32_t lineDeviceIdBase, std::string_view guid, DWORD lineStates) {
  return FillLineDevCaps(
      caps, LineNaming{kLineNameText, PermanentLineId(permanentProviderId, lineDeviceIdBase, deviceId),
                       ParseLineGuid(guid), lineStates});
}

LONG FillLineDevCaps(LPLINEDEVCAPS caps, const LineNaming& naming) {
  if (caps == nullptr) return kInvalPointer;
  const DWORD total = caps->dwTotalSize;
  const DWORD needed = kLineDevCapsFixedSize + wideSize(kProviderInfoText) + wideSize(naming.name);
  // TAPI never hands less than the fixed part; should anyone, the members
  // that follow would land outside the buffer.
  if (total < kLineDevCapsFixedSize) {
    if (total >= 3 * sizeof(DWORD)) {
      caps->dwNeededSize = needed;
      caps->dwUsedSize = 3 * sizeof(DWORD);
    }
    return kStructureTooSmall;
  }
  std::memset(caps, 0, total);
  caps->dwTotalSize = total;
  caps->dwNeededSize = needed;
  caps->dwUsedSize = std::min(total, needed);
  if (total >= needed) {
    caps->dwProviderInfoSize = wideSize(kProviderInfoText);
    caps->dwProviderInfoOffset = kLineDevCapsFixedSize;
    putWide(caps, caps->dwProviderInfoOffset, kProviderInfoText);
    caps->dwLineNameSize = wideSize(naming.name);
    caps->dwLineNameOffset = kLineDevCapsFixedSize + caps->dwProviderInfoSize;
    putWide(caps, caps->dwLineNameOffset, naming.name);
  }
  caps->dwPermanentLineID = naming.permanentLineId;
  caps->dwStringFormat = 1;  // STRINGFORMAT_ASCII
  caps->dwAddressModes = 1;  // LINEADDRESSMODE_ADDRESSID
  caps->dwNumAddresses = 1;
  caps->dwBearerModes = 1;         // LINEBEARERMODE_VOICE
  caps->dwMediaModes = 4;          // LINEMEDIAMODE_INTERACTIVEVOICE
  caps->dwGenerateDigitModes = 2;  // LINEDIGITMODE_DTMF
  setDialParams(caps->MinDialParams, 100, 50, 100, 100);
  setDialParams(caps->MaxDialParams, 1000, 50, 1000, 1000);
  setDialParams(caps->DefaultDialParams, 250, 50, 250, 500);
  caps->dwDevCapFlags = 0x20;  // LINEDEVCAPFLAGS_CLOSEDROP
  caps->dwMaxNumActiveCalls = 1;
  caps->dwLineFeatures = 8;  // LINEFEATURE_MAKECALL
  caps->dwLineStates = naming.lineStates;
  std::memcpy(&caps->PermanentLineGuid, &naming.guid, sizeof naming.guid);
  return 0;
}

LONG FillAddressCaps(LPLINEADDRESSCAPS caps, DWORD deviceId, std::string_view username, bool callEvents) {
  if (caps == nullptr) return kInvalPointer;
  const DWORD total = caps->dwTotalSize;
  if (total < 3 * sizeof(DWORD)) return kStructureTooSmall;
  const DWORD addressSize = username.empty() ? 0 : static_cast<DWORD>(2 * (username.size() + 1));
  const DWORD needed = kLineAddressCapsFixedSize + addressSize;
  caps->dwNeededSize = needed;
  caps->dwUsedSize = std::min(total, needed);
  if (caps->dwUsedSize >= kLineAddressCapsFixedSize) {
    caps->dwLineDeviceID = deviceId;
    caps->dwAddressSharing = 1;     // LINEADDRESSSHARING_PRIVATE
    caps->dwCallInfoStates = 0x30;  // MEDIAMODE | APPSPECIFIC
    caps->dwCallerIDFlags = 0x28;   // ADDRESS | UNKNOWN
    caps->dwCalledIDFlags = 0x28;
    caps->dwRedirectionIDFlags = 0x28;
    caps->dwCallStates = 0x117;       // IDLE, OFFERING, ACCEPTED, DIALING, CONNECTED
    caps->dwDialToneModes = 0x20;     // LINEDIALTONEMODE_UNAVAIL
    caps->dwBusyModes = 0x8;          // LINEBUSYMODE_UNAVAIL
    caps->dwSpecialInfo = 0x10;       // LINESPECIALINFO_UNAVAIL
    caps->dwDisconnectModes = 0x800;  // LINEDISCONNECTMODE_UNAVAIL
    caps->dwMaxNumActiveCalls = 1;
    caps->dwAddrCapFlags = 0x100020;  // DIALED | ACCEPTTOALERT
    caps->dwCallFeatures = 0x2C5;     // ACCEPT, ANSWER, DIAL, DROP, GENERATEDIGITS
    caps->dwAddressFeatures = 0x3;    // FORWARD | MAKECALL
    if (callEvents) {
      caps->dwCallInfoStates = kCtiCallInfoStates;
      caps->dwCallerIDFlags = kCtiPartyIdFlags;
      caps->dwCalledIDFlags = kCtiPartyIdFlags;
      caps->dwConnectedIDFlags = kCtiPartyIdFlags;
      caps->dwCallStates = kCtiCallStates;
      caps->dwDialToneModes = kCtiDialToneModes;
      caps->dwDisconnectModes = kCtiDisconnectModes;
      caps->dwMaxNumOnHoldCalls = 1;
      caps->dwAddrCapFlags = kCtiAddrCapFlags;
      caps->dwCallFeatures = kCtiCallFeatures;
      caps->dwAddressFeatures = kCtiAddressFeatures;
      caps->dwMaxNumOnHoldPendingCalls = kCtiMaxOnHoldPending;
      caps->dwMaxNumConference = kCtiMaxConference;
      caps->dwMaxNumTransConf = kCtiMaxConference;
      caps->dwRemoveFromConfCaps = kCtiRemoveFromConfCaps;
      caps->dwRemoveFromConfState = kCtiRemoveFromConfState;
      caps->dwTransferModes = kCtiTransferModes;
      caps->dwForwardModes = kCtiForwardModes;
      caps->dwMaxForwardEntries = kCtiMaxForwardEntries;
      caps->dwAddressStates = LINEADDRESSSTATE_FORWARD | LINEADDRESSSTATE_NUMCALLS;
    }
  }
  if (addressSize > 0 && total >= needed) {
    caps->dwAddressSize = addressSize;
    caps->dwAddressOffset = kLineAddressCapsFixedSize;
    auto* out = reinterpret_cast<unsigned char*>(caps) + kLineAddressCapsFixedSize;
    for (char c : username) {
      // Extension names are ASCII; other bytes are taken as Latin-1.
      *out++ = static_cast<unsigned char>(c);
      *out++ = 0;
    }
    out[0] = 0;
    out[1] = 0;
  }
  return 0;
}

LONG FillAddressStatus(LPLINEADDRESSSTATUS status) {
  if (status == nullptr) return kInvalPointer;
  // The members written end at dwNumOnHoldPendCalls.
  if (status->dwTotalSize < 7 * sizeof(DWORD)) return kStructureTooSmall;
  status->dwNeededSize = kLineAddressStatusFixedSize;
  status->dwNumInUse = 1;
  status->dwNumActiveCalls = 0;
  status->dwNumOnHoldCalls = 0;
  status->dwNumOnHoldPendCalls = 0;
  return 0;
}

std::vector<std::string_view> StatusMessageTexts(DWORD lineStates, DWORD addressStates) {
  std::vector<std::string_view> texts;
  for (const StatusBit& row : kLineStateTexts) {
    if ((lineStates & row.bit) != 0) texts.push_back(row.text);
  }
  for (const StatusBit& row : kAddressStateTexts) {
    if ((addressStates & row.bit) != 0) texts.push_back(row.text);
  }
  return texts;
}

}  // namespace qv
