#include "platform/module.h"

namespace qv {

void writeModuleFileName(HINSTANCE module, WCHAR* buffer, DWORD capacity) {
  GetModuleFileNameW(module, buffer, capacity);
}

HINSTANCE ownModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ownModuleHandle), &module);
  return module;
}

}  // namespace qv
