// TAPI requests the provider does not serve. Each one is logged, so the log
// shows everything that reached the provider, and answered with a fixed
// result; nothing is read, written or completed. The call-control line
// (`callevents`) serves answer, hold, unhold, blind transfer and redirect.
#include "platform/tapi.h"
#include "provider/cti_line.h"
#include "provider/cti_mode.h"
#include "provider/entry_trace.h"

extern "C" LONG TSPIAPI TSPI_lineAccept(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                        LPCSTR /*lpsUserUserInfo*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineAccept");
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

extern "C" LONG TSPIAPI TSPI_lineAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall,
                                                 HDRVCALL hdConsultCall) {
  if (qv::CtiEnabled()) return qv::CtiAddToConference(dwRequestID, hdConfCall, hdConsultCall);
  qv::ProviderEntryTrace("TSPI_lineAddToConference");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineAnswer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                        LPCSTR /*lpsUserUserInfo*/, DWORD /*dwSize*/) {
  if (qv::CtiEnabled()) return qv::CtiAnswer(dwRequestID, hdCall);
  qv::ProviderEntryTrace("TSPI_lineAnswer");
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

extern "C" LONG TSPIAPI TSPI_lineBlindTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                               LPCWSTR lpszDestAddress, DWORD /*dwCountryCode*/) {
  if (qv::CtiEnabled()) return qv::CtiBlindTransfer(dwRequestID, hdCall, lpszDestAddress);
  qv::ProviderEntryTrace("TSPI_lineBlindTransfer");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineCompleteCall(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                              LPDWORD /*lpdwCompletionID*/, DWORD /*dwCompletionMode*/,
                                              DWORD /*dwMessageID*/) {
  qv::ProviderEntryTrace("TSPI_lineCompleteCall");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineCompleteTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                  HDRVCALL hdConsultCall, HTAPICALL htConfCall,
                                                  LPHDRVCALL lphdConfCall, DWORD dwTransferMode) {
  if (qv::CtiEnabled())
    return qv::CtiCompleteTransfer(dwRequestID, hdCall, hdConsultCall, htConfCall, lphdConfCall,
                                   dwTransferMode);
  qv::ProviderEntryTrace("TSPI_lineCompleteTransfer");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineConditionalMediaDetection(HDRVLINE /*hdLine*/, DWORD /*dwMediaModes*/,
                                                           LPLINECALLPARAMS const /*lpCallParams*/) {
  qv::ProviderEntryTrace("TSPI_lineConditionalMediaDetection");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineDevSpecific(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                             DWORD /*dwAddressID*/, HDRVCALL /*hdCall*/, LPVOID /*lpParams*/,
                                             DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineDevSpecific");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineDevSpecificFeature(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                                    DWORD /*dwFeature*/, LPVOID /*lpParams*/,
                                                    DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineDevSpecificFeature");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineDial(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                      DWORD /*dwCountryCode*/) {
  if (qv::CtiEnabled()) return qv::CtiDial(dwRequestID, hdCall, lpszDestAddress);
  qv::ProviderEntryTrace("TSPI_lineDial");
  return static_cast<LONG>(LINEERR_INVALCALLHANDLE);
}

extern "C" LONG TSPIAPI TSPI_lineDropNoOwner(HDRVCALL /*hdCall*/) {
  qv::ProviderEntryTrace("TSPI_lineDropNoOwner");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineDropOnClose(HDRVCALL /*hdCall*/) {
  qv::ProviderEntryTrace("TSPI_lineDropOnClose");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineForward(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD /*bAllAddresses*/,
                                         DWORD /*dwAddressID*/, LPLINEFORWARDLIST const lpForwardList,
                                         DWORD /*dwNumRingsNoAnswer*/, HTAPICALL /*htConsultCall*/,
                                         LPHDRVCALL lphdConsultCall,
                                         LPLINECALLPARAMS const /*lpCallParams*/) {
  if (qv::CtiEnabled()) return qv::CtiForward(dwRequestID, hdLine, lpForwardList, lphdConsultCall);
  qv::ProviderEntryTrace("TSPI_lineForward");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGatherDigits(HDRVCALL /*hdCall*/, DWORD /*dwEndToEndID*/,
                                              DWORD /*dwDigitModes*/, LPWSTR /*lpsDigits*/,
                                              DWORD /*dwNumDigits*/, LPCWSTR /*lpszTerminationDigits*/,
                                              DWORD /*dwFirstDigitTimeout*/, DWORD /*dwInterDigitTimeout*/) {
  qv::ProviderEntryTrace("TSPI_lineGatherDigits");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGenerateDigits(HDRVCALL hdCall, DWORD dwEndToEndID, DWORD dwDigitMode,
                                                LPCWSTR lpszDigits, DWORD /*dwDuration*/) {
  if (qv::CtiEnabled()) return qv::CtiGenerateDigits(hdCall, dwEndToEndID, dwDigitMode, lpszDigits);
  qv::ProviderEntryTrace("TSPI_lineGenerateDigits");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGenerateTone(HDRVCALL /*hdCall*/, DWORD /*dwEndToEndID*/,
                                              DWORD /*dwToneMode*/, DWORD /*dwDuration*/,
                                              DWORD /*dwNumTones*/, LPLINEGENERATETONE const /*lpTones*/) {
  qv::ProviderEntryTrace("TSPI_lineGenerateTone");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetDevConfig(DWORD /*dwDeviceID*/, LPVARSTRING /*lpDeviceConfig*/,
                                              LPCWSTR /*lpszDeviceClass*/) {
  qv::ProviderEntryTrace("TSPI_lineGetDevConfig");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetIcon(DWORD /*dwDeviceID*/, LPCWSTR /*lpszDeviceClass*/,
                                         LPHICON /*lphIcon*/) {
  qv::ProviderEntryTrace("TSPI_lineGetIcon");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineGetID(HDRVLINE /*hdLine*/, DWORD /*dwAddressID*/, HDRVCALL /*hdCall*/,
                                       DWORD /*dwSelect*/, LPVARSTRING /*lpDeviceID*/,
                                       LPCWSTR /*lpszDeviceClass*/, HANDLE /*hTargetProcess*/) {
  qv::ProviderEntryTrace("TSPI_lineGetID");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineHold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  if (qv::CtiEnabled()) return qv::CtiHold(dwRequestID, hdCall);
  qv::ProviderEntryTrace("TSPI_lineHold");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineMonitorDigits(HDRVCALL /*hdCall*/, DWORD /*dwDigitModes*/) {
  qv::ProviderEntryTrace("TSPI_lineMonitorDigits");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineMonitorMedia(HDRVCALL /*hdCall*/, DWORD /*dwMediaModes*/) {
  qv::ProviderEntryTrace("TSPI_lineMonitorMedia");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineMonitorTones(HDRVCALL /*hdCall*/, DWORD /*dwToneListID*/,
                                              LPLINEMONITORTONE const /*lpToneList*/,
                                              DWORD /*dwNumEntries*/) {
  qv::ProviderEntryTrace("TSPI_lineMonitorTones");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineNegotiateExtVersion(DWORD /*dwDeviceID*/, DWORD /*dwTSPIVersion*/,
                                                     DWORD /*dwLowVersion*/, DWORD /*dwHighVersion*/,
                                                     LPDWORD /*lpdwExtVersion*/) {
  qv::ProviderEntryTrace("TSPI_lineNegotiateExtVersion");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_linePark(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                      DWORD /*dwParkMode*/, LPCWSTR /*lpszDirAddress*/,
                                      LPVARSTRING /*lpNonDirAddress*/) {
  qv::ProviderEntryTrace("TSPI_linePark");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_linePickup(DRV_REQUESTID dwRequestID, HDRVLINE hdLine, DWORD /*dwAddressID*/,
                                        HTAPICALL htCall, LPHDRVCALL lphdCall, LPCWSTR lpszDestAddress,
                                        LPCWSTR lpszGroupID) {
  if (qv::CtiEnabled())
    return qv::CtiPickup(dwRequestID, hdLine, htCall, lphdCall, lpszDestAddress, lpszGroupID);
  qv::ProviderEntryTrace("TSPI_linePickup");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_linePrepareAddToConference(DRV_REQUESTID dwRequestID, HDRVCALL hdConfCall,
                                                        HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                                                        LPLINECALLPARAMS const /*lpCallParams*/) {
  if (qv::CtiEnabled())
    return qv::CtiPrepareAddToConference(dwRequestID, hdConfCall, htConsultCall, lphdConsultCall);
  qv::ProviderEntryTrace("TSPI_linePrepareAddToConference");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineRedirect(DRV_REQUESTID dwRequestID, HDRVCALL hdCall, LPCWSTR lpszDestAddress,
                                          DWORD /*dwCountryCode*/) {
  if (qv::CtiEnabled()) return qv::CtiRedirect(dwRequestID, hdCall, lpszDestAddress);
  qv::ProviderEntryTrace("TSPI_lineRedirect");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineReleaseUserUserInfo(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/) {
  qv::ProviderEntryTrace("TSPI_lineReleaseUserUserInfo");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineRemoveFromConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  if (qv::CtiEnabled()) return qv::CtiRemoveFromConference(dwRequestID, hdCall);
  qv::ProviderEntryTrace("TSPI_lineRemoveFromConference");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSecureCall(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/) {
  qv::ProviderEntryTrace("TSPI_lineSecureCall");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSelectExtVersion(HDRVLINE /*hdLine*/, DWORD /*dwExtVersion*/) {
  qv::ProviderEntryTrace("TSPI_lineSelectExtVersion");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSendUserUserInfo(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                                  LPCSTR /*lpsUserUserInfo*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineSendUserUserInfo");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetAppSpecific(HDRVCALL /*hdCall*/, DWORD /*dwAppSpecific*/) {
  qv::ProviderEntryTrace("TSPI_lineSetAppSpecific");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetCallData(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                             LPVOID /*lpCallData*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_lineSetCallData");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetCallParams(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                               DWORD /*dwBearerMode*/, DWORD /*dwMinRate*/,
                                               DWORD /*dwMaxRate*/, LPLINEDIALPARAMS const /*lpDialParams*/) {
  qv::ProviderEntryTrace("TSPI_lineSetCallParams");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetCallQualityOfService(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                                         LPVOID /*lpSendingFlowspec*/,
                                                         DWORD /*dwSendingFlowspecSize*/,
                                                         LPVOID /*lpReceivingFlowspec*/,
                                                         DWORD /*dwReceivingFlowspecSize*/) {
  qv::ProviderEntryTrace("TSPI_lineSetCallQualityOfService");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetCallTreatment(DRV_REQUESTID /*dwRequestID*/, HDRVCALL /*hdCall*/,
                                                  DWORD /*dwTreatment*/) {
  qv::ProviderEntryTrace("TSPI_lineSetCallTreatment");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetCurrentLocation(DWORD /*dwLocation*/) {
  qv::ProviderEntryTrace("TSPI_lineSetCurrentLocation");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetDefaultMediaDetection(HDRVLINE /*hdLine*/, DWORD /*dwMediaModes*/) {
  qv::ProviderEntryTrace("TSPI_lineSetDefaultMediaDetection");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetDevConfig(DWORD /*dwDeviceID*/, LPVOID const /*lpDeviceConfig*/,
                                              DWORD /*dwSize*/, LPCWSTR /*lpszDeviceClass*/) {
  qv::ProviderEntryTrace("TSPI_lineSetDevConfig");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetLineDevStatus(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                                  DWORD /*dwStatusToChange*/, DWORD /*fStatus*/) {
  qv::ProviderEntryTrace("TSPI_lineSetLineDevStatus");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetMediaControl(
    HDRVLINE /*hdLine*/, DWORD /*dwAddressID*/, HDRVCALL /*hdCall*/, DWORD /*dwSelect*/,
    LPLINEMEDIACONTROLDIGIT const /*lpDigitList*/, DWORD /*dwDigitNumEntries*/,
    LPLINEMEDIACONTROLMEDIA const /*lpMediaList*/, DWORD /*dwMediaNumEntries*/,
    LPLINEMEDIACONTROLTONE const /*lpToneList*/, DWORD /*dwToneNumEntries*/,
    LPLINEMEDIACONTROLCALLSTATE const /*lpCallStateList*/, DWORD /*dwCallStateNumEntries*/) {
  qv::ProviderEntryTrace("TSPI_lineSetMediaControl");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetMediaMode(HDRVCALL /*hdCall*/, DWORD /*dwMediaMode*/) {
  qv::ProviderEntryTrace("TSPI_lineSetMediaMode");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetTerminal(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                             DWORD /*dwAddressID*/, HDRVCALL /*hdCall*/, DWORD /*dwSelect*/,
                                             DWORD /*dwTerminalModes*/, DWORD /*dwTerminalID*/,
                                             DWORD /*bEnable*/) {
  qv::ProviderEntryTrace("TSPI_lineSetTerminal");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetupConference(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                                 HDRVLINE /*hdLine*/, HTAPICALL htConfCall,
                                                 LPHDRVCALL lphdConfCall, HTAPICALL htConsultCall,
                                                 LPHDRVCALL lphdConsultCall, DWORD dwNumParties,
                                                 LPLINECALLPARAMS const /*lpCallParams*/) {
  if (qv::CtiEnabled())
    return qv::CtiSetupConference(dwRequestID, hdCall, htConfCall, lphdConfCall, htConsultCall,
                                  lphdConsultCall, dwNumParties);
  qv::ProviderEntryTrace("TSPI_lineSetupConference");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSetupTransfer(DRV_REQUESTID dwRequestID, HDRVCALL hdCall,
                                               HTAPICALL htConsultCall, LPHDRVCALL lphdConsultCall,
                                               LPLINECALLPARAMS const /*lpCallParams*/) {
  if (qv::CtiEnabled()) return qv::CtiSetupTransfer(dwRequestID, hdCall, htConsultCall, lphdConsultCall);
  qv::ProviderEntryTrace("TSPI_lineSetupTransfer");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineSwapHold(DRV_REQUESTID dwRequestID, HDRVCALL hdActiveCall,
                                          HDRVCALL hdHeldCall) {
  if (qv::CtiEnabled()) return qv::CtiSwapHold(dwRequestID, hdActiveCall, hdHeldCall);
  qv::ProviderEntryTrace("TSPI_lineSwapHold");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineUncompleteCall(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                                DWORD /*dwCompletionID*/) {
  qv::ProviderEntryTrace("TSPI_lineUncompleteCall");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineUnhold(DRV_REQUESTID dwRequestID, HDRVCALL hdCall) {
  if (qv::CtiEnabled()) return qv::CtiUnhold(dwRequestID, hdCall);
  qv::ProviderEntryTrace("TSPI_lineUnhold");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_lineUnpark(DRV_REQUESTID /*dwRequestID*/, HDRVLINE /*hdLine*/,
                                        DWORD /*dwAddressID*/, HTAPICALL /*htCall*/, LPHDRVCALL /*lphdCall*/,
                                        LPCWSTR /*lpszDestAddress*/) {
  qv::ProviderEntryTrace("TSPI_lineUnpark");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneClose(HDRVPHONE /*hdPhone*/) {
  qv::ProviderEntryTrace("TSPI_phoneClose");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneDevSpecific(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                              LPVOID /*lpParams*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_phoneDevSpecific");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetButtonInfo(HDRVPHONE /*hdPhone*/, DWORD /*dwButtonLampID*/,
                                                LPPHONEBUTTONINFO /*lpButtonInfo*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetButtonInfo");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetData(HDRVPHONE /*hdPhone*/, DWORD /*dwDataID*/, LPVOID /*lpData*/,
                                          DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetData");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetDevCaps(DWORD /*dwDeviceID*/, DWORD /*dwTSPIVersion*/,
                                             DWORD /*dwExtVersion*/, LPPHONECAPS /*lpPhoneCaps*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetDevCaps");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetDisplay(HDRVPHONE /*hdPhone*/, LPVARSTRING /*lpDisplay*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetDisplay");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetExtensionID(DWORD /*dwDeviceID*/, DWORD /*dwTSPIVersion*/,
                                                 LPPHONEEXTENSIONID /*lpExtensionID*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetExtensionID");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetGain(HDRVPHONE /*hdPhone*/, DWORD /*dwHookSwitchDev*/,
                                          LPDWORD /*lpdwGain*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetGain");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetHookSwitch(HDRVPHONE /*hdPhone*/, LPDWORD /*lpdwHookSwitchDevs*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetHookSwitch");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetIcon(DWORD /*dwDeviceID*/, LPCWSTR /*lpszDeviceClass*/,
                                          LPHICON /*lphIcon*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetIcon");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetID(HDRVPHONE /*hdPhone*/, LPVARSTRING /*lpDeviceID*/,
                                        LPCWSTR /*lpszDeviceClass*/, HANDLE /*hTargetProcess*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetID");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetLamp(HDRVPHONE /*hdPhone*/, DWORD /*dwButtonLampID*/,
                                          LPDWORD /*lpdwLampMode*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetLamp");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetRing(HDRVPHONE /*hdPhone*/, LPDWORD /*lpdwRingMode*/,
                                          LPDWORD /*lpdwVolume*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetRing");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetStatus(HDRVPHONE /*hdPhone*/, LPPHONESTATUS /*lpPhoneStatus*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetStatus");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneGetVolume(HDRVPHONE /*hdPhone*/, DWORD /*dwHookSwitchDev*/,
                                            LPDWORD /*lpdwVolume*/) {
  qv::ProviderEntryTrace("TSPI_phoneGetVolume");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneNegotiateExtVersion(DWORD /*dwDeviceID*/, DWORD /*dwTSPIVersion*/,
                                                      DWORD /*dwLowVersion*/, DWORD /*dwHighVersion*/,
                                                      LPDWORD /*lpdwExtVersion*/) {
  qv::ProviderEntryTrace("TSPI_phoneNegotiateExtVersion");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneOpen(DWORD /*dwDeviceID*/, HTAPIPHONE /*htPhone*/,
                                       LPHDRVPHONE /*lphdPhone*/, DWORD /*dwTSPIVersion*/,
                                       PHONEEVENT /*lpfnEventProc*/) {
  qv::ProviderEntryTrace("TSPI_phoneOpen");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSelectExtVersion(HDRVPHONE /*hdPhone*/, DWORD /*dwExtVersion*/) {
  qv::ProviderEntryTrace("TSPI_phoneSelectExtVersion");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetButtonInfo(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                                DWORD /*dwButtonLampID*/,
                                                LPPHONEBUTTONINFO const /*lpButtonInfo*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetButtonInfo");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetData(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                          DWORD /*dwDataID*/, LPVOID const /*lpData*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetData");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetDisplay(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                             DWORD /*dwRow*/, DWORD /*dwColumn*/, LPCWSTR /*lpsDisplay*/,
                                             DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetDisplay");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetGain(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                          DWORD /*dwHookSwitchDev*/, DWORD /*dwGain*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetGain");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetHookSwitch(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                                DWORD /*dwHookSwitchDevs*/, DWORD /*dwHookSwitchMode*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetHookSwitch");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetLamp(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                          DWORD /*dwButtonLampID*/, DWORD /*dwLampMode*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetLamp");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetRing(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                          DWORD /*dwRingMode*/, DWORD /*dwVolume*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetRing");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetStatusMessages(HDRVPHONE /*hdPhone*/, DWORD /*dwPhoneStates*/,
                                                    DWORD /*dwButtonModes*/, DWORD /*dwButtonStates*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetStatusMessages");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_phoneSetVolume(DRV_REQUESTID /*dwRequestID*/, HDRVPHONE /*hdPhone*/,
                                            DWORD /*dwHookSwitchDev*/, DWORD /*dwVolume*/) {
  qv::ProviderEntryTrace("TSPI_phoneSetVolume");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerConfig(HWND /*hwndOwner*/, DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TSPI_providerConfig");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerCreatePhoneDevice(DWORD_PTR /*dwTempID*/, DWORD /*dwDeviceID*/) {
  qv::ProviderEntryTrace("TSPI_providerCreatePhoneDevice");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerFreeDialogInstance(HDRVDIALOGINSTANCE /*hdDlgInst*/) {
  qv::ProviderEntryTrace("TSPI_providerFreeDialogInstance");
  return 0;
}

extern "C" LONG TSPIAPI TSPI_providerGenericDialogData(DWORD_PTR /*dwObjectID*/, DWORD /*dwObjectType*/,
                                                       LPVOID /*lpParams*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TSPI_providerGenericDialogData");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_lineConfigDialogEdit(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/,
                                                    DWORD /*dwDeviceID*/, HWND /*hwndOwner*/,
                                                    LPCWSTR /*lpszDeviceClass*/,
                                                    LPVOID const /*lpDeviceConfigIn*/, DWORD /*dwSize*/,
                                                    LPVARSTRING /*lpDeviceConfigOut*/) {
  qv::ProviderEntryTrace("TUISPI_lineConfigDialogEdit");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_phoneConfigDialog(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/,
                                                 DWORD /*dwDeviceID*/, HWND /*hwndOwner*/,
                                                 LPCWSTR /*lpszDeviceClass*/) {
  qv::ProviderEntryTrace("TUISPI_phoneConfigDialog");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_providerGenericDialog(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/,
                                                     HTAPIDIALOGINSTANCE /*htDlgInst*/, LPVOID /*lpParams*/,
                                                     DWORD /*dwSize*/, HANDLE /*hEvent*/) {
  qv::ProviderEntryTrace("TUISPI_providerGenericDialog");
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_providerGenericDialogData(HTAPIDIALOGINSTANCE /*htDlgInst*/,
                                                         LPVOID /*lpParams*/, DWORD /*dwSize*/) {
  qv::ProviderEntryTrace("TUISPI_providerGenericDialogData");
  return 0;
}
