#pragma once
// The first thing most exports do: record in the log that TAPI called them.

namespace qv {

// Writes the export's name as the whole message at level 5.
void ProviderEntryTrace(const char* exportName);

}  // namespace qv
