#include "platform/random.h"

#include <windows.h>
#include <bcrypt.h>

#include <cstdlib>

namespace qv {

void fillSecureRandom(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ULONG chunk = size > 0x10000000 ? 0x10000000 : static_cast<ULONG>(size);
    if (BCryptGenRandom(nullptr, out, chunk, BCRYPT_USE_SYSTEM_PREFERRED_RNG) != 0) std::abort();
    out += chunk;
    size -= chunk;
  }
}

}  // namespace qv
