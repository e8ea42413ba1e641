#pragma once
// What the configuration dialog does, whatever draws it: load the settings
// into the form, check the form on OK and store every setting. The Windows
// dialog and the terminal form only move texts between this and the screen.
#include <optional>
#include <string>

#include "platform/dialog_host.h"
#include "session/settings.h"
#include "version.h"

namespace qv {

// Texts are cut to what the dialog's 256-character buffers hold.
inline constexpr std::size_t kConfigFieldMaxLength = 255;
// The extensions list has room for long lists of single numbers.
inline constexpr std::size_t kConfigExtensionsMaxLength = 4095;
inline constexpr const char* kConfigVersionText = QV_VERSION_TEXT;

// The dialog's fields as the user sees them (the port is text until OK), and
// why OK was refused (shown in a message box; the dialog stays open).
using ConfigForm = DialogFields;
using ConfigRefusal = DialogRefusal;

// The TLS version choice: what the user reads, what tlsversion stores. A
// stored text that is none of these shows as the first and is kept unless
// the user picks another.
struct TlsVersionChoice {
  const char* stored;
  const char* shown;
};
inline constexpr TlsVersionChoice kTlsVersionChoices[] = {
    {"1.0", "1.0 as in the first release"},
    {"1.2", "1.2"},
    {"1.3", "1.3"},
    {"auto", "best available"},
};

// Reads the registry into the process-wide record (so the dialog always shows
// what is stored now) and returns that record; the form is made from it.
ProviderSettings LoadConfigSettings();
ConfigForm MakeConfigForm(const ProviderSettings& loaded);

// The port text as a TCP port, or nothing when it is empty, not a plain
// decimal number or outside 1-65535.
std::optional<std::int32_t> ParseConfigPort(const std::string& text);

// OK: checks the form; when it passes, the record read at load time takes the
// entered values and every value the dialog shows is written. Nothing is written when
// the result holds a refusal.
std::optional<ConfigRefusal> AcceptConfigForm(const ProviderSettings& loaded, const ConfigForm& form);

}  // namespace qv
