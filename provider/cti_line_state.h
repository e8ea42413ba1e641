#pragma once
// One call-control line's state: the single line of `username`, or one
// listed line. A listed line's state is made when it is first used (an
// event while it is open, a request, a report) and kept while the library
// is loaded, so that a message queued for it never outlives it; every
// start of the provider resets it.
//
// Everything here is guarded by callTableLock.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "provider/call_model.h"
#include "provider/call_table.h"
#include "provider/forward_list.h"
#include "provider/provider_state.h"

namespace qv {

// The line's calls by kind, for LINEDEVSTATUS and LINEADDRESSSTATUS.
struct CtiCallCounts {
  DWORD active = 0;
  DWORD onHold = 0;
  DWORD onHoldPending = 0;
};

struct CtiLine {
  LineRecord* record = nullptr;  // TAPI's handles of the line
  std::array<CallSlot, kCallTableSize>* slots = nullptr;
  std::string extension;
  int position = -1;  // in the list of lines; -1 for the single line
  CallModel model;
  // The connection was lost with calls kept: the next start of the line's
  // monitor reads the PBX's snapshot of the device.
  bool snapshotWanted = false;
  CtiCallCounts lastCounts;
  ForwardState forwarding;  // as last reported or accepted

  CallSlot& Slot(int index) { return (*slots)[static_cast<std::size_t>(index)]; }
  int IndexOf(const CallSlot* slot) const { return static_cast<int>(slot - slots->data()); }
  HDRVCALL Handle(int index) { return reinterpret_cast<HDRVCALL>(&Slot(index)); }
  bool Listed() const { return position >= 0; }
};

// The line holding a call slot; null for no line's slot.
CtiLine* CtiLineOfSlotLocked(const CallSlot* slot);
// The line of a handle TAPI holds (the single line without listed lines);
// null for a handle that names no line.
CtiLine* CtiLineOfHandleLocked(HDRVLINE hdLine);
// The listed line at a position (made on first use), or the single line
// for -1 without listed lines; null otherwise.
CtiLine* CtiLineAtLocked(int position);
// As CtiLineAtLocked, but null for a listed line not used yet.
CtiLine* FindCtiLineLocked(int position);
// The device the line's requests name: extension@domain.
std::string CtiDevice(const CtiLine& line);
// " on line 202" for a listed line, nothing for the single one (its log
// lines are as they always were).
std::string OnLine(const CtiLine& line);
// Every line made so far (the single line first); for link changes.
std::vector<CtiLine*> CtiLinesInUseLocked();

}  // namespace qv
