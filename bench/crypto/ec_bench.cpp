// P-256 and P-384 against OpenSSL at its defaults (EVP with the default
// provider, nothing switched off; its P-256 is the nistz256 assembly where
// OpenSSL was built with it): an ECDH exchange as
// a TLS client makes it (a fresh key pair, then the shared secret), ECDSA
// verification and signing of a SHA-256 / SHA-384 digest.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>

#include "bench/crypto/bench_input.h"
#include "crypto/digest.h"
#include "crypto/ec.h"
#include "crypto/ecdsa.h"

namespace {

using qv::Bytes;
using qv::EcCurve;
using namespace qv::bench;

const char* curveName(EcCurve curve) { return curve == EcCurve::kP256 ? "P-256" : "P-384"; }
qv::HashAlgorithm hashOf(EcCurve curve) {
  return curve == EcCurve::kP256 ? qv::HashAlgorithm::kSha256 : qv::HashAlgorithm::kSha384;
}

Bytes ourScalar(EcCurve curve, unsigned salt) {
  for (;; ++salt)
    if (auto s = qv::ecPrivateKeyFromRandom(curve, randomBytes(qv::ecFieldSize(curve), salt))) return *s;
}

EVP_PKEY* opensslKey(EcCurve curve) { return EVP_PKEY_Q_keygen(nullptr, nullptr, "EC", curveName(curve)); }

Bytes opensslPublic(EVP_PKEY* key) {
  unsigned char* out = nullptr;
  const std::size_t n = EVP_PKEY_get1_encoded_public_key(key, &out);
  Bytes point(reinterpret_cast<const char*>(out), n);
  OPENSSL_free(out);
  return point;
}

const unsigned char* u8(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

void oursEcdh(benchmark::State& state, EcCurve curve) {
  const Bytes peer = qv::ecPublicKey(curve, ourScalar(curve, 21));
  const Bytes scalar = ourScalar(curve, 22);
  for (auto _ : state) {
    Bytes pub = qv::ecPublicKey(curve, scalar);
    Bytes shared = qv::ecdh(curve, scalar, peer);
    benchmark::DoNotOptimize(pub.data());
    benchmark::DoNotOptimize(shared.data());
  }
}

void opensslEcdh(benchmark::State& state, EcCurve curve) {
  EVP_PKEY* peer = opensslKey(curve);
  for (auto _ : state) {
    EVP_PKEY* mine = opensslKey(curve);
    EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(mine, nullptr);
    EVP_PKEY_derive_init(ctx);
    EVP_PKEY_derive_set_peer(ctx, peer);
    unsigned char out[48];
    std::size_t n = sizeof out;
    if (EVP_PKEY_derive(ctx, out, &n) != 1) state.SkipWithError("ECDH derive failed");
    benchmark::DoNotOptimize(out);
    EVP_PKEY_CTX_free(ctx);
    EVP_PKEY_free(mine);
  }
  EVP_PKEY_free(peer);
}

// Both sides verify the same OpenSSL signature under the same key.
struct SignedDigest {
  EVP_PKEY* key;
  Bytes point;
  Bytes digest;
  Bytes signature;
};

SignedDigest opensslSigned(EcCurve curve) {
  SignedDigest s{opensslKey(curve), {}, qv::digestOf(hashOf(curve), buffer()), {}};
  s.point = opensslPublic(s.key);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(s.key, nullptr);
  EVP_PKEY_sign_init(ctx);
  unsigned char sig[128];
  std::size_t n = sizeof sig;
  EVP_PKEY_sign(ctx, sig, &n, u8(s.digest), s.digest.size());
  EVP_PKEY_CTX_free(ctx);
  s.signature.assign(reinterpret_cast<const char*>(sig), n);
  return s;
}

void oursVerify(benchmark::State& state, EcCurve curve) {
  const SignedDigest s = opensslSigned(curve);
  for (auto _ : state) {
    if (!qv::ecdsaVerifyDer(curve, s.point, s.digest, s.signature)) state.SkipWithError("verify failed");
  }
  EVP_PKEY_free(s.key);
}

void opensslVerify(benchmark::State& state, EcCurve curve) {
  const SignedDigest s = opensslSigned(curve);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(s.key, nullptr);
  for (auto _ : state) {
    EVP_PKEY_verify_init(ctx);
    if (EVP_PKEY_verify(ctx, u8(s.signature), s.signature.size(), u8(s.digest), s.digest.size()) != 1)
      state.SkipWithError("verify failed");
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(s.key);
}

void oursSign(benchmark::State& state, EcCurve curve) {
  const Bytes scalar = ourScalar(curve, 23);
  const Bytes digest = qv::digestOf(hashOf(curve), buffer());
  for (auto _ : state) {
    Bytes sig = qv::ecdsaSignDer(curve, scalar, hashOf(curve), digest);
    benchmark::DoNotOptimize(sig.data());
  }
}

void opensslSign(benchmark::State& state, EcCurve curve) {
  const SignedDigest s = opensslSigned(curve);
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(s.key, nullptr);
  for (auto _ : state) {
    EVP_PKEY_sign_init(ctx);
    unsigned char sig[128];
    std::size_t n = sizeof sig;
    if (EVP_PKEY_sign(ctx, sig, &n, u8(s.digest), s.digest.size()) != 1) state.SkipWithError("sign failed");
    benchmark::DoNotOptimize(sig);
  }
  EVP_PKEY_CTX_free(ctx);
  EVP_PKEY_free(s.key);
}

BENCHMARK_CAPTURE(oursEcdh, P256, EcCurve::kP256)->Name("Ours/P256Ecdh");
BENCHMARK_CAPTURE(opensslEcdh, P256, EcCurve::kP256)->Name("OpenSsl/P256Ecdh");
BENCHMARK_CAPTURE(oursVerify, P256, EcCurve::kP256)->Name("Ours/P256EcdsaVerify");
BENCHMARK_CAPTURE(opensslVerify, P256, EcCurve::kP256)->Name("OpenSsl/P256EcdsaVerify");
BENCHMARK_CAPTURE(oursSign, P256, EcCurve::kP256)->Name("Ours/P256EcdsaSign");
BENCHMARK_CAPTURE(opensslSign, P256, EcCurve::kP256)->Name("OpenSsl/P256EcdsaSign");
BENCHMARK_CAPTURE(oursEcdh, P384, EcCurve::kP384)->Name("Ours/P384Ecdh");
BENCHMARK_CAPTURE(opensslEcdh, P384, EcCurve::kP384)->Name("OpenSsl/P384Ecdh");
BENCHMARK_CAPTURE(oursVerify, P384, EcCurve::kP384)->Name("Ours/P384EcdsaVerify");
BENCHMARK_CAPTURE(opensslVerify, P384, EcCurve::kP384)->Name("OpenSsl/P384EcdsaVerify");
BENCHMARK_CAPTURE(oursSign, P384, EcCurve::kP384)->Name("Ours/P384EcdsaSign");
BENCHMARK_CAPTURE(opensslSign, P384, EcCurve::kP384)->Name("OpenSsl/P384EcdsaSign");

}  // namespace
