#include "provider/entry_trace.h"

#include "session/log.h"

namespace qv {

void ProviderEntryTrace(const char* exportName) { writeLog(5, exportName); }

}  // namespace qv
