#include "provider/line_set.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <unordered_map>

#include "provider/line_identity.h"
#include "session/line_list.h"
#include "session/log.h"
#include "session/settings.h"

namespace qv {

namespace {

struct LineSet {
  std::vector<std::unique_ptr<ListedLine>> lines;
  std::size_t enumerated = 0;                       // lines reported by TSPI_providerEnumDevices
  std::unordered_map<DWORD, ListedLine*> byDevice;  // created while running
  std::unordered_map<DWORD, std::string> permanentIds;
  std::unordered_map<std::uintptr_t, ListedLine*> byHandle;
  std::unordered_map<std::uintptr_t, ListedLine*> bySlot;
};

// Replaced only while the provider is not running (no thread but TAPI's
// own looks at it then); read freely while it runs.
std::atomic<LineSet*> current{nullptr};
// The set goes when the library is unloaded: a host that loads and unloads
// the provider repeatedly must not lose one each time.
struct SetOwner {
  ~SetOwner() { delete current.exchange(nullptr); }
} setOwner;
std::mutex buildLock;
// Guards the set's contents against the changes made while running.
std::shared_mutex setLock;

// Guarded by callTableLock.
std::unordered_map<DRV_REQUESTID, CallSlot*> pendingMakeCalls;

std::u16string widened(const std::string& text) {
  // Extensions and names are taken byte by byte (ASCII, else Latin-1).
  std::u16string out;
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

// Adds a line at the end of the set; null when its permanent ID is taken.
ListedLine* AddLine(LineSet& set, const LineEntry& entry, std::string_view installationGuid) {
  auto line = std::make_unique<ListedLine>();
  line->position = set.lines.size();
  line->extension = entry.extension;
  line->displayName = widened(LineDisplayName(entry));
  line->permanentLineId = ExtensionPermanentLineId(entry.extension);
  line->guid = ExtensionLineGuid(installationGuid, entry.extension);
  auto [it, fresh] = set.permanentIds.emplace(line->permanentLineId, entry.extension);
  if (!fresh) {
    writeLog(1, "lines: extensions " + it->second + " and " + entry.extension +
                    " would share a permanent line ID, " + entry.extension + " skipped");
    return nullptr;
  }
  set.byHandle.emplace(reinterpret_cast<std::uintptr_t>(line.get()), line.get());
  for (CallSlot& slot : line->slots) set.bySlot.emplace(reinterpret_cast<std::uintptr_t>(&slot), line.get());
  set.lines.push_back(std::move(line));
  return set.lines.back().get();
}

std::unique_ptr<LineSet> MakeSet(const std::vector<LineEntry>& entries, std::string_view installationGuid) {
  auto set = std::make_unique<LineSet>();
  set->lines.reserve(entries.size());
  for (const LineEntry& entry : entries) AddLine(*set, entry, installationGuid);
  set->enumerated = set->lines.size();
  return set;
}

}  // namespace

void BuildLineSet(std::string_view linesText, std::string_view installationGuid) {
  std::lock_guard guard(buildLock);
  if (providerState.initialised) return;
  std::unique_ptr<LineSet> set;
  if (!linesText.empty()) set = MakeSet(ParseLineList(linesText), installationGuid);
  // No thread but the caller's uses the set while the provider is down.
  std::lock_guard calls(callTableLock);
  pendingMakeCalls.clear();
  std::unique_lock write(setLock);
  delete current.exchange(set.release());
}

void BuildLineSetFromRegistry() {
  const std::string text = ReadOptionalSetting("lines");
  if (text.empty()) {
    BuildLineSet({}, {});
    return;
  }
  // The identifiers need the installation's guid; an installation listing
  // lines has one stored by the dialog or the installer.
  BuildLineSet(text, ReadOptionalSetting("guid"));
}

bool LinesListed() { return current.load() != nullptr; }

std::size_t ListedLineCount() {
  std::shared_lock read(setLock);
  const LineSet* set = current.load();
  return set == nullptr ? 0 : set->lines.size();
}

ListedLine* ListedLineAt(std::size_t position) {
  std::shared_lock read(setLock);
  const LineSet* set = current.load();
  if (set == nullptr || position >= set->lines.size()) return nullptr;
  return set->lines[position].get();
}

ListedLine* ListedLineFromDevice(DWORD deviceId) {
  std::shared_lock read(setLock);
  const LineSet* set = current.load();
  if (set == nullptr) return nullptr;
  ListedLine* line = nullptr;
  const DWORD offset = deviceId - providerState.lineDeviceIdBase;
  if (deviceId >= providerState.lineDeviceIdBase && offset < set->enumerated) {
    line = set->lines[offset].get();
  } else if (auto it = set->byDevice.find(deviceId); it != set->byDevice.end()) {
    line = it->second;
  }
  return line == nullptr || line->removed ? nullptr : line;
}

DWORD ListedLineDeviceId(const ListedLine& line) {
  std::shared_lock read(setLock);
  return line.created ? line.deviceId : providerState.lineDeviceIdBase + static_cast<DWORD>(line.position);
}

ListedLine* AppendListedLine(const std::string& extension, const std::string& name,
                             std::string_view installationGuid) {
  std::unique_lock write(setLock);
  LineSet* set = current.load();
  if (set == nullptr) return nullptr;
  ListedLine* line = AddLine(*set, LineEntry{extension, name}, installationGuid);
  if (line != nullptr) line->created = true;
  return line;
}

void MarkListedLineRemoved(ListedLine& line) {
  std::unique_lock write(setLock);
  line.removed = true;
  if (LineSet* set = current.load()) {
    set->permanentIds.erase(line.permanentLineId);
    if (line.created) set->byDevice.erase(line.deviceId);
  }
}

void RenameListedLine(ListedLine& line, const std::string& name) {
  std::unique_lock write(setLock);
  line.displayName = widened(LineDisplayName(LineEntry{line.extension, name}));
}

std::u16string ListedLineName(const ListedLine& line) {
  std::shared_lock read(setLock);
  return line.displayName;
}

bool BindCreatedLine(DWORD_PTR tempId, DWORD deviceId) {
  std::unique_lock write(setLock);
  LineSet* set = current.load();
  if (set == nullptr || tempId >= set->lines.size()) return false;
  ListedLine* line = set->lines[tempId].get();
  if (!line->created || line->removed || line->deviceId != 0) return false;
  line->deviceId = deviceId;
  set->byDevice[deviceId] = line;
  return true;
}

ListedLine* ListedLineFromHandle(HDRVLINE hdLine) {
  std::shared_lock read(setLock);
  const LineSet* set = current.load();
  if (set == nullptr) return nullptr;
  auto it = set->byHandle.find(reinterpret_cast<std::uintptr_t>(hdLine));
  return it == set->byHandle.end() ? nullptr : it->second;
}

ListedLine* ListedLineOfSlot(const CallSlot* slot) {
  std::shared_lock read(setLock);
  const LineSet* set = current.load();
  if (set == nullptr) return nullptr;
  auto it = set->bySlot.find(reinterpret_cast<std::uintptr_t>(slot));
  return it == set->bySlot.end() ? nullptr : it->second;
}

void NoteListedMakeCallLocked(DRV_REQUESTID requestId, CallSlot* slot) { pendingMakeCalls[requestId] = slot; }

CallSlot* ListedMakeCallLocked(DRV_REQUESTID requestId) {
  auto it = pendingMakeCalls.find(requestId);
  return it == pendingMakeCalls.end() ? nullptr : it->second;
}

CallSlot* TakeListedMakeCallLocked(DRV_REQUESTID requestId) {
  auto it = pendingMakeCalls.find(requestId);
  if (it == pendingMakeCalls.end()) return nullptr;
  CallSlot* slot = it->second;
  pendingMakeCalls.erase(it);
  return slot;
}

}  // namespace qv
