#include "platform/random.h"

#include <sys/random.h>

#include <cerrno>
#include <cstdlib>

namespace qv {

void fillSecureRandom(void* buffer, std::size_t size) {
  auto* out = static_cast<unsigned char*>(buffer);
  while (size > 0) {
    ssize_t got = getrandom(out, size, 0);
    if (got < 0) {
      if (errno == EINTR) continue;
      std::abort();  // no entropy source: nothing secure can be produced
    }
    out += got;
    size -= static_cast<std::size_t>(got);
  }
}

}  // namespace qv
