#pragma once
// The line's outgoing calls: a fixed table of ten slots. The HDRVCALL given
// to TAPI is the address of the call's slot. A slot is free again once its
// call is closed and TAPI has been told how its MakeCall ended.
//
// Lock order: sessionLock -> call-table lock -> send lock -> log lock.
// TAPI's completion procedure is only called with none of them held
// (DeliverCompletions).
#include <array>
#include <chrono>
#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "platform/tapi.h"

namespace qv {

struct CallSlot {
  std::uint32_t invokeId = 0;  // of the MakeCall request; 0 in a slot never used
  std::uint8_t inUse = 0;
  std::string deviceId;  // calling device, later the one the PBX names
  std::string callId;    // from the PBX's MakeCall response
  HTAPICALL htCall = nullptr;
  // The asynchronous TSPI_lineMakeCall still owes TAPI its completion.
  bool completionPending = false;
  DRV_REQUESTID requestId = 0;
  std::chrono::steady_clock::time_point completionDeadline{};
};

inline constexpr int kCallTableSize = 10;

// Guarded by callTableLock.
extern std::array<CallSlot, kCallTableSize> callTable;
// Calls handed out since the library was loaded.
extern std::int32_t callsMade;
extern std::mutex callTableLock;

// The slot a driver call handle names, or null for anything else.
CallSlot* SlotFromHandle(HDRVCALL hdCall);

// Stores the PBX's identifiers in every slot whose MakeCall had this invoke
// id; a pending MakeCall is completed with success.
void SetCallIdentity(std::uint32_t invokeId, const std::string& callId, const std::string& deviceId);
// The PBX refused the MakeCall with this invoke id.
void RejectMakeCall(std::uint32_t invokeId);
// The connection is gone (or the session stops): no pending MakeCall can be answered.
void FailPendingMakeCalls();
// Fails every pending MakeCall whose answer is overdue.
void ExpirePendingMakeCalls(std::chrono::steady_clock::time_point now);
// The earliest answer deadline of a pending MakeCall.
std::optional<std::chrono::steady_clock::time_point> NextMakeCallDeadline();

// Queues a completion for TAPI; callers hold callTableLock.
void QueueCompletionLocked(CallSlot& slot, LONG result);
// Hands queued completions to TAPI's completion procedure. Call with no lock held.
void DeliverCompletions();
// While closed, queued completions are dropped: TAPI must not hear of a
// request after TSPI_providerShutdown has returned.
void OpenCompletions();
void CloseCompletions();

}  // namespace qv
