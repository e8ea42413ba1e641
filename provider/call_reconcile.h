#pragma once
// After a reconnection: the line's calls against the PBX's snapshot of the
// device. A pure function, so that every case is a row of a table.
#include <string>
#include <string_view>
#include <vector>

#include "platform/tapi.h"
#include "session/device_snapshot.h"

namespace qv {

struct KnownCall {
  int slot = 0;
  std::string callId;
  DWORD state = 0;
  bool incoming = false;
  bool seenSinceReconnect = false;  // an event of the new connection named it
};

struct Reconciled {
  enum class Kind : std::uint8_t { kMove, kEnd, kAnnounce };
  Kind kind = Kind::kMove;
  int slot = -1;          // kMove, kEnd
  std::string callId;     // kAnnounce
  DWORD state = 0;        // kMove, kAnnounce
  bool incoming = false;  // kAnnounce
};

// The state a call should have for the device's connection state, given
// the state it has; 0 when the PBX no longer has the call for the device.
DWORD StateForLocalConnection(std::string_view localState, DWORD ours, bool incoming);

// kMove only where the state changes; kEnd for calls the PBX no longer has
// (unless an event of the new connection named them); kAnnounce for calls
// the line does not know, in the snapshot's order.
std::vector<Reconciled> ReconcileCalls(const std::vector<KnownCall>& ours,
                                       const std::vector<SnapshotCall>& snapshot);

}  // namespace qv
