#include "platform/ticks.h"

#include <windows.h>

namespace qv {

std::uint64_t tickCount64() { return GetTickCount64(); }
std::uint32_t tickCount32() { return GetTickCount(); }

}  // namespace qv
