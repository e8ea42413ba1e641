#include "platform/dynamic_library.h"

#include <windows.h>

namespace qv {

DynamicLibrary::~DynamicLibrary() { close(); }

bool DynamicLibrary::open(const std::string& path, std::string& error) {
  close();
  int units = MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, nullptr, 0);
  std::wstring wide(units > 0 ? static_cast<std::size_t>(units) : 1, L'\0');
  if (units > 0) MultiByteToWideChar(CP_UTF8, 0, path.c_str(), -1, wide.data(), units);
  handle_ = LoadLibraryW(wide.c_str());
  if (handle_ == nullptr) {
    error = "LoadLibraryW failed with error " + std::to_string(GetLastError());
    return false;
  }
  return true;
}

void DynamicLibrary::close() {
  if (handle_ != nullptr) FreeLibrary(static_cast<HMODULE>(handle_));
  handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
  if (handle_ == nullptr) return nullptr;
  return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name));
}

std::vector<std::string> DynamicLibrary::exportedNames() const {
  std::vector<std::string> names;
  if (handle_ == nullptr) return names;
  auto* base = static_cast<const BYTE*>(handle_);
  auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& dir = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (dir.VirtualAddress == 0) return names;
  auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + dir.VirtualAddress);
  auto* nameTable = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i)
    names.emplace_back(reinterpret_cast<const char*>(base + nameTable[i]));
  // Functions exported by ordinal only show up as unnamed entries.
  for (DWORD i = exports->NumberOfNames; i < exports->NumberOfFunctions; ++i) names.emplace_back("#ordinal");
  return names;
}

}  // namespace qv
