#include "provider/line_changes.h"

#include <mutex>
#include <string>
#include <unordered_map>
#include <utility>
#include <vector>

#include "provider/call_table.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/entry_trace.h"
#include "provider/line_set.h"
#include "provider/provider_state.h"
#include "provider/tapi_delivery.h"
#include "session/csta_requests.h"
#include "session/line_list.h"
#include "session/line_monitors.h"
#include "session/log.h"
#include "session/pbx_requests.h"
#include "session/settings.h"

namespace qv {

namespace {

std::mutex procLock;
LINEEVENT createProc = nullptr;
HPROVIDER providerHandle = nullptr;
// One change at a time: the dialog and a re-read may race.
std::mutex changeLock;

// On the delivery thread, in the order queued.
void Announce(DWORD message, DWORD_PTR param1, DWORD_PTR param2) {
  LINEEVENT proc = nullptr;
  {
    std::lock_guard lock(procLock);
    proc = createProc;
  }
  if (proc != nullptr) proc(nullptr, nullptr, message, param1, param2, 0);
}

void RemoveLine(ListedLine& line) {
  // Its calls end first: the PBX clears them, TAPI then finds them gone.
  std::vector<std::pair<std::string, std::string>> clears;
  {
    std::lock_guard lock(callTableLock);
    for (CallSlot& slot : line.slots) {
      if (!slot.inUse) continue;
      clears.emplace_back(slot.callId, slot.deviceId);
      slot.inUse = false;
    }
    line.inService = false;
    if (CtiEnabled()) CtiLineRemovedLocked(static_cast<int>(line.position));
  }
  for (const auto& [callId, deviceId] : clears)
    SubmitRequest(RequestKind::kClearConnection, 0, ClearConnectionXml(callId, deviceId));
  RemoveMonitoredLine(static_cast<int>(line.position));
  const DWORD deviceId = ListedLineDeviceId(line);
  const bool named = !line.created || deviceId != 0;
  MarkListedLineRemoved(line);
  writeLog(3, "lines: extension " + line.extension + " removed" +
                  (named ? ", LINE_REMOVE for device " + std::to_string(deviceId) : ""));
  if (named) QueueTapiCall([deviceId] { Announce(LINE_REMOVE, deviceId, 0); });
}

void AddLine(const LineEntry& entry, const std::string& guid) {
  ListedLine* line = AppendListedLine(entry.extension, entry.name, guid);
  if (line == nullptr) return;
  const HPROVIDER provider = [] {
    std::lock_guard lock(procLock);
    return providerHandle;
  }();
  const DWORD_PTR tempId = line->position;
  writeLog(3, "lines: extension " + entry.extension + " added, LINE_CREATE with temporary ID " +
                  std::to_string(tempId));
  QueueTapiCall([provider, tempId] { Announce(LINE_CREATE, reinterpret_cast<DWORD_PTR>(provider), tempId); });
  // The same position in the session's monitors, started now if logged in.
  AddMonitoredLine(entry.extension);
}

}  // namespace

void NoteLineCreateProc(LINEEVENT proc, HPROVIDER provider) {
  std::lock_guard lock(procLock);
  createProc = proc;
  providerHandle = provider;
}

void ApplyLinesSetting() {
  std::lock_guard guard(changeLock);
  if (!providerState.initialised || !LinesListed()) return;
  const std::vector<LineEntry> entries = ParseLineList(ReadOptionalSetting("lines"));
  if (entries.empty()) {
    writeLog(1, "lines: the list holds no extension now; the lines stay until the provider restarts");
    return;
  }
  std::unordered_map<std::string, const LineEntry*> wanted;
  for (const LineEntry& entry : entries) wanted.emplace(entry.extension, &entry);
  // A change of the list, not a call path: looking at every line is fine here.
  std::unordered_map<std::string, ListedLine*> present;
  const std::size_t count = ListedLineCount();
  for (std::size_t i = 0; i < count; ++i) {
    ListedLine* line = ListedLineAt(i);
    if (line == nullptr || line->removed) continue;
    auto it = wanted.find(line->extension);
    if (it == wanted.end()) {
      RemoveLine(*line);
      continue;
    }
    present.emplace(line->extension, line);
    RenameListedLine(*line, it->second->name);
  }
  const std::string guid = ReadOptionalSetting("guid");
  for (const LineEntry& entry : entries) {
    if (present.count(entry.extension) == 0) AddLine(entry, guid);
  }
}

}  // namespace qv

extern "C" LONG TSPIAPI TSPI_providerCreateLineDevice(DWORD_PTR dwTempID, DWORD dwDeviceID) {
  qv::ProviderEntryTrace("TSPI_providerCreateLineDevice");
  if (qv::LinesListed() && !qv::BindCreatedLine(dwTempID, dwDeviceID))
    return static_cast<LONG>(LINEERR_OPERATIONFAILED);
  return 0;
}
