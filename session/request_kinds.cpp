#include "session/request_kinds.h"

namespace qv {

namespace {

constexpr RequestKindInfo kRequestKinds[] = {
    {RequestKind::kMakeCall, "MakeCallResponse", "TSPI_lineMakeCall"},
    {RequestKind::kClearConnection, "ClearConnectionResponse", "TSPI_lineCloseCall"},
    {RequestKind::kAnswerCall, "AnswerCallResponse", "TSPI_lineAnswer"},
    {RequestKind::kHoldCall, "HoldCallResponse", "TSPI_lineHold"},
    {RequestKind::kRetrieveCall, "RetrieveCallResponse", "TSPI_lineUnhold"},
    {RequestKind::kSingleStepTransferCall, "SingleStepTransferCallResponse", "TSPI_lineBlindTransfer"},
    {RequestKind::kDeflectCall, "DeflectCallResponse", "TSPI_lineRedirect"},
    {RequestKind::kConsultationHold, "HoldCallResponse", "TSPI_lineSetupTransfer"},
    {RequestKind::kTransferCall, "TransferCallResponse", "TSPI_lineCompleteTransfer"},
    {RequestKind::kConferenceCall, "ConferenceCallResponse", "TSPI_lineCompleteTransfer"},
    {RequestKind::kAlternateCall, "AlternateCallResponse", "TSPI_lineSwapHold"},
    {RequestKind::kSnapshotDevice, "SnapshotDeviceResponse", "SnapshotDevice"},
    {RequestKind::kSetForwarding, "SetForwardingResponse", "TSPI_lineForward"},
    {RequestKind::kSetDoNotDisturb, "SetDoNotDisturbResponse", "TSPI_lineForward"},
    {RequestKind::kGetForwarding, "GetForwardingResponse", "GetForwarding"},
    {RequestKind::kGetDoNotDisturb, "GetDoNotDisturbResponse", "GetDoNotDisturb"},
    {RequestKind::kDirectedPickupCall, "DirectedPickupCallResponse", "TSPI_linePickup"},
    {RequestKind::kGroupPickupCall, "GroupPickupCallResponse", "TSPI_linePickup"},
    {RequestKind::kGenerateDigits, "GenerateDigitsResponse", "TSPI_lineGenerateDigits"},
    {RequestKind::kDialDigits, "DialDigitsResponse", "TSPI_lineDial"},
    {RequestKind::kConferenceHold, "HoldCallResponse", "TSPI_lineSetupConference"},
    {RequestKind::kPrepareConferenceHold, "HoldCallResponse", "TSPI_linePrepareAddToConference"},
    {RequestKind::kAddToConference, "ConferenceCallResponse", "TSPI_lineAddToConference"},
    {RequestKind::kRemoveFromConference, "ClearConnectionResponse", "TSPI_lineRemoveFromConference"},
    {RequestKind::kReconnectCall, "ReconnectCallResponse", "TSPI_lineUnhold"},
};

}  // namespace

const RequestKindInfo& DescribeRequestKind(RequestKind kind) {
  for (const RequestKindInfo& info : kRequestKinds) {
    if (info.kind == kind) return info;
  }
  // Every kind has its row; a value outside the enumeration is a programming error.
  return kRequestKinds[0];
}

}  // namespace qv
