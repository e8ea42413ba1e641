#include "tests/platform/hanging_resolver.h"

#include <dlfcn.h>
#include <netdb.h>

#include <condition_variable>
#include <cstring>
#include <mutex>

namespace qv::test {
namespace {

std::mutex lock;
std::condition_variable released;
bool hanging = true;
int blocked = 0;

bool HangsFor(const char* node) {
  constexpr char kSuffix[] = ".hang.test";
  if (node == nullptr) return false;
  std::size_t n = std::strlen(node), k = sizeof kSuffix - 1;
  return n >= k && std::strcmp(node + n - k, kSuffix) == 0;
}

}  // namespace

int HungLookups() {
  std::lock_guard guard(lock);
  return blocked;
}

void ReleaseHungLookups() {
  {
    std::lock_guard guard(lock);
    hanging = false;
  }
  released.notify_all();
}

void HangLookupsAgain() {
  std::lock_guard guard(lock);
  hanging = true;
}

}  // namespace qv::test

// Defined in the program, so it comes before the C library's (and a
// sanitizer's) getaddrinfo for every caller in the process.
extern "C" int getaddrinfo(const char* __restrict node, const char* __restrict service,
                           const struct addrinfo* __restrict hints, struct addrinfo** __restrict result) {
  using namespace qv::test;
  // A numeric-only lookup never reaches a DNS server.
  const bool numericOnly = hints != nullptr && (hints->ai_flags & AI_NUMERICHOST) != 0;
  if (!numericOnly && HangsFor(node)) {
    std::unique_lock guard(lock);
    ++blocked;
    released.wait(guard, [] { return !hanging; });
    --blocked;
    return EAI_AGAIN;
  }
  using System = int (*)(const char*, const char*, const struct addrinfo*, struct addrinfo**);
  static const System system = reinterpret_cast<System>(dlsym(RTLD_NEXT, "getaddrinfo"));
  return system(node, service, hints, result);
}
