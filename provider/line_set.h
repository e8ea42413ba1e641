#pragma once
// The lines of the `lines` list: one record per extension, in the order
// listed; device ID = TAPI's base + position. The set is made when TAPI
// enumerates the devices; while the provider runs lines are only added at
// the end (device IDs from TAPI) or marked removed (their records stay, so
// a handle TAPI still holds stays valid). Lookups (by device ID, by HDRVLINE,
// by call handle) are an index or a hash, never a scan. With `lines` empty there is no set and the single
// line of `username` answers as it always has.
#include <array>
#include <cstddef>
#include <string>
#include <string_view>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_table.h"
#include "provider/provider_state.h"

namespace qv {

struct ListedLine : LineRecord {
  std::size_t position = 0;
  std::string extension;
  std::u16string displayName;  // "Name (202)" or "202"
  DWORD permanentLineId = 0;
  GUID guid{};
  // Guarded by callTableLock, as the single line's table is.
  std::array<CallSlot, kCallTableSize> slots{};
  bool inService = false;  // its device monitor runs
  // Set while the provider runs, under the set's own lock.
  bool created = false;  // announced with LINE_CREATE; deviceId once TAPI named it
  DWORD deviceId = 0;
  bool removed = false;  // announced with LINE_REMOVE: no device ID reaches it
};

// Makes the set from the `lines` text (empty text: no set) unless the
// provider is running; logs what the list holds that cannot be used.
void BuildLineSet(std::string_view linesText, std::string_view installationGuid);
// The `lines` value as stored now, read without logging a missing value.
void BuildLineSetFromRegistry();

bool LinesListed();
// The device ID TAPI knows the line by (0 for a created line TAPI has not
// named yet).
DWORD ListedLineDeviceId(const ListedLine& line);
// While running: a line for a new entry, at the end; null when the
// extension would share a permanent ID.
ListedLine* AppendListedLine(const std::string& extension, const std::string& name,
                             std::string_view installationGuid);
void MarkListedLineRemoved(ListedLine& line);
void RenameListedLine(ListedLine& line, const std::string& name);
// The line's name now (it may be renamed while running).
std::u16string ListedLineName(const ListedLine& line);
// TSPI_providerCreateLineDevice: the created line with this temporary id
// (its position) gets TAPI's device ID. False for any other id.
bool BindCreatedLine(DWORD_PTR tempId, DWORD deviceId);
std::size_t ListedLineCount();
ListedLine* ListedLineAt(std::size_t position);
// Null for a device ID or handle that is not one of the listed lines.
ListedLine* ListedLineFromDevice(DWORD deviceId);
ListedLine* ListedLineFromHandle(HDRVLINE hdLine);
// The listed line holding the call slot, or null (the single line's slots
// are not in the set).
ListedLine* ListedLineOfSlot(const CallSlot* slot);

// Listed calls whose MakeCall waits for its outcome, by request id
// (callTableLock held).
void NoteListedMakeCallLocked(DRV_REQUESTID requestId, CallSlot* slot);
CallSlot* TakeListedMakeCallLocked(DRV_REQUESTID requestId);
CallSlot* ListedMakeCallLocked(DRV_REQUESTID requestId);

}  // namespace qv
