#pragma once
// Loading a shared library (a provider, for the stand-in telephony service)
// and resolving its exports.
#include <string>
#include <vector>

namespace qv {

class DynamicLibrary {
 public:
  DynamicLibrary() = default;
  ~DynamicLibrary();
  DynamicLibrary(const DynamicLibrary&) = delete;
  DynamicLibrary& operator=(const DynamicLibrary&) = delete;

  // path is UTF-8. On failure error says why.
  bool open(const std::string& path, std::string& error);
  void close();
  bool isOpen() const { return handle_ != nullptr; }
  // Address of the named export, or null.
  void* symbol(const char* name) const;
  // Names in the library's export table (Windows: the export directory;
  // elsewhere empty: read the dynamic symbol table with the system tools).
  std::vector<std::string> exportedNames() const;

 private:
  void* handle_ = nullptr;
};

}  // namespace qv
