// tsphost caps: the line's device and address capabilities and its status
// answers, printed with the names of the flags they hold.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tsphost/provider_choice.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {
namespace {

struct Flag {
  std::uint32_t bit;
  const char* name;
};

// Variable parts are small; this leaves room for any provider's strings.
constexpr DWORD kCapsBufferSize = 4096;

std::string flagNames(std::uint32_t value, const std::vector<Flag>& flags) {
  std::string text = hex32(value);
  std::string names;
  std::uint32_t known = 0;
  for (const Flag& f : flags) {
    if ((value & f.bit) != 0) {
      names += (names.empty() ? "" : " | ") + std::string(f.name);
      known |= f.bit;
    }
  }
  if ((value & ~known) != 0) names += (names.empty() ? "" : " | ") + hex32(value & ~known);
  return names.empty() ? text : text + "  " + names;
}

std::string wideAt(const unsigned char* base, DWORD total, DWORD offset, DWORD size) {
  if (size == 0) return "(none)";
  if (offset > total || size > total - offset) return "(outside the structure)";
  std::u16string text;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    char16_t unit = static_cast<char16_t>(base[offset + i] | (base[offset + i + 1] << 8));
    if (unit == 0) break;
    text.push_back(unit);
  }
  std::vector<WCHAR> units(text.begin(), text.end());
  units.push_back(0);
  return "\"" + narrow(units.data()) + "\"";
}

void row(const char* name, const std::string& value) { std::printf("  %-26s %s\n", name, value.c_str()); }
void row(const char* name, std::uint32_t value) { row(name, std::to_string(value)); }

std::string dialParams(const LINEDIALPARAMS& p) {
  char text[160];
  std::snprintf(text, sizeof text, "pause %u ms, speed %u ms, digit %u ms, dial tone wait %u ms",
                static_cast<unsigned>(p.dwDialPause), static_cast<unsigned>(p.dwDialSpeed),
                static_cast<unsigned>(p.dwDigitDuration), static_cast<unsigned>(p.dwWaitForDialtone));
  return text;
}

void showDevCaps(Host& host) {
  auto getDevCaps = host.get<decltype(&TSPI_lineGetDevCaps)>("TSPI_lineGetDevCaps");
  if (getDevCaps == nullptr) return;
  std::vector<std::uint32_t> words(kCapsBufferSize / 4, 0);
  auto* caps = reinterpret_cast<LINEDEVCAPS*>(words.data());
  caps->dwTotalSize = kCapsBufferSize;
  LONG rc = getDevCaps(host.lineDeviceIdBase, host.tspiVersion, 0, caps);
  std::printf("-> TSPI_lineGetDevCaps(%u) = %s\n", static_cast<unsigned>(host.lineDeviceIdBase),
              resultText(rc).c_str());
  if (rc != 0) return;
  const auto* base = reinterpret_cast<const unsigned char*>(words.data());
  std::printf("Line device capabilities\n");
  row("size total/needed/used", std::to_string(caps->dwTotalSize) + "/" + std::to_string(caps->dwNeededSize) +
                                    "/" + std::to_string(caps->dwUsedSize));
  row("provider info", wideAt(base, kCapsBufferSize, caps->dwProviderInfoOffset, caps->dwProviderInfoSize));
  row("line name", wideAt(base, kCapsBufferSize, caps->dwLineNameOffset, caps->dwLineNameSize));
  row("permanent line ID", hex32(caps->dwPermanentLineID));
  row("permanent line GUID", guidText(caps->PermanentLineGuid));
  // One value, not a set of flags.
  const char* formats[] = {"?", "ASCII", "DBCS", "UNICODE", "BINARY"};
  row("string format",
      hex32(caps->dwStringFormat) + "  " + formats[caps->dwStringFormat <= 4 ? caps->dwStringFormat : 0]);
  row("address modes", flagNames(caps->dwAddressModes, {{1, "ADDRESSID"}, {2, "DIALABLEADDR"}}));
  row("addresses", caps->dwNumAddresses);
  row("bearer modes", flagNames(caps->dwBearerModes, {{1, "VOICE"},
                                                      {2, "SPEECH"},
                                                      {4, "MULTIUSE"},
                                                      {8, "DATA"},
                                                      {0x10, "ALTSPEECHDATA"},
                                                      {0x20, "NONCALLSIGNALING"},
                                                      {0x40, "PASSTHROUGH"},
                                                      {0x80, "RESTRICTEDDATA"}}));
  row("media modes", flagNames(caps->dwMediaModes, {{2, "UNKNOWN"},
                                                    {4, "INTERACTIVEVOICE"},
                                                    {8, "AUTOMATEDVOICE"},
                                                    {0x10, "DATAMODEM"},
                                                    {0x20, "G3FAX"},
                                                    {0x40, "TDD"},
                                                    {0x80, "G4FAX"},
                                                    {0x100, "DIGITALDATA"}}));
  row("digit generation", flagNames(caps->dwGenerateDigitModes, {{1, "PULSE"}, {2, "DTMF"}, {4, "DTMFEND"}}));
  row("min dial params", dialParams(caps->MinDialParams));
  row("max dial params", dialParams(caps->MaxDialParams));
  row("default dial params", dialParams(caps->DefaultDialParams));
  row("device flags", flagNames(caps->dwDevCapFlags, {{1, "CROSSADDRCONF"},
                                                      {2, "HIGHLEVCOMP"},
                                                      {4, "LOWLEVCOMP"},
                                                      {8, "MEDIACONTROL"},
                                                      {0x10, "MULTIPLEADDR"},
                                                      {0x20, "CLOSEDROP"},
                                                      {0x40, "DIALBILLING"},
                                                      {0x80, "DIALQUIET"},
                                                      {0x100, "DIALDIALTONE"}}));
  row("max active calls", caps->dwMaxNumActiveCalls);
  row("line features", flagNames(caps->dwLineFeatures, {{1, "DEVSPECIFIC"},
                                                        {2, "DEVSPECIFICFEAT"},
                                                        {4, "FORWARD"},
                                                        {8, "MAKECALL"},
                                                        {0x10, "SETMEDIACONTROL"},
                                                        {0x20, "SETTERMINAL"}}));
}

