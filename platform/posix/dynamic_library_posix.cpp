#include "platform/dynamic_library.h"

#include <dlfcn.h>

namespace qv {

DynamicLibrary::~DynamicLibrary() { close(); }

bool DynamicLibrary::open(const std::string& path, std::string& error) {
  close();
  handle_ = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (handle_ == nullptr) {
    const char* why = dlerror();
    error = why != nullptr ? why : "dlopen failed";
    return false;
  }
  return true;
}

void DynamicLibrary::close() {
  if (handle_ != nullptr) dlclose(handle_);
  handle_ = nullptr;
}

void* DynamicLibrary::symbol(const char* name) const {
  return handle_ != nullptr ? dlsym(handle_, name) : nullptr;
}

std::vector<std::string> DynamicLibrary::exportedNames() const { return {}; }

}  // namespace qv
