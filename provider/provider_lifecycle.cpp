// Bringing the provider up and down, announcing its devices, agreeing on the
// interface version, naming the user-interface module, opening the line.
#include <algorithm>
#include <mutex>
#include <string>
#include <vector>

#include "platform/module.h"
#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/closing_requests.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/entry_trace.h"
#include "provider/line_changes.h"
#include "provider/line_set.h"
#include "provider/provider_state.h"
#include "provider/session_event_sink.h"
#include "provider/tapi_delivery.h"
#include "session/line_monitors.h"
#include "session/log.h"
#include "session/pending_requests.h"
#include "session/session.h"
#include "session/settings.h"

namespace {

// Serialises init against shutdown so a racing pair can neither start two
// sessions nor stop one that is still starting. Taken before any other lock
// and never while TAPI's procedures are called.
std::mutex lifecycleLock;
// TAPI enumerates before it initialises; a host that does not gets the
// lines made at initialisation.
bool linesEnumerated = false;

constexpr DWORD kModuleNameCapacity = 260;

}  // namespace

extern "C" LONG TSPIAPI TSPI_providerInit(DWORD /*dwTSPIVersion*/, DWORD dwPermanentProviderID,
                                          DWORD dwLineDeviceIDBase, DWORD dwPhoneDeviceIDBase,
                                          DWORD_PTR /*dwNumLines*/, DWORD_PTR /*dwNumPhones*/,
                                          ASYNC_COMPLETION lpfnCompletionProc, LPDWORD /*lpdwTSPIOptions*/) {
  std::lock_guard<std::mutex> guard(lifecycleLock);
  auto& state = qv::providerState;
  if (state.initialised) return 0;
  if (!linesEnumerated) qv::BuildLineSetFromRegistry();
  linesEnumerated = false;
  state.permanentProviderId = dwPermanentProviderID;
  state.lineDeviceIdBase = dwLineDeviceIDBase;
  state.completionProc = lpfnCompletionProc;
  state.phoneDeviceIdBase = dwPhoneDeviceIDBase;
  state.initialised = true;
  qv::writeLog(1, "Provider Init");
  // TAPI hears of requests only through the delivery thread, and the session
  // reports only to the registered sink: both are ready before it starts.
  qv::StartTapiDelivery(lpfnCompletionProc);
  qv::SetSessionEvents(&qv::providerSessionEvents());
  // Each listed line gets its own device monitor after the login.
  std::vector<std::string> monitored;
  for (std::size_t i = 0; i < qv::ListedLineCount(); ++i) monitored.push_back(qv::ListedLineAt(i)->extension);
  qv::SetMonitoredLines(std::move(monitored));
  qv::StartSession();
  // The settings were read by StartSession; events follow the login, later.
  qv::StartCtiLine(qv::SettingsSnapshot());
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerShutdown(DWORD /*dwTSPIVersion*/, DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TSPI_providerShutdown");
  std::lock_guard<std::mutex> guard(lifecycleLock);
  if (!qv::providerState.initialised) return 0;
  qv::StopSession();
  // The session failed what was pending; those completions are delivered
  // before this returns, and nothing after.
  qv::SetSessionEvents(nullptr);
  qv::StopCtiLine();
  qv::StopTapiDelivery();
  qv::providerState.initialised = false;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerEnumDevices(DWORD /*dwPermanentProviderID*/, LPDWORD lpdwNumLines,
                                                 LPDWORD lpdwNumPhones, HPROVIDER hProvider,
                                                 LINEEVENT lpfnLineCreateProc,
                                                 PHONEEVENT /*lpfnPhoneCreateProc*/) {
  qv::ProviderEntryTrace("TSPI_providerEnumDevices");
  {
    std::lock_guard<std::mutex> guard(lifecycleLock);
    qv::BuildLineSetFromRegistry();
    linesEnumerated = !qv::providerState.initialised;
  }
  qv::NoteLineCreateProc(lpfnLineCreateProc, hProvider);
  *lpdwNumLines = qv::LinesListed() ? static_cast<DWORD>(qv::ListedLineCount()) : 1;
  *lpdwNumPhones = 1;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineNegotiateTSPIVersion(DWORD /*dwDeviceID*/, DWORD dwLowVersion,
                                                      DWORD dwHighVersion, LPDWORD lpdwTSPIVersion) {
  if (dwLowVersion > qv::kTspiVersion) return static_cast<LONG>(LINEERR_INCOMPATIBLEAPIVERSION);
  *lpdwTSPIVersion = std::min<DWORD>(dwHighVersion, qv::kTspiVersion);
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneNegotiateTSPIVersion(DWORD /*dwDeviceID*/, DWORD dwLowVersion,
                                                       DWORD dwHighVersion, LPDWORD lpdwTSPIVersion) {
  qv::writeLog(5, "TSPI_phoneNegotiateTSPIVersion dwLowVersion=" + std::to_string(dwLowVersion) +
                      " dwHighVersion=" + std::to_string(dwHighVersion) +
                      " myVersion=" + std::to_string(qv::kTspiVersion));
  if (dwHighVersion < qv::kTspiVersion) return static_cast<LONG>(PHONEERR_INCOMPATIBLEAPIVERSION);
  *lpdwTSPIVersion = qv::kTspiVersion;
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerUIIdentify(LPWSTR lpszUIDLLName) {
  qv::ProviderEntryTrace("TSPI_providerUIIdentify");
  if (qv::providerState.moduleHandle == nullptr) {
    qv::writeLog(0, "TSPI_providerUIIdentify: Instance not available");
    return 1;
  }
  // The provider is its own user-interface library.
  qv::writeModuleFileName(qv::providerState.moduleHandle, lpszUIDLLName, kModuleNameCapacity);
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_providerUIIdentify(LPWSTR /*lpszUIDLLName*/) {
  qv::ProviderEntryTrace("TUISPI_providerUIIdentify");
  return 0;
}

// Registration is done from outside by the installer; nothing to do here.
extern "C" LONG TSPIAPI TSPI_providerInstall(HWND /*hwndOwner*/, DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TSPI_providerInstall");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_providerInstall(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/, HWND /*hwndOwner*/,
                                               DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TUISPI_providerInstall");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerRemove(HWND /*hwndOwner*/, DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TSPI_providerRemove");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_providerRemove(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/, HWND /*hwndOwner*/,
                                              DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TUISPI_providerRemove");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineOpen(DWORD dwDeviceID, HTAPILINE htLine, LPHDRVLINE lphdLine,
                                      DWORD /*dwTSPIVersion*/, LINEEVENT lpfnEventProc) {
  qv::ProviderEntryTrace("TSPI_lineOpen");
  qv::LineRecord* line = &qv::lineRecord;
  if (qv::LinesListed()) {
    line = qv::ListedLineFromDevice(dwDeviceID);
    if (line == nullptr) return static_cast<LONG>(LINEERR_BADDEVICEID);
  }
  *lphdLine = reinterpret_cast<HDRVLINE>(line);
  // The call-control line reads these on the session's and the delivery thread.
  {
    std::lock_guard lock(qv::callTableLock);
    line->htLine = htLine;
    line->eventProc = lpfnEventProc;
  }
  if (qv::CtiEnabled()) qv::CtiLineOpened(*lphdLine);
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineClose(HDRVLINE hdLine) {
  qv::ProviderEntryTrace("TSPI_lineClose");
  std::vector<DRV_REQUESTID> closed;
  if (qv::ListedLine* line = qv::ListedLineFromHandle(hdLine)) {
    {
      std::lock_guard lock(qv::callTableLock);
      line->eventProc = nullptr;
      line->htLine = nullptr;
      line->statusMessages = 0;
      line->addressStatusMessages = 0;
      for (qv::CallSlot& slot : line->slots) {
        std::vector<DRV_REQUESTID> ofCall = qv::CloseRequestsLocked(slot);
        closed.insert(closed.end(), ofCall.begin(), ofCall.end());
      }
      if (qv::CtiEnabled()) {
        std::vector<DRV_REQUESTID> forwards = qv::CtiCloseForwardsLocked(hdLine);
        closed.insert(closed.end(), forwards.begin(), forwards.end());
      }
    }
    qv::CompleteClosedRequests(closed);
    return 0;
  }
  {
    std::lock_guard lock(qv::callTableLock);
    // Nothing more reaches TAPI about a closed line.
    if (qv::CtiEnabled()) qv::lineRecord.eventProc = nullptr;
    for (qv::CallSlot& slot : qv::callTable) {
      std::vector<DRV_REQUESTID> ofCall = qv::CloseRequestsLocked(slot);
      closed.insert(closed.end(), ofCall.begin(), ofCall.end());
    }
    if (qv::CtiEnabled()) {
      std::vector<DRV_REQUESTID> forwards = qv::CtiCloseForwardsLocked(hdLine);
      closed.insert(closed.end(), forwards.begin(), forwards.end());
    }
  }
  qv::CompleteClosedRequests(closed);
  return 0;
}