void showAddressCaps(Host& host) {
  auto getAddressCaps = host.get<decltype(&TSPI_lineGetAddressCaps)>("TSPI_lineGetAddressCaps");
  if (getAddressCaps == nullptr) return;
  std::vector<std::uint32_t> words(kCapsBufferSize / 4, 0);
  auto* caps = reinterpret_cast<LINEADDRESSCAPS*>(words.data());
  caps->dwTotalSize = kCapsBufferSize;
  LONG rc = getAddressCaps(host.lineDeviceIdBase, 0, host.tspiVersion, 0, caps);
  std::printf("-> TSPI_lineGetAddressCaps(%u, 0) = %s\n", static_cast<unsigned>(host.lineDeviceIdBase),
              resultText(rc).c_str());
  if (rc != 0) return;
  const auto* base = reinterpret_cast<const unsigned char*>(words.data());
  const std::vector<Flag> partyId = {{1, "BLOCKED"},    {2, "OUTOFAREA"},  {4, "NAME"},      {8, "ADDRESS"},
                                     {0x10, "PARTIAL"}, {0x20, "UNKNOWN"}, {0x40, "UNAVAIL"}};
  std::printf("Address capabilities\n");
  row("size total/needed/used", std::to_string(caps->dwTotalSize) + "/" + std::to_string(caps->dwNeededSize) +
                                    "/" + std::to_string(caps->dwUsedSize));
  row("line device ID", caps->dwLineDeviceID);
  row("address", wideAt(base, kCapsBufferSize, caps->dwAddressOffset, caps->dwAddressSize));
  row("sharing", flagNames(caps->dwAddressSharing, {{1, "PRIVATE"},
                                                    {2, "BRIDGEDEXCL"},
                                                    {4, "BRIDGEDNEW"},
                                                    {8, "BRIDGEDSHARED"},
                                                    {0x10, "MONITORED"}}));
  row("call info states", flagNames(caps->dwCallInfoStates, {{0x10, "MEDIAMODE"}, {0x20, "APPSPECIFIC"}}));
  row("caller ID", flagNames(caps->dwCallerIDFlags, partyId));
  row("called ID", flagNames(caps->dwCalledIDFlags, partyId));
  row("redirection ID", flagNames(caps->dwRedirectionIDFlags, partyId));
  row("call states", flagNames(caps->dwCallStates, {{1, "IDLE"},
                                                    {2, "OFFERING"},
                                                    {4, "ACCEPTED"},
                                                    {8, "DIALTONE"},
                                                    {0x10, "DIALING"},
                                                    {0x20, "RINGBACK"},
                                                    {0x40, "BUSY"},
                                                    {0x80, "SPECIALINFO"},
                                                    {0x100, "CONNECTED"},
                                                    {0x200, "PROCEEDING"},
                                                    {0x400, "ONHOLD"},
                                                    {0x4000, "DISCONNECTED"},
                                                    {0x8000, "UNKNOWN"}}));
  row("dial tone modes", flagNames(caps->dwDialToneModes, {{1, "NORMAL"},
                                                           {2, "SPECIAL"},
                                                           {4, "INTERNAL"},
                                                           {8, "EXTERNAL"},
                                                           {0x10, "UNKNOWN"},
                                                           {0x20, "UNAVAIL"}}));
  row("busy modes",
      flagNames(caps->dwBusyModes, {{1, "STATION"}, {2, "TRUNK"}, {4, "UNKNOWN"}, {8, "UNAVAIL"}}));
  row("special info",
      flagNames(caps->dwSpecialInfo,
                {{1, "NOCIRCUIT"}, {2, "CUSTIRREG"}, {4, "REORDER"}, {8, "UNKNOWN"}, {0x10, "UNAVAIL"}}));
  row("disconnect modes", flagNames(caps->dwDisconnectModes, {{1, "NORMAL"}, {0x800, "UNAVAIL"}}));
  row("max active calls", caps->dwMaxNumActiveCalls);
  row("address flags", flagNames(caps->dwAddrCapFlags, {{0x20, "DIALED"}, {0x100000, "ACCEPTTOALERT"}}));
  row("call features",
      flagNames(caps->dwCallFeatures,
                {{1, "ACCEPT"}, {4, "ANSWER"}, {0x40, "DIAL"}, {0x80, "DROP"}, {0x200, "GENERATEDIGITS"}}));
  row("address features", flagNames(caps->dwAddressFeatures, {{1, "FORWARD"}, {2, "MAKECALL"}}));
}

