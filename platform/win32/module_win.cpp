#include "platform/module.h"

namespace qv {

void writeModuleFileName(HINSTANCE module, WCHAR* buffer, DWORD capacity) {
  if (buffer == nullptr || capacity == 0) return;
  // Older systems (and wine) leave a cut path unterminated; TAPI reads it as a string.
  DWORD length = GetModuleFileNameW(module, buffer, capacity);
  if (length >= capacity) buffer[capacity - 1] = L'\0';
  if (length == 0) buffer[0] = L'\0';
}

HINSTANCE ownModuleHandle() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                     reinterpret_cast<LPCWSTR>(&ownModuleHandle), &module);
  return module;
}

void pinOwnModule() {
  HMODULE module = nullptr;
  GetModuleHandleExW(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_PIN,
                     reinterpret_cast<LPCWSTR>(&pinOwnModule), &module);
}

}  // namespace qv
