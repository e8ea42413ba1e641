#pragma once
#include <cstddef>

namespace qv {

// Fills the buffer from the operating system's cryptographically secure
// random source. Safe on any thread.
void fillSecureRandom(void* buffer, std::size_t size);

}  // namespace qv
