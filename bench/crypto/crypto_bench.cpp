// Our primitives and OpenSSL's on the same inputs in the same run. Pairs are
// named Ours/... and OpenSsl/...; ratios.py turns them into throughput ratios.
#define OPENSSL_SUPPRESS_DEPRECATED  // raw RSA is the like-for-like comparison
#include <benchmark/benchmark.h>

#include <openssl/bn.h>
#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/kdf.h>
#include <openssl/provider.h>
#include <openssl/rsa.h>

#include <memory>
#include <random>

#include "bench/crypto/bench_input.h"
#include "crypto/aes.h"
#include "crypto/hmac.h"
#include "crypto/md5.h"
#include "crypto/prf.h"
#include "crypto/rc4.h"
#include "crypto/rsa.h"
#include "crypto/sha1.h"

namespace {

using qv::Bytes;
using namespace qv::bench;

// --- AES-CBC ---------------------------------------------------------------------

void oursAes(benchmark::State& state, int bits, bool encrypt, bool portable) {
  PortablePath path(portable);
  const Bytes key = randomBytes(static_cast<std::size_t>(bits / 8), 2), iv = randomBytes(16, 3);
  qv::AesContext ctx;
  ctx.configure(bits);
  if (encrypt) {
    ctx.setEncryptKey(key, iv);
  } else {
    ctx.setDecryptKey(key, iv);
  }
  for (auto _ : state) {
    Bytes out = encrypt ? ctx.encryptCbc(buffer()) : ctx.decryptCbc(buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslAes(benchmark::State& state, int bits, bool encrypt) {
  const Bytes key = randomBytes(static_cast<std::size_t>(bits / 8), 2), iv = randomBytes(16, 3);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  EVP_CipherInit_ex(ctx.get(), bits == 128 ? EVP_aes_128_cbc() : EVP_aes_256_cbc(), nullptr,
                    reinterpret_cast<const unsigned char*>(key.data()),
                    reinterpret_cast<const unsigned char*>(iv.data()), encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
  for (auto _ : state) {
    // A fresh output string per call, as ours returns one.
    Bytes out(kBuffer, '\0');
    int n = 0;
    EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                     reinterpret_cast<const unsigned char*>(buffer().data()), static_cast<int>(kBuffer));
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

BENCHMARK_CAPTURE(oursAes, Aes128CbcEncrypt, 128, true, false)->Name("Ours/Aes128CbcEncrypt");
BENCHMARK_CAPTURE(oursAes, Aes128CbcEncryptPortable, 128, true, true)->Name("OursPortable/Aes128CbcEncrypt");
BENCHMARK_CAPTURE(opensslAes, Aes128CbcEncrypt, 128, true)->Name("OpenSsl/Aes128CbcEncrypt");
BENCHMARK_CAPTURE(oursAes, Aes128CbcDecrypt, 128, false, false)->Name("Ours/Aes128CbcDecrypt");
BENCHMARK_CAPTURE(oursAes, Aes128CbcDecryptPortable, 128, false, true)->Name("OursPortable/Aes128CbcDecrypt");
BENCHMARK_CAPTURE(opensslAes, Aes128CbcDecrypt, 128, false)->Name("OpenSsl/Aes128CbcDecrypt");
BENCHMARK_CAPTURE(oursAes, Aes256CbcEncrypt, 256, true, false)->Name("Ours/Aes256CbcEncrypt");
BENCHMARK_CAPTURE(oursAes, Aes256CbcEncryptPortable, 256, true, true)->Name("OursPortable/Aes256CbcEncrypt");
BENCHMARK_CAPTURE(opensslAes, Aes256CbcEncrypt, 256, true)->Name("OpenSsl/Aes256CbcEncrypt");
BENCHMARK_CAPTURE(oursAes, Aes256CbcDecrypt, 256, false, false)->Name("Ours/Aes256CbcDecrypt");
BENCHMARK_CAPTURE(oursAes, Aes256CbcDecryptPortable, 256, false, true)->Name("OursPortable/Aes256CbcDecrypt");
BENCHMARK_CAPTURE(opensslAes, Aes256CbcDecrypt, 256, false)->Name("OpenSsl/Aes256CbcDecrypt");

// --- RC4 -------------------------------------------------------------------------

void oursRc4(benchmark::State& state) {
  qv::Rc4State s;
  qv::rc4SetKey(s, randomBytes(16, 4));
  for (auto _ : state) {
    Bytes out = qv::rc4Crypt(s, buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslRc4(benchmark::State& state) {
  static OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  static OSSL_PROVIDER* deflt = OSSL_PROVIDER_load(nullptr, "default");
  (void)legacy;
  (void)deflt;
  EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
  if (rc4 == nullptr) {
    state.SkipWithError("no RC4 in this OpenSSL");
    return;
  }
  const Bytes key = randomBytes(16, 4);
  std::unique_ptr<EVP_CIPHER_CTX, decltype(&EVP_CIPHER_CTX_free)> ctx(EVP_CIPHER_CTX_new(),
                                                                      EVP_CIPHER_CTX_free);
  EVP_CipherInit_ex(ctx.get(), rc4, nullptr, reinterpret_cast<const unsigned char*>(key.data()), nullptr, 1);
  for (auto _ : state) {
    Bytes out(kBuffer, '\0');
    int n = 0;
    EVP_CipherUpdate(ctx.get(), reinterpret_cast<unsigned char*>(out.data()), &n,
                     reinterpret_cast<const unsigned char*>(buffer().data()), static_cast<int>(kBuffer));
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_free(rc4);
  setBytes(state, kBuffer);
}

BENCHMARK(oursRc4)->Name("Ours/Rc4");
BENCHMARK(opensslRc4)->Name("OpenSsl/Rc4");

// --- digests and HMAC ---------------------------------------------------------------

void oursHmacSha1(benchmark::State& state, bool portable) {
  PortablePath path(portable);
  const Bytes key = randomBytes(20, 5);
  for (auto _ : state) {
    Bytes out = qv::hmacSha1(key, buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslHmacSha1(benchmark::State& state) {
  const Bytes key = randomBytes(20, 5);
  for (auto _ : state) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    HMAC(EVP_sha1(), key.data(), static_cast<int>(key.size()),
         reinterpret_cast<const unsigned char*>(buffer().data()), kBuffer, out, &n);
    benchmark::DoNotOptimize(out);
  }
  setBytes(state, kBuffer);
}

BENCHMARK(oursDigest<qv::md5Digest>)->Name("Ours/Md5");
BENCHMARK_CAPTURE(opensslDigest, Md5, EVP_md5())->Name("OpenSsl/Md5");
BENCHMARK(oursDigest<qv::sha1Digest>)->Name("Ours/Sha1");
BENCHMARK(oursPortableDigest<qv::sha1Digest>)->Name("OursPortable/Sha1");
BENCHMARK_CAPTURE(opensslDigest, Sha1, EVP_sha1())->Name("OpenSsl/Sha1");
BENCHMARK_CAPTURE(oursHmacSha1, Hardware, false)->Name("Ours/HmacSha1");
BENCHMARK_CAPTURE(oursHmacSha1, Portable, true)->Name("OursPortable/HmacSha1");
BENCHMARK(opensslHmacSha1)->Name("OpenSsl/HmacSha1");

// --- TLS PRF: a 104-byte key block from a 48-byte master secret -----------------------

void oursPrf(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = qv::tlsPrf(kPrfSecret, "key expansion", kPrfSeed, 104);
    benchmark::DoNotOptimize(out.data());
  }
}

BENCHMARK(oursPrf)->Name("Ours/TlsPrf104");
BENCHMARK_CAPTURE(opensslTlsPrf, Md5Sha1, "MD5-SHA1", 104)->Name("OpenSsl/TlsPrf104");

// --- RSA -----------------------------------------------------------------------------

struct TestKey {
  Bytes n, e, d, p, q;
  RSA* rsa = nullptr;
};

Bytes bnBytes(EVP_PKEY* pkey, const char* name) {
  BIGNUM* bn = nullptr;
  EVP_PKEY_get_bn_param(pkey, name, &bn);
  Bytes b(static_cast<std::size_t>(BN_num_bytes(bn)), '\0');
  BN_bn2bin(bn, reinterpret_cast<unsigned char*>(b.data()));
  BN_free(bn);
  return b;
}

const TestKey& testKey(int bits) {
  static TestKey keys[2];
  TestKey& k = keys[bits == 2048 ? 1 : 0];
  if (k.rsa == nullptr) {
    EVP_PKEY* pkey = EVP_RSA_gen(static_cast<unsigned>(bits));
    k.n = bnBytes(pkey, OSSL_PKEY_PARAM_RSA_N);
    k.e = bnBytes(pkey, OSSL_PKEY_PARAM_RSA_E);
    k.d = bnBytes(pkey, OSSL_PKEY_PARAM_RSA_D);
    k.p = bnBytes(pkey, OSSL_PKEY_PARAM_RSA_FACTOR1);
    k.q = bnBytes(pkey, OSSL_PKEY_PARAM_RSA_FACTOR2);
    k.rsa = EVP_PKEY_get1_RSA(pkey);
    // Blinding guards OpenSSL's timing; our operation has none, so compare the bare operation.
    RSA_blinding_off(k.rsa);
    EVP_PKEY_free(pkey);
  }
  return k;
}

Bytes rsaInput(const TestKey& k) { return Bytes(1, '\0') + randomBytes(k.n.size() - 1, 8); }

void oursRsaPublic(benchmark::State& state, int bits) {
  const TestKey& k = testKey(bits);
  qv::RsaKey key;
  key.setPublicKey(k.e, k.n);
  const Bytes in = rsaInput(k);
  for (auto _ : state) {
    Bytes out = qv::rsaPublicOp(key, in);
    benchmark::DoNotOptimize(out.data());
  }
}

void oursRsaPrivate(benchmark::State& state, int bits) {
  const TestKey& k = testKey(bits);
  qv::RsaKey key;
  key.setPrivateKey(k.d, k.e, k.n, k.p, k.q);
  const Bytes in = rsaInput(k);
  for (auto _ : state) {
    Bytes out = qv::rsaPrivateOp(key, in);
    benchmark::DoNotOptimize(out.data());
  }
}

void opensslRsa(benchmark::State& state, int bits, bool isPrivate) {
  const TestKey& k = testKey(bits);
  const Bytes in = rsaInput(k);
  Bytes out(k.n.size(), '\0');
  for (auto _ : state) {
    auto from = reinterpret_cast<const unsigned char*>(in.data());
    auto to = reinterpret_cast<unsigned char*>(out.data());
    const int n = static_cast<int>(in.size());
    benchmark::DoNotOptimize(isPrivate ? RSA_private_decrypt(n, from, to, k.rsa, RSA_NO_PADDING)
                                       : RSA_public_encrypt(n, from, to, k.rsa, RSA_NO_PADDING));
  }
}

BENCHMARK_CAPTURE(oursRsaPublic, Rsa2048Public, 2048)->Name("Ours/Rsa2048Public");
BENCHMARK_CAPTURE(opensslRsa, Rsa2048Public, 2048, false)->Name("OpenSsl/Rsa2048Public");
BENCHMARK_CAPTURE(oursRsaPrivate, Rsa2048PrivateCrt, 2048)->Name("Ours/Rsa2048PrivateCrt");
BENCHMARK_CAPTURE(opensslRsa, Rsa2048PrivateCrt, 2048, true)->Name("OpenSsl/Rsa2048PrivateCrt");
BENCHMARK_CAPTURE(oursRsaPrivate, Rsa1024PrivateCrt, 1024)->Name("Ours/Rsa1024PrivateCrt");
BENCHMARK_CAPTURE(opensslRsa, Rsa1024PrivateCrt, 1024, true)->Name("OpenSsl/Rsa1024PrivateCrt");

}  // namespace

BENCHMARK_MAIN();
