// Capability and status answers for the line. They read only constants, the
// state stored at initialisation and the current settings, and take no lock.
#include <string>

#include "platform/tapi.h"
#include "provider/capability_answers.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/cti_status.h"
#include "provider/entry_trace.h"
#include "provider/line_set.h"
#include "provider/listed_line_state.h"
#include "provider/provider_state.h"
#include "session/log.h"
#include "session/settings.h"

extern "C" LONG TSPIAPI TSPI_lineGetDevCaps(DWORD dwDeviceID, DWORD /*dwTSPIVersion*/, DWORD /*dwExtVersion*/,
                                            LPLINEDEVCAPS lpLineDevCaps) {
  qv::writeLog(5, "TSPI_lineGetDevCaps dwDeviceID=" + std::to_string(dwDeviceID));
  if (qv::LinesListed()) {
    const qv::ListedLine* line = qv::ListedLineFromDevice(dwDeviceID);
    if (line == nullptr) return static_cast<LONG>(LINEERR_BADDEVICEID);
    const std::u16string name = qv::ListedLineName(*line);
    return qv::FillLineDevCaps(lpLineDevCaps,
                               {name, line->permanentLineId, line->guid,
                                qv::CtiEnabled() ? qv::kCtiLineStates : qv::kServiceLineStates});
  }
  const qv::ProviderSettings settings = qv::SettingsSnapshot();
  return qv::FillLineDevCaps(lpLineDevCaps, dwDeviceID, qv::providerState.permanentProviderId,
                             qv::providerState.lineDeviceIdBase, settings.guid,
                             qv::CtiEnabled(settings) ? qv::kCtiLineStates : 0);
}

extern "C" LONG TSPIAPI TSPI_lineGetAddressCaps(DWORD dwDeviceID, DWORD /*dwAddressID*/,
                                                DWORD /*dwTSPIVersion*/, DWORD /*dwExtVersion*/,
                                                LPLINEADDRESSCAPS lpAddressCaps) {
  qv::ProviderEntryTrace("TSPI_lineGetAddressCaps");
  if (qv::LinesListed()) {
    const qv::ListedLine* line = qv::ListedLineFromDevice(dwDeviceID);
    if (line == nullptr) return static_cast<LONG>(LINEERR_BADDEVICEID);
    return qv::FillAddressCaps(lpAddressCaps, dwDeviceID, line->extension, qv::CtiEnabled());
  }
  const qv::ProviderSettings settings = qv::SettingsSnapshot();
  return qv::FillAddressCaps(lpAddressCaps, dwDeviceID, settings.username, qv::CtiEnabled(settings));
}

extern "C" LONG TSPIAPI TSPI_lineGetLineDevStatus(HDRVLINE hdLine, LPLINEDEVSTATUS lpLineDevStatus) {
  qv::ProviderEntryTrace("TSPI_lineGetLineDevStatus");
  if (qv::LinesListed()) {
    qv::ListedLine* line = qv::ListedLineFromHandle(hdLine);
    if (line == nullptr) return static_cast<LONG>(LINEERR_INVALLINEHANDLE);
    if (qv::CtiEnabled()) return qv::FillCtiLineDevStatus(hdLine, lpLineDevStatus);
    return qv::FillListedLineDevStatus(*line, lpLineDevStatus);
  }
  if (qv::CtiEnabled()) return qv::FillCtiLineDevStatus(hdLine, lpLineDevStatus);
  return static_cast<LONG>(0x8000002B);  // LINEERR_INVALLINEHANDLE
}

extern "C" LONG TSPIAPI TSPI_lineGetAddressStatus(HDRVLINE hdLine, DWORD /*dwAddressID*/,
                                                  LPLINEADDRESSSTATUS lpAddressStatus) {
  qv::ProviderEntryTrace("TSPI_lineGetAddressStatus");
  if (qv::CtiEnabled()) return qv::FillCtiAddressStatus(hdLine, lpAddressStatus);
  return qv::FillAddressStatus(lpAddressStatus);
}

// The misspelt twin of TSPI_lineGetAddressStatus stays exported; it answers
// without touching its arguments.
extern "C" LONG TSPIAPI TSPI_lineGetAdressStatus(HDRVLINE /*hdLine*/, DWORD /*dwAddressID*/,
                                                 LPLINEADDRESSSTATUS /*lpAddressStatus*/) {
  qv::ProviderEntryTrace("TSPI_lineGetAdressStatus");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetNumAddressIDs(HDRVLINE /*hdLine*/, LPDWORD lpdwNumAddressIDs) {
  qv::ProviderEntryTrace("TSPI_lineGetNumAddressIDs");
  if (lpdwNumAddressIDs != nullptr) *lpdwNumAddressIDs = 1;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetExtensionID(DWORD /*dwDeviceID*/, DWORD /*dwTSPIVersion*/,
                                                LPLINEEXTENSIONID lpExtensionID) {
  qv::ProviderEntryTrace("TSPI_lineGetExtensionID");
  // The line has no device-specific extensions.
  if (lpExtensionID != nullptr) {
    lpExtensionID->dwExtensionID0 = 0;
    lpExtensionID->dwExtensionID1 = 0;
    lpExtensionID->dwExtensionID2 = 0;
    lpExtensionID->dwExtensionID3 = 0;
  }
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetAddressID(HDRVLINE /*hdLine*/, LPDWORD /*lpdwAddressID*/,
                                              DWORD /*dwAddressMode*/, LPCWSTR /*lpsAddress*/,
                                              DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineGetAddressID");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetStatusMessages(HDRVLINE hdLine, DWORD dwLineStates,
                                                   DWORD dwAddressStates) {
  qv::ProviderEntryTrace("TSPI_lineSetStatusMessages");
  // A listed line reports going out of and back into service as asked.
  if (qv::ListedLine* line = qv::ListedLineFromHandle(hdLine))
    qv::SetListedLineStatusMessages(*line, dwLineStates);
  // The call-control line sends those it supports; otherwise only logged.
  if (qv::CtiEnabled()) qv::CtiSetStatusMessages(hdLine, dwLineStates, dwAddressStates);
  for (std::string_view text : qv::StatusMessageTexts(dwLineStates, dwAddressStates)) qv::writeLog(5, text);
  return 0;
}
