#include "crypto/chacha20_avx2.h"

#if defined(__x86_64__) || defined(__i386__)
#include <immintrin.h>

#include <cstring>

#include "crypto/cpu_features.h"

// Only these functions carry AVX2 (or AVX-512VL), so the rest of the binary
// runs on any x86. 32-bit Windows callers may leave the stack 4-byte aligned.
#if defined(__i386__)
#define QV_ALIGN_STACK , force_align_arg_pointer
#else
#define QV_ALIGN_STACK
#endif

namespace qv::chacha_avx2 {

namespace {

constexpr std::size_t kChunk = 512;  // eight 64-byte blocks

namespace plain {
#define QV_CHACHA_TARGET __attribute__((target("avx2") QV_ALIGN_STACK))
#define QV_CHACHA_ROTATE 0
#include "crypto/chacha20_lanes8.inc"
#undef QV_CHACHA_ROTATE
#undef QV_CHACHA_TARGET
}  // namespace plain

namespace vl {
#define QV_CHACHA_TARGET __attribute__((target("avx2,avx512f,avx512vl") QV_ALIGN_STACK))
#define QV_CHACHA_ROTATE 1
#include "crypto/chacha20_lanes8.inc"
#undef QV_CHACHA_ROTATE
#undef QV_CHACHA_TARGET
}  // namespace vl

}  // namespace

void xorStream(std::uint32_t state[16], const unsigned char* in, unsigned char* out, std::size_t length) {
  if (cpuFeatures().avx512vl) {
    vl::xorStream(state, in, out, length);
  } else {
    plain::xorStream(state, in, out, length);
  }
}

void xorStreamAvx2Only(std::uint32_t state[16], const unsigned char* in, unsigned char* out,
                       std::size_t length) {
  plain::xorStream(state, in, out, length);
}

}  // namespace qv::chacha_avx2

#else  // no x86: never called, chachaHardwareActive() is false

namespace qv::chacha_avx2 {
void xorStream(std::uint32_t*, const unsigned char*, unsigned char*, std::size_t) {}
void xorStreamAvx2Only(std::uint32_t*, const unsigned char*, unsigned char*, std::size_t) {}
}  // namespace qv::chacha_avx2

#endif
