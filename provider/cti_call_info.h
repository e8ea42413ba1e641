#pragma once
// LINECALLSTATUS and LINECALLINFO of a call on the call-control line, filled
// from its record in the call model (TAPI 2.x layouts).
#include <string>
#include <string_view>

#include "platform/tapi.h"
#include "provider/call_model.h"

namespace qv {

inline constexpr DWORD kCallStatusFixedSize = 56;
inline constexpr DWORD kCallInfoFixedSize = 324;

// The state TAPI is told for a record (a call TAPI placed that has no state
// yet is dialling).
DWORD ReportedCallState(const CtiCall& call);
// The features usable now: those of the state, none while the PBX has not
// named the call.
DWORD ReportedCallFeatures(const CtiCall& call);
// LINECALLPARTYID_* of a party as the PBX gave it.
DWORD PartyIdFlags(const CallParty& party);
// The PBX's callID as TAPI's dwCallID: its decimal value when it is a number
// below 2^32, 0 otherwise.
DWORD NumericCallId(std::string_view callId);
// UTF-8 (as the PBX sends it) to UTF-16; a malformed byte becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);

LONG FillCtiCallStatus(LPLINECALLSTATUS status, const CtiCall& call);
LONG FillCtiCallInfo(LPLINECALLINFO info, const CtiCall& call);

}  // namespace qv
