#include "session/config_dialog.h"

#include <string_view>

namespace qv {

namespace {

std::string clampField(const std::string& text) { return text.substr(0, kConfigFieldMaxLength); }

}  // namespace

ProviderSettings LoadConfigSettings() {
  ReadSettings();
  return SettingsSnapshot();
}

ConfigForm MakeConfigForm(const ProviderSettings& loaded) {
  ConfigForm form;
  form.username = loaded.username;
  // Both password fields start equal, so OK without touching them keeps it.
  form.password = loaded.password;
  form.passwordRepeat = loaded.password;
  form.domain = loaded.domain;
  form.address = loaded.address;
  form.port = std::to_string(loaded.port);
  form.encrypt = loaded.encrypt;
  form.autooriginate = loaded.autooriginate;
  form.callevents = loaded.callevents;
  form.versionText = kConfigVersionText;
  return form;
}

std::optional<std::int32_t> ParseConfigPort(const std::string& text) {
  std::string_view digits = text;
  while (!digits.empty() && (digits.front() == ' ' || digits.front() == '\t')) digits.remove_prefix(1);
  while (!digits.empty() && (digits.back() == ' ' || digits.back() == '\t')) digits.remove_suffix(1);
  if (digits.empty() || digits.size() > 5) return std::nullopt;
  std::int32_t value = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    value = value * 10 + (c - '0');
  }
  if (value < 1 || value > 65535) return std::nullopt;
  return value;
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
  updated.domain = clampField(form.domain);
  updated.address = clampField(form.address);
  updated.port = *port;
  updated.encrypt = form.encrypt;
  updated.autooriginate = form.autooriginate;
  updated.callevents = form.callevents;
  ReplaceSettings(updated);
  WriteSettings();
  return std::nullopt;
}

}  // namespace qv
