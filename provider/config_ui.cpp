// Entry points that open the configuration dialog. The dialog's rules live in
// the session layer; the platform only draws it.
#include "platform/dialog_host.h"
#include "platform/tapi.h"
#include "provider/entry_trace.h"
#include "provider/line_changes.h"
#include "provider/provider_state.h"
#include "session/config_dialog.h"

namespace qv {

namespace {

// Shows the dialog modally; OK or Cancel, the entry points answer 0.
void RunConfiguration(HWND owner) {
  ProviderSettings loaded;
  DialogCallbacks callbacks;
  callbacks.load = [&loaded] {
    loaded = LoadConfigSettings();
    return MakeConfigForm(loaded);
  };
  callbacks.accept = [&loaded](const DialogFields& fields) { return AcceptConfigForm(loaded, fields); };
  // A running provider in this process takes a changed list of lines now.
  if (ShowConfigDialog(providerState.moduleHandle, owner, callbacks) == DialogOutcome::Ok)
    ApplyLinesSetting();
}

}  // namespace

}  // namespace qv

extern "C" LONG TSPIAPI TUISPI_providerConfig(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/, HWND hwndOwner,
                                              DWORD /*dwPermanentProviderID*/) {
  qv::ProviderEntryTrace("TUISPI_providerConfig");
  qv::RunConfiguration(hwndOwner);
  return 0;
}

extern "C" LONG TSPIAPI TUISPI_lineConfigDialog(TUISPIDLLCALLBACK /*lpfnUIDLLCallback*/, DWORD /*dwDeviceID*/,
                                                HWND hwndOwner, LPCWSTR /*lpszDeviceClass*/) {
  // Unlike the provider configuration, this entry point leaves no log line.
  qv::RunConfiguration(hwndOwner);
  return 0;
}
