#pragma once
// Changes of the `lines` list while the provider runs: new extensions are
// announced with LINE_CREATE (through the procedure TAPI gave at
// TSPI_providerEnumDevices; TAPI then names the device in
// TSPI_providerCreateLineDevice), removed ones with LINE_REMOVE once their
// calls are cleared and their monitors stopped. Lines that stay keep their
// device IDs, handles and calls; a new name is taken over.
#include "platform/tapi.h"

namespace qv {

// TSPI_providerEnumDevices: where LINE_CREATE and LINE_REMOVE go.
void NoteLineCreateProc(LINEEVENT proc, HPROVIDER provider);
// Re-reads `lines` and applies the difference (dialog OK, or a re-read of
// the settings). Nothing happens unless the provider runs with listed
// lines; a list emptied or made unreadable takes effect at the next start.
void ApplyLinesSetting();

}  // namespace qv
