#include "provider/cti_call_info.h"

#include <cstring>

#include "provider/capability_answers.h"

namespace qv {

namespace {

struct WideField {
  DWORD LINECALLINFO::*size;
  DWORD LINECALLINFO::*offset;
  std::u16string text;
};

}  // namespace

DWORD ReportedCallState(const CtiCall& call) {
  if (call.state != 0) return call.state;
  return call.madeByTapi && !call.failed ? static_cast<DWORD>(LINECALLSTATE_DIALING)
                                         : static_cast<DWORD>(LINECALLSTATE_IDLE);
}

DWORD ReportedCallFeatures(const CtiCall& call) {
  // A consultation call with dial tone is only known to us until it is dialled.
  if (call.consultation && call.callId.empty() && call.state == LINECALLSTATE_DIALTONE && !call.replyPending)
    return LINECALLFEATURE_DIAL | LINECALLFEATURE_DROP;
  if (call.state == 0) return 0;
  // A call the PBX gave no callID can only be cleared, by its device.
  if (call.callId.empty())
    return call.madeByTapi ? CallFeaturesInState(call.state) & LINECALLFEATURE_DROP : 0;
  DWORD features = CallFeaturesInState(call.state);
  const DWORD state = call.state;
  if (call.partner >= 0) {
    if (state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_RINGBACK ||
        state == LINECALLSTATE_PROCEEDING || state == LINECALLSTATE_ONHOLDPENDTRANSFER)
      features |= LINECALLFEATURE_COMPLETETRANSF;
    if (state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_ONHOLDPENDTRANSFER)
      features |= LINECALLFEATURE_SWAPHOLD;
    features &= ~static_cast<DWORD>(LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_HOLD);
  } else if (call.joining >= 0) {
    // The call to add: the conference is the call on hold.
    if (state == LINECALLSTATE_CONNECTED || state == LINECALLSTATE_RINGBACK)
      features |= LINECALLFEATURE_ADDTOCONF;
    features &= ~static_cast<DWORD>(LINECALLFEATURE_BLINDTRANSFER | LINECALLFEATURE_HOLD);
  } else if (state == LINECALLSTATE_CONNECTED && !call.isConference && call.conference < 0) {
    features |= LINECALLFEATURE_SETUPTRANSFER | LINECALLFEATURE_SETUPCONF;
  }
  if (call.isConference) {
    features &= ~static_cast<DWORD>(LINECALLFEATURE_BLINDTRANSFER);
    if (state == LINECALLSTATE_CONNECTED) features |= LINECALLFEATURE_PREPAREADDCONF;
    // Back to the conference, without the call to add.
    if (state == LINECALLSTATE_ONHOLDPENDCONF) features |= LINECALLFEATURE_UNHOLD;
  }
  if (call.joined && state == LINECALLSTATE_CONFERENCED) features |= LINECALLFEATURE_REMOVEFROMCONF;
  // The desk phone's dial tone: the number can be dialled from here.
  if (state == LINECALLSTATE_DIALTONE && !call.consultation) features |= LINECALLFEATURE_DIAL;
  return features;
}

DWORD PartyIdFlags(const CallParty& party) {
  if (party.restricted) return LINECALLPARTYID_BLOCKED;
  DWORD flags = 0;
  if (!party.deviceId.empty()) flags |= LINECALLPARTYID_ADDRESS;
  if (!party.name.empty()) flags |= LINECALLPARTYID_NAME;
  if (flags != 0) return flags;
  return party.notKnown ? static_cast<DWORD>(LINECALLPARTYID_UNAVAIL)
                        : static_cast<DWORD>(LINECALLPARTYID_UNKNOWN);
}

DWORD NumericCallId(std::string_view callId) {
  if (callId.empty() || callId.size() > 10) return 0;
  std::uint64_t value = 0;
  for (char c : callId) {
    if (c < '0' || c > '9') return 0;
    value = value * 10 + static_cast<std::uint64_t>(c - '0');
  }
  return value > 0xFFFFFFFFu ? 0 : static_cast<DWORD>(value);
}

std::u16string Utf8ToUtf16(std::string_view text) {
  std::u16string out;
  std::size_t i = 0;
  while (i < text.size()) {
    auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
    unsigned char lead = byte(i);
    std::size_t length = lead < 0x80           ? 1
                         : (lead >> 5) == 0x6  ? 2
                         : (lead >> 4) == 0xE  ? 3
                         : (lead >> 3) == 0x1E ? 4
                                               : 0;
    char32_t code = 0xFFFD;
    bool good = length > 0 && i + length <= text.size();
    if (good) {
      code = length == 1 ? lead : lead & (0x7F >> length);
      for (std::size_t k = 1; k < length; ++k) {
        if ((byte(i + k) & 0xC0) != 0x80) {
          good = false;
          break;
        }
        code = (code << 6) | (byte(i + k) & 0x3F);
      }
      // Overlong forms, surrogates and values beyond Unicode are malformed.
      static constexpr char32_t kMin[] = {0, 0, 0x80, 0x800, 0x10000};
      if (good && (code < kMin[length] || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF)))
        good = false;
    }
    if (!good) {
      out.push_back(u'\xFFFD');
      ++i;
      continue;
    }
    if (code >= 0x10000) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(static_cast<char16_t>(code));
    }
    i += length;
  }
  return out;
}