void showStatus(Host& host) {
  std::printf("Status\n");
  if (auto numIds = host.get<decltype(&TSPI_lineGetNumAddressIDs)>("TSPI_lineGetNumAddressIDs")) {
    DWORD count = 0;
    LONG rc = numIds(host.hdLine, &count);
    row("address IDs", resultText(rc) == "0" ? std::to_string(count) : resultText(rc));
  }
  if (auto status = host.get<decltype(&TSPI_lineGetAddressStatus)>("TSPI_lineGetAddressStatus")) {
    std::vector<std::uint32_t> words(64, 0);
    auto* s = reinterpret_cast<LINEADDRESSSTATUS*>(words.data());
    s->dwTotalSize = 64;
    LONG rc = status(host.hdLine, 0, s);
    row("address status", rc != 0 ? resultText(rc)
                                  : "in use " + std::to_string(s->dwNumInUse) + ", active calls " +
                                        std::to_string(s->dwNumActiveCalls) + ", on hold " +
                                        std::to_string(s->dwNumOnHoldCalls) + ", on hold pending " +
                                        std::to_string(s->dwNumOnHoldPendCalls));
  }
  if (auto devStatus = host.get<decltype(&TSPI_lineGetLineDevStatus)>("TSPI_lineGetLineDevStatus")) {
    std::vector<std::uint32_t> words(128, 0);
    words[0] = 512;
    row("line device status",
        resultText(devStatus(host.hdLine, reinterpret_cast<LINEDEVSTATUS*>(words.data()))));
  }
  if (auto extension = host.get<decltype(&TSPI_lineGetExtensionID)>("TSPI_lineGetExtensionID")) {
    LINEEXTENSIONID id{};
    LONG rc = extension(host.lineDeviceIdBase, host.tspiVersion, &id);
    row("extension ID", rc != 0 ? resultText(rc)
                                : hex32(id.dwExtensionID0) + " " + hex32(id.dwExtensionID1) + " " +
                                      hex32(id.dwExtensionID2) + " " + hex32(id.dwExtensionID3));
  }
}

}  // namespace

int runCaps(const std::vector<std::string>& args) {
  const std::vector<std::string> providers = chooseProviders(args);
  if (providers.empty()) {
    std::printf("usage: tsphost caps [provider file]\n");
    return 2;
  }
  bool ok = true;
  for (const std::string& path : providers) {
    Host host;
    if (!loadProvider(host, path) || !negotiate(host) || !enumerateDevices(host)) {
      ok = false;
      continue;
    }
    // Without a PBX the session does not start; the answers do not depend on it.
    initProvider(host);
    showDevCaps(host);
    showAddressCaps(host);
    showStatus(host);
    ok = tearDown(host) && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace qv::tsphost
