#pragma once
// The provider's own module: its handle and the path of its file.
#include "platform/tapi.h"

namespace qv {

// Writes the full path of the module's file into buffer, NUL-terminated and
// cut to capacity units (like GetModuleFileNameW).
void writeModuleFileName(HINSTANCE module, WCHAR* buffer, DWORD capacity);

// The module that contains this code (the provider itself when linked into
// it, the program when linked into a test).
HINSTANCE ownModuleHandle();

}  // namespace qv