LONG FillCtiCallStatus(LPLINECALLSTATUS status, const CtiCall& call) {
  if (status == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  if (status->dwTotalSize < kCallStatusFixedSize) {
    if (status->dwTotalSize >= 3 * sizeof(DWORD)) {
      status->dwNeededSize = kCallStatusFixedSize;
      status->dwUsedSize = 3 * sizeof(DWORD);
    }
    return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  }
  const DWORD total = status->dwTotalSize;
  std::memset(reinterpret_cast<unsigned char*>(status) + 3 * sizeof(DWORD), 0,
              kCallStatusFixedSize - 3 * sizeof(DWORD));
  status->dwTotalSize = total;
  status->dwNeededSize = kCallStatusFixedSize;
  status->dwUsedSize = kCallStatusFixedSize;
  status->dwCallState = ReportedCallState(call);
  status->dwCallStateMode = call.mode;
  status->dwCallPrivilege = LINECALLPRIVILEGE_OWNER;
  status->dwCallFeatures = ReportedCallFeatures(call);
  return 0;
}

LONG FillCtiCallInfo(LPLINECALLINFO info, const CtiCall& call) {
  if (info == nullptr) return static_cast<LONG>(LINEERR_INVALPOINTER);
  WideField fields[] = {
      {&LINECALLINFO::dwCallerIDSize, &LINECALLINFO::dwCallerIDOffset, Utf8ToUtf16(call.caller.deviceId)},
      {&LINECALLINFO::dwCallerIDNameSize, &LINECALLINFO::dwCallerIDNameOffset, Utf8ToUtf16(call.caller.name)},
      {&LINECALLINFO::dwCalledIDSize, &LINECALLINFO::dwCalledIDOffset, Utf8ToUtf16(call.called.deviceId)},
      {&LINECALLINFO::dwCalledIDNameSize, &LINECALLINFO::dwCalledIDNameOffset, Utf8ToUtf16(call.called.name)},
      {&LINECALLINFO::dwConnectedIDSize, &LINECALLINFO::dwConnectedIDOffset,
       Utf8ToUtf16(call.connected.deviceId)},
      {&LINECALLINFO::dwConnectedIDNameSize, &LINECALLINFO::dwConnectedIDNameOffset,
       Utf8ToUtf16(call.connected.name)},
  };
  DWORD needed = kCallInfoFixedSize;
  for (const WideField& f : fields) {
    if (!f.text.empty()) needed += static_cast<DWORD>(2 * (f.text.size() + 1));
  }
  if (info->dwTotalSize < kCallInfoFixedSize) {
    if (info->dwTotalSize >= 3 * sizeof(DWORD)) {
      info->dwNeededSize = needed;
      info->dwUsedSize = 3 * sizeof(DWORD);
    }
    return static_cast<LONG>(LINEERR_STRUCTURETOOSMALL);
  }
  const DWORD total = info->dwTotalSize;
  // hLine belongs to TAPI; everything after it is ours to state.
  const std::size_t from = 3 * sizeof(DWORD) + sizeof(HLINE);
  std::memset(reinterpret_cast<unsigned char*>(info) + from, 0, kCallInfoFixedSize - from);
  info->dwNeededSize = needed;
  info->dwBearerMode = LINEBEARERMODE_SPEECH;
  info->dwMediaMode = LINEMEDIAMODE_INTERACTIVEVOICE;
  info->dwCallID = NumericCallId(call.callId);
  info->dwCallStates = kCtiCallStates;
  info->dwOrigin = call.origin != 0 ? call.origin : static_cast<DWORD>(LINECALLORIGIN_UNKNOWN);
  info->dwReason = call.reason;
  info->dwNumOwners = 1;
  info->dwTrunk = 0xFFFFFFFF;
  info->dwCallerIDFlags = PartyIdFlags(call.caller);
  info->dwCalledIDFlags = PartyIdFlags(call.called);
  info->dwConnectedIDFlags = PartyIdFlags(call.connected);
  info->dwRedirectionIDFlags = LINECALLPARTYID_UNAVAIL;
  info->dwRedirectingIDFlags = LINECALLPARTYID_UNAVAIL;
  // Each text goes in whole, in order, while it fits; its size says whether it did.
  DWORD used = kCallInfoFixedSize;
  for (const WideField& f : fields) {
    if (f.text.empty()) continue;
    const DWORD size = static_cast<DWORD>(2 * (f.text.size() + 1));
    if (used + size > total) break;
    auto* out = reinterpret_cast<unsigned char*>(info) + used;
    for (char16_t unit : f.text) {
      *out++ = static_cast<unsigned char>(unit & 0xFF);
      *out++ = static_cast<unsigned char>(unit >> 8);
    }
    out[0] = 0;
    out[1] = 0;
    info->*f.size = size;
    info->*f.offset = used;
    used += size;
  }
  info->dwUsedSize = used;
  return 0;
}

}  // namespace qv
