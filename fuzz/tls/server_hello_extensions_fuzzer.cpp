// The ServerHello extensions parser on arbitrary bytes.
#include <cstddef>
#include <cstdint>

#include "tls/hello_extensions.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const qv::ExtensionCheck check =
      qv::ParseServerHelloExtensions(std::string_view(reinterpret_cast<const char*>(data), size));
  // An accepted block never carries an error text, a refused one always does.
  if ((check.alert == 0) != check.error.empty()) __builtin_trap();
  return 0;
}
