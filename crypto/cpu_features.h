#pragma once
// The processor's crypto extensions, read once per process (cpuid on x86-64
// and x86), and which path the ciphers and hashes take. QV_CRYPTO_PORTABLE=1
// in the environment, or the test hook, sends them down the portable path.
namespace qv {

struct CpuFeatures {
  bool ssse3 = false;
  bool sse41 = false;
  bool aesni = false;
  bool pclmulqdq = false;
  bool sha = false;       // SHA-1 and SHA-256 extensions
  bool avx2 = false;      // and the system saves the YMM registers
  bool avx512vl = false;  // with AVX-512F, and the system saves the ZMM state
};

// What cpuid reports; all false on other architectures. Thread-safe.
const CpuFeatures& cpuFeatures();

// AES-NI with PCLMULQDQ (and the SSSE3/SSE4.1 they are used with) present
// and not switched off. Read when a key is set or a hash context reset: a
// context stays on the path it started with.
bool aesHardwareActive();
bool shaHardwareActive();
// AVX2 for ChaCha20 and Poly1305, likewise.
bool chachaHardwareActive();

// Forces the portable path for keys and contexts set up from now on (true),
// or lets the CPU decide again (false; the environment variable still holds).
void forcePortableCryptoForTesting(bool portable);

}  // namespace qv
