#include "platform/module.h"

#include <dlfcn.h>
#include <limits.h>
#include <stdlib.h>

#include <string>

namespace qv {
namespace {

// UTF-8 file name to UTF-16; a byte that does not start a valid sequence
// becomes U+FFFD.
std::u16string toUtf16(const std::string& text) {
  std::u16string out;
  const std::size_t n = text.size();
  auto byte = [&](std::size_t k) { return static_cast<unsigned char>(text[k]); };
  std::size_t i = 0;
  while (i < n) {
    unsigned c = byte(i);
    std::size_t extra = 0;
    std::uint32_t code = c;
    if ((c & 0xE0) == 0xC0) {
      extra = 1, code = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      extra = 2, code = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      extra = 3, code = c & 0x07;
    } else if (c >= 0x80) {
      extra = 99;
    }
    bool ok = extra != 99 && i + extra < n;
    for (std::size_t k = 1; ok && k <= extra; ++k) ok = (byte(i + k) & 0xC0) == 0x80;
    if (!ok) {
      out.push_back(u'\uFFFD');
      ++i;
      continue;
    }
    for (std::size_t k = 1; k <= extra; ++k) code = (code << 6) | (byte(i + k) & 0x3F);
    i += extra + 1;
    if (code >= 0x10000 && code <= 0x10FFFF) {
      code -= 0x10000;
      out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
      out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
    } else {
      out.push_back(code > 0x10FFFF ? u'\uFFFD' : static_cast<char16_t>(code));
    }
  }
  return out;
}

}  // namespace

void writeModuleFileName(HINSTANCE module, WCHAR* buffer, DWORD capacity) {
  if (buffer == nullptr || capacity == 0) return;
  std::string path;
  Dl_info info{};
  if (module != nullptr && dladdr(reinterpret_cast<void*>(module), &info) != 0 && info.dli_fname != nullptr) {
    path = info.dli_fname;
    char resolved[PATH_MAX];
    if (realpath(info.dli_fname, resolved) != nullptr) path = resolved;
  }
  std::u16string wide = toUtf16(path);
  std::size_t n = wide.size() < capacity ? wide.size() : capacity - 1;
  wide.copy(buffer, n);
  buffer[n] = u'\0';
}

HINSTANCE ownModuleHandle() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&ownModuleHandle), &info) == 0) return nullptr;
  return reinterpret_cast<HINSTANCE>(info.dli_fbase);
}

void pinOwnModule() {
  Dl_info info{};
  if (dladdr(reinterpret_cast<void*>(&pinOwnModule), &info) == 0 || info.dli_fname == nullptr) return;
  // Takes a reference that is never given back; RTLD_NODELETE also keeps a
  // later dlclose by the host from unmapping the code.
  dlopen(info.dli_fname, RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

}  // namespace qv
