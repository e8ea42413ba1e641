// Compile-time check that the TAPI structures in use have their published
// TAPI 2.x offsets, in the SDK headers on Windows and in ours on Linux.
#include <cstddef>

#include "platform/tapi.h"

namespace qv {
namespace {

#define QV_AT(type, member, offset) \
  static_assert(offsetof(type, member) == (offset), #type "." #member " is not at its published offset")

QV_AT(LINEDIALPARAMS, dwDialPause, 0);
QV_AT(LINEDIALPARAMS, dwDialSpeed, 4);
QV_AT(LINEDIALPARAMS, dwDigitDuration, 8);
QV_AT(LINEDIALPARAMS, dwWaitForDialtone, 12);
static_assert(sizeof(LINEDIALPARAMS) == 16);

QV_AT(LINEEXTENSIONID, dwExtensionID0, 0);
QV_AT(LINEEXTENSIONID, dwExtensionID3, 12);
static_assert(sizeof(LINEEXTENSIONID) == 16);

QV_AT(LINEPROVIDERENTRY, dwPermanentProviderID, 0);
QV_AT(LINEPROVIDERENTRY, dwProviderFilenameSize, 4);
QV_AT(LINEPROVIDERENTRY, dwProviderFilenameOffset, 8);
static_assert(sizeof(LINEPROVIDERENTRY) == 12);

QV_AT(LINEPROVIDERLIST, dwTotalSize, 0);
QV_AT(LINEPROVIDERLIST, dwNeededSize, 4);
QV_AT(LINEPROVIDERLIST, dwUsedSize, 8);
QV_AT(LINEPROVIDERLIST, dwNumProviders, 12);
QV_AT(LINEPROVIDERLIST, dwProviderListSize, 16);
QV_AT(LINEPROVIDERLIST, dwProviderListOffset, 20);
static_assert(sizeof(LINEPROVIDERLIST) == 24);

// LINEDEVCAPS: TAPI 2.x fixed part is 268 bytes, ending with PermanentLineGuid.
QV_AT(LINEDEVCAPS, dwTotalSize, 0);
QV_AT(LINEDEVCAPS, dwNeededSize, 4);
QV_AT(LINEDEVCAPS, dwUsedSize, 8);
QV_AT(LINEDEVCAPS, dwProviderInfoSize, 12);
QV_AT(LINEDEVCAPS, dwProviderInfoOffset, 16);
QV_AT(LINEDEVCAPS, dwSwitchInfoSize, 20);
QV_AT(LINEDEVCAPS, dwSwitchInfoOffset, 24);
QV_AT(LINEDEVCAPS, dwPermanentLineID, 28);
QV_AT(LINEDEVCAPS, dwLineNameSize, 32);
QV_AT(LINEDEVCAPS, dwLineNameOffset, 36);
QV_AT(LINEDEVCAPS, dwStringFormat, 40);
QV_AT(LINEDEVCAPS, dwAddressModes, 44);
QV_AT(LINEDEVCAPS, dwNumAddresses, 48);
QV_AT(LINEDEVCAPS, dwBearerModes, 52);
QV_AT(LINEDEVCAPS, dwMaxRate, 56);
QV_AT(LINEDEVCAPS, dwMediaModes, 60);
QV_AT(LINEDEVCAPS, dwGenerateToneModes, 64);
QV_AT(LINEDEVCAPS, dwGenerateToneMaxNumFreq, 68);
QV_AT(LINEDEVCAPS, dwGenerateDigitModes, 72);
QV_AT(LINEDEVCAPS, dwMonitorToneMaxNumFreq, 76);
QV_AT(LINEDEVCAPS, dwMonitorToneMaxNumEntries, 80);
QV_AT(LINEDEVCAPS, dwMonitorDigitModes, 84);
QV_AT(LINEDEVCAPS, dwGatherDigitsMinTimeout, 88);
QV_AT(LINEDEVCAPS, dwGatherDigitsMaxTimeout, 92);
QV_AT(LINEDEVCAPS, dwMedCtlDigitMaxListSize, 96);
QV_AT(LINEDEVCAPS, dwMedCtlMediaMaxListSize, 100);
QV_AT(LINEDEVCAPS, dwMedCtlToneMaxListSize, 104);
QV_AT(LINEDEVCAPS, dwMedCtlCallStateMaxListSize, 108);
QV_AT(LINEDEVCAPS, dwDevCapFlags, 112);
QV_AT(LINEDEVCAPS, dwMaxNumActiveCalls, 116);
QV_AT(LINEDEVCAPS, dwAnswerMode, 120);
QV_AT(LINEDEVCAPS, dwRingModes, 124);
QV_AT(LINEDEVCAPS, dwLineStates, 128);
QV_AT(LINEDEVCAPS, dwUUIAcceptSize, 132);
QV_AT(LINEDEVCAPS, dwUUIAnswerSize, 136);
QV_AT(LINEDEVCAPS, dwUUIMakeCallSize, 140);
QV_AT(LINEDEVCAPS, dwUUIDropSize, 144);
QV_AT(LINEDEVCAPS, dwUUISendUserUserInfoSize, 148);
QV_AT(LINEDEVCAPS, dwUUICallInfoSize, 152);
QV_AT(LINEDEVCAPS, MinDialParams, 156);
QV_AT(LINEDEVCAPS, MaxDialParams, 172);
QV_AT(LINEDEVCAPS, DefaultDialParams, 188);
QV_AT(LINEDEVCAPS, dwNumTerminals, 204);
QV_AT(LINEDEVCAPS, dwTerminalCapsSize, 208);
QV_AT(LINEDEVCAPS, dwTerminalCapsOffset, 212);
QV_AT(LINEDEVCAPS, dwTerminalTextEntrySize, 216);
QV_AT(LINEDEVCAPS, dwTerminalTextSize, 220);
QV_AT(LINEDEVCAPS, dwTerminalTextOffset, 224);
QV_AT(LINEDEVCAPS, dwDevSpecificSize, 228);
QV_AT(LINEDEVCAPS, dwDevSpecificOffset, 232);
QV_AT(LINEDEVCAPS, dwLineFeatures, 236);
QV_AT(LINEDEVCAPS, dwSettableDevStatus, 240);
QV_AT(LINEDEVCAPS, dwDeviceClassesSize, 244);
QV_AT(LINEDEVCAPS, dwDeviceClassesOffset, 248);
QV_AT(LINEDEVCAPS, PermanentLineGuid, 252);
static_assert(offsetof(LINEDEVCAPS, PermanentLineGuid) + sizeof(GUID) == 268);

// LINEADDRESSCAPS: TAPI 2.x fixed part is 228 bytes.
QV_AT(LINEADDRESSCAPS, dwTotalSize, 0);
QV_AT(LINEADDRESSCAPS, dwNeededSize, 4);
QV_AT(LINEADDRESSCAPS, dwUsedSize, 8);
QV_AT(LINEADDRESSCAPS, dwLineDeviceID, 12);
QV_AT(LINEADDRESSCAPS, dwAddressSize, 16);
QV_AT(LINEADDRESSCAPS, dwAddressOffset, 20);
QV_AT(LINEADDRESSCAPS, dwDevSpecificSize, 24);
QV_AT(LINEADDRESSCAPS, dwDevSpecificOffset, 28);
QV_AT(LINEADDRESSCAPS, dwAddressSharing, 32);
QV_AT(LINEADDRESSCAPS, dwAddressStates, 36);
QV_AT(LINEADDRESSCAPS, dwCallInfoStates, 40);
QV_AT(LINEADDRESSCAPS, dwCallerIDFlags, 44);
QV_AT(LINEADDRESSCAPS, dwCalledIDFlags, 48);
QV_AT(LINEADDRESSCAPS, dwConnectedIDFlags, 52);
QV_AT(LINEADDRESSCAPS, dwRedirectionIDFlags, 56);
QV_AT(LINEADDRESSCAPS, dwRedirectingIDFlags, 60);
QV_AT(LINEADDRESSCAPS, dwCallStates, 64);
QV_AT(LINEADDRESSCAPS, dwDialToneModes, 68);
QV_AT(LINEADDRESSCAPS, dwBusyModes, 72);
QV_AT(LINEADDRESSCAPS, dwSpecialInfo, 76);
QV_AT(LINEADDRESSCAPS, dwDisconnectModes, 80);
QV_AT(LINEADDRESSCAPS, dwMaxNumActiveCalls, 84);
QV_AT(LINEADDRESSCAPS, dwMaxNumOnHoldCalls, 88);
QV_AT(LINEADDRESSCAPS, dwMaxNumOnHoldPendingCalls, 92);
QV_AT(LINEADDRESSCAPS, dwMaxNumConference, 96);
QV_AT(LINEADDRESSCAPS, dwMaxNumTransConf, 100);
QV_AT(LINEADDRESSCAPS, dwAddrCapFlags, 104);
QV_AT(LINEADDRESSCAPS, dwCallFeatures, 108);
QV_AT(LINEADDRESSCAPS, dwRemoveFromConfCaps, 112);
QV_AT(LINEADDRESSCAPS, dwRemoveFromConfState, 116);
QV_AT(LINEADDRESSCAPS, dwTransferModes, 120);
QV_AT(LINEADDRESSCAPS, dwParkModes, 124);
QV_AT(LINEADDRESSCAPS, dwForwardModes, 128);
QV_AT(LINEADDRESSCAPS, dwMaxForwardEntries, 132);
QV_AT(LINEADDRESSCAPS, dwMaxSpecificEntries, 136);
QV_AT(LINEADDRESSCAPS, dwMinFwdNumRings, 140);
QV_AT(LINEADDRESSCAPS, dwMaxFwdNumRings, 144);
QV_AT(LINEADDRESSCAPS, dwMaxCallCompletions, 148);
QV_AT(LINEADDRESSCAPS, dwCallCompletionConds, 152);
QV_AT(LINEADDRESSCAPS, dwCallCompletionModes, 156);
QV_AT(LINEADDRESSCAPS, dwNumCompletionMessages, 160);
QV_AT(LINEADDRESSCAPS, dwCompletionMsgTextEntrySize, 164);
QV_AT(LINEADDRESSCAPS, dwCompletionMsgTextSize, 168);
QV_AT(LINEADDRESSCAPS, dwCompletionMsgTextOffset, 172);
QV_AT(LINEADDRESSCAPS, dwAddressFeatures, 176);
QV_AT(LINEADDRESSCAPS, dwPredictiveAutoTransferStates, 180);
QV_AT(LINEADDRESSCAPS, dwNumCallTreatments, 184);
QV_AT(LINEADDRESSCAPS, dwCallTreatmentListSize, 188);
QV_AT(LINEADDRESSCAPS, dwCallTreatmentListOffset, 192);
QV_AT(LINEADDRESSCAPS, dwDeviceClassesSize, 196);
QV_AT(LINEADDRESSCAPS, dwDeviceClassesOffset, 200);
QV_AT(LINEADDRESSCAPS, dwMaxCallDataSize, 204);
QV_AT(LINEADDRESSCAPS, dwCallFeatures2, 208);
QV_AT(LINEADDRESSCAPS, dwMaxNoAnswerTimeout, 212);
QV_AT(LINEADDRESSCAPS, dwConnectedModes, 216);
QV_AT(LINEADDRESSCAPS, dwOfferingModes, 220);
QV_AT(LINEADDRESSCAPS, dwAvailableMediaModes, 224);
static_assert(offsetof(LINEADDRESSCAPS, dwAvailableMediaModes) + sizeof(DWORD) == 228);

// LINEADDRESSSTATUS: fixed part 64 bytes.
QV_AT(LINEADDRESSSTATUS, dwTotalSize, 0);
QV_AT(LINEADDRESSSTATUS, dwNeededSize, 4);
QV_AT(LINEADDRESSSTATUS, dwUsedSize, 8);
QV_AT(LINEADDRESSSTATUS, dwNumInUse, 12);
QV_AT(LINEADDRESSSTATUS, dwNumActiveCalls, 16);
QV_AT(LINEADDRESSSTATUS, dwNumOnHoldCalls, 20);
QV_AT(LINEADDRESSSTATUS, dwNumOnHoldPendCalls, 24);
QV_AT(LINEADDRESSSTATUS, dwAddressFeatures, 28);
QV_AT(LINEADDRESSSTATUS, dwNumRingsNoAnswer, 32);
QV_AT(LINEADDRESSSTATUS, dwForwardNumEntries, 36);
QV_AT(LINEADDRESSSTATUS, dwForwardSize, 40);
QV_AT(LINEADDRESSSTATUS, dwForwardOffset, 44);
QV_AT(LINEADDRESSSTATUS, dwTerminalModesSize, 48);
QV_AT(LINEADDRESSSTATUS, dwTerminalModesOffset, 52);
QV_AT(LINEADDRESSSTATUS, dwDevSpecificSize, 56);
QV_AT(LINEADDRESSSTATUS, dwDevSpecificOffset, 60);
static_assert(sizeof(LINEADDRESSSTATUS) == 64);

// LINECALLSTATUS: TAPI 2.x fixed part 36 bytes (tStateEntryTime came with 3.0).
QV_AT(LINECALLSTATUS, dwTotalSize, 0);
QV_AT(LINECALLSTATUS, dwNeededSize, 4);
QV_AT(LINECALLSTATUS, dwUsedSize, 8);
QV_AT(LINECALLSTATUS, dwCallState, 12);
QV_AT(LINECALLSTATUS, dwCallStateMode, 16);
QV_AT(LINECALLSTATUS, dwCallPrivilege, 20);
QV_AT(LINECALLSTATUS, dwCallFeatures, 24);
QV_AT(LINECALLSTATUS, dwDevSpecificSize, 28);
QV_AT(LINECALLSTATUS, dwDevSpecificOffset, 32);
QV_AT(LINECALLSTATUS, dwCallFeatures2, 36);
QV_AT(LINECALLSTATUS, tStateEntryTime, 40);

// LINECALLINFO: TAPI 2.x fixed part 324 bytes.
QV_AT(LINECALLINFO, dwTotalSize, 0);
QV_AT(LINECALLINFO, dwNeededSize, 4);
QV_AT(LINECALLINFO, dwUsedSize, 8);
QV_AT(LINECALLINFO, hLine, 12);
QV_AT(LINECALLINFO, dwLineDeviceID, 16);
QV_AT(LINECALLINFO, dwAddressID, 20);
QV_AT(LINECALLINFO, dwBearerMode, 24);
QV_AT(LINECALLINFO, dwRate, 28);
QV_AT(LINECALLINFO, dwMediaMode, 32);
QV_AT(LINECALLINFO, dwAppSpecific, 36);
QV_AT(LINECALLINFO, dwCallID, 40);
QV_AT(LINECALLINFO, dwRelatedCallID, 44);
QV_AT(LINECALLINFO, dwCallParamFlags, 48);
QV_AT(LINECALLINFO, dwCallStates, 52);
QV_AT(LINECALLINFO, dwMonitorDigitModes, 56);
QV_AT(LINECALLINFO, dwMonitorMediaModes, 60);
QV_AT(LINECALLINFO, DialParams, 64);
QV_AT(LINECALLINFO, dwOrigin, 80);
QV_AT(LINECALLINFO, dwReason, 84);
QV_AT(LINECALLINFO, dwCompletionID, 88);
QV_AT(LINECALLINFO, dwNumOwners, 92);
QV_AT(LINECALLINFO, dwNumMonitors, 96);
QV_AT(LINECALLINFO, dwCountryCode, 100);
QV_AT(LINECALLINFO, dwTrunk, 104);
QV_AT(LINECALLINFO, dwCallerIDFlags, 108);
QV_AT(LINECALLINFO, dwCallerIDSize, 112);
QV_AT(LINECALLINFO, dwCallerIDOffset, 116);
QV_AT(LINECALLINFO, dwCallerIDNameSize, 120);
QV_AT(LINECALLINFO, dwCallerIDNameOffset, 124);
QV_AT(LINECALLINFO, dwCalledIDFlags, 128);
QV_AT(LINECALLINFO, dwCalledIDSize, 132);
QV_AT(LINECALLINFO, dwCalledIDOffset, 136);
QV_AT(LINECALLINFO, dwCalledIDNameSize, 140);
QV_AT(LINECALLINFO, dwCalledIDNameOffset, 144);
QV_AT(LINECALLINFO, dwConnectedIDFlags, 148);
QV_AT(LINECALLINFO, dwConnectedIDSize, 152);
QV_AT(LINECALLINFO, dwConnectedIDOffset, 156);
QV_AT(LINECALLINFO, dwConnectedIDNameSize, 160);
QV_AT(LINECALLINFO, dwConnectedIDNameOffset, 164);
QV_AT(LINECALLINFO, dwRedirectionIDFlags, 168);
QV_AT(LINECALLINFO, dwRedirectionIDSize, 172);
QV_AT(LINECALLINFO, dwRedirectionIDOffset, 176);
QV_AT(LINECALLINFO, dwRedirectionIDNameSize, 180);
QV_AT(LINECALLINFO, dwRedirectionIDNameOffset, 184);
QV_AT(LINECALLINFO, dwRedirectingIDFlags, 188);
QV_AT(LINECALLINFO, dwRedirectingIDSize, 192);
QV_AT(LINECALLINFO, dwRedirectingIDOffset, 196);
QV_AT(LINECALLINFO, dwRedirectingIDNameSize, 200);
QV_AT(LINECALLINFO, dwRedirectingIDNameOffset, 204);
QV_AT(LINECALLINFO, dwAppNameSize, 208);
QV_AT(LINECALLINFO, dwAppNameOffset, 212);
QV_AT(LINECALLINFO, dwDisplayableAddressSize, 216);
QV_AT(LINECALLINFO, dwDisplayableAddressOffset, 220);
QV_AT(LINECALLINFO, dwCalledPartySize, 224);
QV_AT(LINECALLINFO, dwCalledPartyOffset, 228);
QV_AT(LINECALLINFO, dwCommentSize, 232);
QV_AT(LINECALLINFO, dwCommentOffset, 236);
QV_AT(LINECALLINFO, dwDisplaySize, 240);
QV_AT(LINECALLINFO, dwDisplayOffset, 244);
QV_AT(LINECALLINFO, dwUserUserInfoSize, 248);
QV_AT(LINECALLINFO, dwUserUserInfoOffset, 252);
QV_AT(LINECALLINFO, dwHighLevelCompSize, 256);
QV_AT(LINECALLINFO, dwHighLevelCompOffset, 260);
QV_AT(LINECALLINFO, dwLowLevelCompSize, 264);
QV_AT(LINECALLINFO, dwLowLevelCompOffset, 268);
QV_AT(LINECALLINFO, dwChargingInfoSize, 272);
QV_AT(LINECALLINFO, dwChargingInfoOffset, 276);
QV_AT(LINECALLINFO, dwTerminalModesSize, 280);
QV_AT(LINECALLINFO, dwTerminalModesOffset, 284);
QV_AT(LINECALLINFO, dwDevSpecificSize, 288);
QV_AT(LINECALLINFO, dwDevSpecificOffset, 292);
QV_AT(LINECALLINFO, dwCallTreatment, 296);
QV_AT(LINECALLINFO, dwCallDataSize, 300);
QV_AT(LINECALLINFO, dwCallDataOffset, 304);
QV_AT(LINECALLINFO, dwSendingFlowspecSize, 308);
QV_AT(LINECALLINFO, dwSendingFlowspecOffset, 312);
QV_AT(LINECALLINFO, dwReceivingFlowspecSize, 316);
QV_AT(LINECALLINFO, dwReceivingFlowspecOffset, 320);

// The handle and value types the provider relies on.
static_assert(sizeof(DWORD) == 4 && sizeof(LONG) == 4 && sizeof(WCHAR) == 2);
static_assert(sizeof(DWORD_PTR) == sizeof(void*));
static_assert(sizeof(HDRVLINE) == sizeof(void*) && sizeof(HDRVCALL) == sizeof(void*));
static_assert(sizeof(HTAPILINE) == sizeof(void*) && sizeof(HTAPICALL) == sizeof(void*));
static_assert(sizeof(HPROVIDER) == sizeof(void*) && sizeof(HWND) == sizeof(void*));
static_assert(sizeof(HINSTANCE) == sizeof(void*));

}  // namespace
}  // namespace qv
