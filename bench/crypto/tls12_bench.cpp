// The TLS 1.2 primitives against OpenSSL, linked into crypto_bench: SHA-2,
// HMAC-SHA256, the TLS 1.2 PRF, AES-GCM and X25519. ratios.py runs OpenSSL a
// second time with its SHA-NI, AES-NI and PCLMULQDQ paths masked.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>

#include <random>

#include "bench/crypto/bench_input.h"
#include "crypto/aes_gcm.h"
#include "crypto/hmac.h"
#include "crypto/sha256.h"
#include "crypto/sha512.h"
#include "crypto/tls12_prf.h"
#include "crypto/x25519.h"

namespace {

using qv::Bytes;
using namespace qv::bench;

const unsigned char* u8(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

// --- SHA-2 and HMAC ------------------------------------------------------------------

void oursHmacSha256(benchmark::State& state, bool portable) {
  PortablePath path(portable);
  const Bytes key = randomBytes(32, 5);
  for (auto _ : state) {
    Bytes out = qv::hmacSha256(key, buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslHmacSha256(benchmark::State& state) {
  const Bytes key = randomBytes(32, 5);
  for (auto _ : state) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha256(), key.data(), static_cast<int>(key.size()), u8(buffer()), kBuffer, out, &n);
    benchmark::DoNotOptimize(out);
  }
  setBytes(state, kBuffer);
}

BENCHMARK(oursDigest<qv::sha256Digest>)->Name("Ours/Sha256");
BENCHMARK(oursPortableDigest<qv::sha256Digest>)->Name("OursPortable/Sha256");
BENCHMARK_CAPTURE(opensslDigest, Sha256, EVP_sha256())->Name("OpenSsl/Sha256");
BENCHMARK(oursDigest<qv::sha384Digest>)->Name("Ours/Sha384");
BENCHMARK_CAPTURE(opensslDigest, Sha384, EVP_sha384())->Name("OpenSsl/Sha384");
BENCHMARK(oursDigest<qv::sha512Digest>)->Name("Ours/Sha512");
BENCHMARK_CAPTURE(opensslDigest, Sha512, EVP_sha512())->Name("OpenSsl/Sha512");
BENCHMARK_CAPTURE(oursHmacSha256, Hardware, false)->Name("Ours/HmacSha256");
BENCHMARK_CAPTURE(oursHmacSha256, Portable, true)->Name("OursPortable/HmacSha256");
BENCHMARK(opensslHmacSha256)->Name("OpenSsl/HmacSha256");

// --- TLS 1.2 PRF: a 40-byte key block (AES-128-GCM) from a 48-byte master secret -----

void oursTls12Prf(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = qv::tls12Prf(qv::HashAlgorithm::kSha256, kPrfSecret, "key expansion", kPrfSeed, 40);
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(oursTls12Prf)->Name("Ours/Tls12PrfSha256");
BENCHMARK_CAPTURE(opensslTlsPrf, Sha256, "SHA256", 40)->Name("OpenSsl/Tls12PrfSha256");

// --- AES-GCM: one 16 KiB record with TLS's 13-byte additional data -------------------

const Bytes kNonce = randomBytes(12, 9);
const Bytes kAad = randomBytes(13, 10);

void oursGcmSeal(benchmark::State& state, std::size_t keySize, bool portable) {
  PortablePath path(portable);
  qv::AesGcm gcm;
  gcm.setKey(randomBytes(keySize, 11));
  for (auto _ : state) {
    Bytes out = gcm.seal(kNonce, kAad, buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslGcmSeal(benchmark::State& state, std::size_t keySize) {
  opensslAeadSeal(state, keySize == 16 ? EVP_aes_128_gcm() : EVP_aes_256_gcm(), randomBytes(keySize, 11),
                  kNonce, kAad);
}

void oursGcmOpen(benchmark::State& state, std::size_t keySize, bool portable) {
  PortablePath path(portable);
  qv::AesGcm gcm;
  gcm.setKey(randomBytes(keySize, 11));
  const Bytes sealed = gcm.seal(kNonce, kAad, buffer());
  for (auto _ : state) {
    auto out = gcm.open(kNonce, kAad, sealed);
    benchmark::DoNotOptimize(out->data());
  }
  setBytes(state, kBuffer);
}

void opensslGcmOpen(benchmark::State& state, std::size_t keySize) {
  const Bytes key = randomBytes(keySize, 11);
  qv::AesGcm ours;
  ours.setKey(key);
  opensslAeadOpen(state, keySize == 16 ? EVP_aes_128_gcm() : EVP_aes_256_gcm(), key, kNonce, kAad,
                  ours.seal(kNonce, kAad, buffer()));
}

BENCHMARK_CAPTURE(oursGcmSeal, Aes128GcmSeal, 16, false)->Name("Ours/Aes128GcmSeal");
BENCHMARK_CAPTURE(oursGcmSeal, Aes128GcmSealPortable, 16, true)->Name("OursPortable/Aes128GcmSeal");
BENCHMARK_CAPTURE(opensslGcmSeal, Aes128GcmSeal, 16)->Name("OpenSsl/Aes128GcmSeal");
BENCHMARK_CAPTURE(oursGcmSeal, Aes256GcmSeal, 32, false)->Name("Ours/Aes256GcmSeal");
BENCHMARK_CAPTURE(oursGcmSeal, Aes256GcmSealPortable, 32, true)->Name("OursPortable/Aes256GcmSeal");
BENCHMARK_CAPTURE(opensslGcmSeal, Aes256GcmSeal, 32)->Name("OpenSsl/Aes256GcmSeal");
BENCHMARK_CAPTURE(oursGcmOpen, Aes128GcmOpen, 16, false)->Name("Ours/Aes128GcmOpen");
BENCHMARK_CAPTURE(oursGcmOpen, Aes128GcmOpenPortable, 16, true)->Name("OursPortable/Aes128GcmOpen");
BENCHMARK_CAPTURE(opensslGcmOpen, Aes128GcmOpen, 16)->Name("OpenSsl/Aes128GcmOpen");
BENCHMARK_CAPTURE(oursGcmOpen, Aes256GcmOpen, 32, false)->Name("Ours/Aes256GcmOpen");
BENCHMARK_CAPTURE(oursGcmOpen, Aes256GcmOpenPortable, 32, true)->Name("OursPortable/Aes256GcmOpen");
BENCHMARK_CAPTURE(opensslGcmOpen, Aes256GcmOpen, 32)->Name("OpenSsl/Aes256GcmOpen");

// --- X25519: one shared secret -------------------------------------------------------

void oursX25519(benchmark::State& state) {
  const Bytes scalar = randomBytes(32, 12);
  const Bytes peer = qv::x25519Base(randomBytes(32, 13));
  for (auto _ : state) {
    Bytes out = qv::x25519(scalar, peer);
    benchmark::DoNotOptimize(out.data());
  }
}

void opensslX25519(benchmark::State& state) {
  const Bytes scalar = randomBytes(32, 12);
  const Bytes peerPublic = qv::x25519Base(randomBytes(32, 13));
  EVP_PKEY* mine = EVP_PKEY_new_raw_private_key(EVP_PKEY_X25519, nullptr, u8(scalar), scalar.size());
  EVP_PKEY* peer = EVP_PKEY_new_raw_public_key(EVP_PKEY_X25519, nullptr, u8(peerPublic), peerPublic.size());
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(mine, nullptr);
  EVP_PKEY_derive_init(ctx);
  EVP_PKEY_derive_set_peer(ctx, peer);
  for (auto _ : state) {
    unsigned char out[32];
    std::size_t n = sizeof out;
    if (EVP_PKEY_derive(ctx, out, &n) != 1) state.SkipWithError("X25519 derive failed");
    benchmark::DoNotOptimize(out);
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(peer);
  EVP_PKEY_free(mine);
}

BENCHMARK(oursX25519)->Name("Ours/X25519");
BENCHMARK(opensslX25519)->Name("OpenSsl/X25519");

}  // namespace
