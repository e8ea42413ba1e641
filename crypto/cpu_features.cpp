#include "crypto/cpu_features.h"

#include <atomic>
#include <cstdlib>
#include <cstring>

#if defined(__x86_64__) || defined(__i386__)
#include <cpuid.h>
#endif

namespace qv {

namespace {

#if defined(__x86_64__) || defined(__i386__)
// xgetbv without the xsave target attribute; called only when OSXSAVE is set.
unsigned xgetbv0() {
  unsigned lo = 0, hi = 0;
  __asm__ volatile("xgetbv" : "=a"(lo), "=d"(hi) : "c"(0));
  return lo;
}
#endif

CpuFeatures detect() {
  CpuFeatures f;
#if defined(__x86_64__) || defined(__i386__)
  unsigned a = 0, b = 0, c = 0, d = 0;
  if (__get_cpuid(1, &a, &b, &c, &d) != 0) {
    f.ssse3 = (c & (1u << 9)) != 0;
    f.sse41 = (c & (1u << 19)) != 0;
    f.aesni = (c & (1u << 25)) != 0;
    f.pclmulqdq = (c & (1u << 1)) != 0;
  }
  const unsigned xcr0 = (c & (1u << 27)) != 0 ? xgetbv0() : 0;  // OSXSAVE
  const bool ymmSaved = (xcr0 & 6) == 6;                        // XMM and YMM state
  const bool zmmSaved = (xcr0 & 0xe6) == 0xe6;                  // and opmask, ZMM

  if (__get_cpuid_max(0, nullptr) >= 7) {
    __cpuid_count(7, 0, a, b, c, d);
    f.sha = (b & (1u << 29)) != 0;
    f.avx2 = ymmSaved && (b & (1u << 5)) != 0;
    f.avx512vl = f.avx2 && zmmSaved && (b & (1u << 16)) != 0 && (b & (1u << 31)) != 0;
  }
#endif
  return f;
}

bool portableFromEnvironment() {
  const char* value = std::getenv("QV_CRYPTO_PORTABLE");
  return value != nullptr && std::strcmp(value, "1") == 0;
}

std::atomic<bool> forcedPortable{false};

}  // namespace

const CpuFeatures& cpuFeatures() {
  static const CpuFeatures features = detect();
  return features;
}

namespace {

bool portable() {
  static const bool fromEnvironment = portableFromEnvironment();
  return fromEnvironment || forcedPortable.load(std::memory_order_relaxed);
}

}  // namespace

bool aesHardwareActive() {
  const CpuFeatures& f = cpuFeatures();
  return f.aesni && f.pclmulqdq && f.ssse3 && f.sse41 && !portable();
}

bool shaHardwareActive() {
  const CpuFeatures& f = cpuFeatures();
  return f.sha && f.ssse3 && f.sse41 && !portable();
}

bool chachaHardwareActive() { return cpuFeatures().avx2 && !portable(); }

void forcePortableCryptoForTesting(bool portable) {
  forcedPortable.store(portable, std::memory_order_relaxed);
}

}  // namespace qv
