#include "provider/line_set.h"

#include <atomic>
#include <memory>
#include <mutex>
#include <unordered_map>

#include "provider/line_identity.h"
#include "session/line_list.h"
#include "session/log.h"
#include "session/settings.h"

namespace qv {

namespace {

struct LineSet {
  std::vector<std::unique_ptr<ListedLine>> lines;
  std::unordered_map<std::uintptr_t, ListedLine*> byHandle;
  std::unordered_map<std::uintptr_t, ListedLine*> bySlot;
};

// Replaced only while the provider is not running (no thread but TAPI's
// own looks at it then); read freely while it runs.
std::atomic<LineSet*> current{nullptr};
std::mutex buildLock;

// Guarded by callTableLock.
std::unordered_map<DRV_REQUESTID, CallSlot*> pendingMakeCalls;

std::u16string widened(const std::string& text) {
  // Extensions and names are taken byte by byte (ASCII, else Latin-1).
  std::u16string out;
  for (char c : text) out.push_back(static_cast<char16_t>(static_cast<unsigned char>(c)));
  return out;
}

std::unique_ptr<LineSet> MakeSet(const std::vector<LineEntry>& entries, std::string_view installationGuid) {
  auto set = std::make_unique<LineSet>();
  set->lines.reserve(entries.size());
  std::unordered_map<DWORD, std::string> ids;
  for (const LineEntry& entry : entries) {
    auto line = std::make_unique<ListedLine>();
    line->position = set->lines.size();
    line->extension = entry.extension;
    line->displayName = widened(LineDisplayName(entry));
    line->permanentLineId = ExtensionPermanentLineId(entry.extension);
    line->guid = ExtensionLineGuid(installationGuid, entry.extension);
    auto [it, fresh] = ids.emplace(line->permanentLineId, entry.extension);
    if (!fresh) {
      writeLog(1, "lines: extensions " + it->second + " and " + entry.extension +
                      " would share a permanent line ID, " + entry.extension + " skipped");
      continue;
    }
    set->byHandle.emplace(reinterpret_cast<std::uintptr_t>(line.get()), line.get());
    for (CallSlot& slot : line->slots)
      set->bySlot.emplace(reinterpret_cast<std::uintptr_t>(&slot), line.get());
    set->lines.push_back(std::move(line));
  }
  return set;
}

}  // namespace

void BuildLineSet(std::string_view linesText, std::string_view installationGuid) {
  std::lock_guard guard(buildLock);
  if (providerState.initialised) return;
  std::unique_ptr<LineSet> set;
  if (!linesText.empty()) set = MakeSet(ParseLineList(linesText), installationGuid);
  // No thread but the caller's uses the set while the provider is down.
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
  const LineSet* set = current.load();
  return set == nullptr ? 0 : set->lines.size();
}

ListedLine* ListedLineAt(std::size_t position) {
  const LineSet* set = current.load();
  if (set == nullptr || position >= set->lines.size()) return nullptr;
  return set->lines[position].get();
}

ListedLine* ListedLineFromDevice(DWORD deviceId) {
  if (deviceId < providerState.lineDeviceIdBase) return nullptr;
  return ListedLineAt(deviceId - providerState.lineDeviceIdBase);
}

ListedLine* ListedLineFromHandle(HDRVLINE hdLine) {
  const LineSet* set = current.load();
  if (set == nullptr) return nullptr;
  auto it = set->byHandle.find(reinterpret_cast<std::uintptr_t>(hdLine));
  return it == set->byHandle.end() ? nullptr : it->second;
}

ListedLine* ListedLineOfSlot(const CallSlot* slot) {
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
