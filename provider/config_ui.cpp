// Entry points that open the configuration dialog. The dialog's rules live in
// the session layer; the platform only draws it.
#include "platform/dialog_host.h"
#include "platform/tapi.h"
#include "provider/entry_trace.h"
#include "provider/provider_state.h"
#include "session/config_dialog.h"

namespace qv {

namespace {

DialogFields toDialogFields(const ConfigForm& form) {
  DialogFields fields;
  fields.username = form.username;
  fields.password = form.password;
  fields.passwordRepeat = form.passwordRepeat;
  fields.domain = form.domain;
  fields.address = form.address;
  fields.port = form.port;
  fields.encrypt = form.encrypt;
  fields.autooriginate = form.autooriginate;
  fields.versionText = kConfigVersionText;
  return fields;
}

ConfigForm toConfigForm(const DialogFields& fields) {
  ConfigForm form;
  form.username = fields.username;
  form.password = fields.password;
  form.passwordRepeat = fields.passwordRepeat;
  form.domain = fields.domain;
  form.address = fields.address;
  form.port = fields.port;
  form.encrypt = fields.encrypt;
  form.autooriginate = fields.autooriginate;
  return form;
}

// Shows the dialog modally; OK or Cancel, the entry points answer 0.
void RunConfiguration(HWND owner) {
  ProviderSettings loaded;
  DialogCallbacks callbacks;
  callbacks.load = [&loaded] {
    loaded = LoadConfigSettings();
    return toDialogFields(MakeConfigForm(loaded));
  };
  callbacks.accept = [&loaded](const DialogFields& fields) -> std::optional<DialogRefusal> {
    auto refusal = AcceptConfigForm(loaded, toConfigForm(fields));
    if (!refusal) return std::nullopt;
    return DialogRefusal{refusal->message, refusal->caption};
  };
  ShowConfigDialog(providerState.moduleHandle, owner, callbacks);
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
