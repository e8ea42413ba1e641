#include "session/config_dialog.h"

#include <iterator>
#include <string_view>

#include "session/decimal_text.h"
#include "session/session.h"

namespace qv {

namespace {

std::string clampField(const std::string& text) { return text.substr(0, kConfigFieldMaxLength); }
std::string clampExtensions(const std::string& text) { return text.substr(0, kConfigExtensionsMaxLength); }

std::size_t tlsVersionShown(const std::string& stored) {
  for (std::size_t i = 0; i < std::size(kTlsVersionChoices); ++i) {
    if (stored == kTlsVersionChoices[i].stored) return i;
  }
  return 0;
}

}  // namespace

ProviderSettings LoadConfigSettings() {
  ReadSettings();
  return SettingsSnapshot();
}

ConfigForm MakeConfigForm(const ProviderSettings& loaded) {
  ConfigForm form;
  form.username = loaded.username;
  form.extensions = loaded.lines;
  // Both password fields start equal, so OK without touching them keeps it.
  form.password = loaded.password;
  form.passwordRepeat = loaded.password;
  form.domain = loaded.domain;
  form.address = loaded.address;
  form.port = std::to_string(loaded.port);
  form.encrypt = loaded.encrypt;
  for (const TlsVersionChoice& choice : kTlsVersionChoices) form.tlsVersionChoices.emplace_back(choice.shown);
  form.tlsVersion = tlsVersionShown(loaded.tlsversion);
  form.clientcert = loaded.clientcert;
  form.autooriginate = loaded.autooriginate;
  form.callevents = loaded.callevents;
  form.versionText = kConfigVersionText;
  return form;
}

std::optional<std::int32_t> ParseConfigPort(const std::string& text) {
  std::string_view digits = text;
  while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
  // Digits only: no sign, nothing after them.
  DecimalScan scan = scanDecimal(digits, {.skipLeadingSpace = false, .allowSign = false});
  if (scan.digits == 0 || scan.digits != digits.size() || scan.digits > 5) return std::nullopt;
  if (scan.magnitude < 1 || scan.magnitude > 65535) return std::nullopt;
  return static_cast<std::int32_t>(scan.magnitude);
}

std::optional<ConfigRefusal> AcceptConfigForm(const ProviderSettings& loaded, const ConfigForm& form) {
  if (clampField(form.password) != clampField(form.passwordRepeat)) {
    return ConfigRefusal{"The passwords do not match!", "Error"};
  }
  // An empty or malformed port would otherwise be stored as garbage or abort
  // the dialog; refuse it and let the user correct it.
  auto port = ParseConfigPort(clampField(form.port));
  if (!port) return ConfigRefusal{"The port must be a number from 1 to 65535.", "Error"};

  ProviderSettings updated = loaded;
  updated.password = clampField(form.password);
  updated.username = clampField(form.username);
  updated.lines = clampExtensions(form.extensions);
  updated.domain = clampField(form.domain);
  updated.address = clampField(form.address);
  updated.port = *port;
  updated.encrypt = form.encrypt;
  // Only a different choice replaces the stored text, so a value this
  // dialog does not know survives an OK.
  if (form.tlsVersion != tlsVersionShown(loaded.tlsversion) &&
      form.tlsVersion < std::size(kTlsVersionChoices)) {
    updated.tlsversion = kTlsVersionChoices[form.tlsVersion].stored;
  }
  updated.clientcert = clampField(form.clientcert);
  updated.autooriginate = form.autooriginate;
  updated.callevents = form.callevents;
  ReplaceSettings(updated);
  WriteSettings();
  SettingsChanged();
  return std::nullopt;
}

}  // namespace qv
