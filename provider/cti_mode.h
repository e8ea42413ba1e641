#pragma once
// Whether the line is a first-party call-control line (registry value
// `callevents`). Taken from the settings at TSPI_providerInit and kept for
// the provider's life, so a dialog change cannot switch a running line.
#include "session/settings.h"

namespace qv {

void LatchCtiMode(bool enabled);
// The latched mode; false before the first TSPI_providerInit.
bool CtiEnabled();
// For answers that may come before TSPI_providerInit (capabilities): the
// latched mode while initialised, otherwise what the settings say.
bool CtiEnabled(const ProviderSettings& settings);

}  // namespace qv
