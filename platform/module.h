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

// Keeps the module loaded until the process ends, for a thread that is left
// running in its code. Safe to call more than once.
void pinOwnModule();

}  // namespace qv
