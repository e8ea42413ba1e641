// The TLS 1.3 primitives against OpenSSL, linked into crypto_bench:
// ChaCha20-Poly1305 over one 16 KiB record, Poly1305 alone, and
// HKDF-Expand-Label as the key schedule calls it.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include "bench/crypto/bench_input.h"
#include "crypto/chacha20_poly1305.h"
#include "crypto/hkdf.h"
#include "crypto/poly1305.h"

namespace {

using qv::Bytes;
using namespace qv::bench;

const unsigned char* u8(const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); }

const Bytes kKey = randomBytes(32, 21);
const Bytes kNonce = randomBytes(12, 22);
const Bytes kAad = randomBytes(5, 23);  // TLS 1.3's record header

void oursChaChaSeal(benchmark::State& state) {
  qv::ChaCha20Poly1305 aead;
  aead.setKey(kKey);
  for (auto _ : state) {
    Bytes out = aead.seal(kNonce, kAad, buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

void opensslChaChaSeal(benchmark::State& state) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, u8(kKey), nullptr);
  for (auto _ : state) {
    // A fresh output string per record, as ours returns one.
    Bytes out(kBuffer + 16, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int n = 0, m = 0;
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, u8(kNonce));
    EVP_EncryptUpdate(ctx, nullptr, &n, u8(kAad), static_cast<int>(kAad.size()));
    EVP_EncryptUpdate(ctx, o, &n, u8(buffer()), static_cast<int>(kBuffer));
    EVP_EncryptFinal_ex(ctx, o + n, &m);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, o + kBuffer);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  setBytes(state, kBuffer);
}

void oursChaChaOpen(benchmark::State& state) {
  qv::ChaCha20Poly1305 aead;
  aead.setKey(kKey);
  const Bytes sealed = aead.seal(kNonce, kAad, buffer());
  for (auto _ : state) {
    auto out = aead.open(kNonce, kAad, sealed);
    benchmark::DoNotOptimize(out->data());
  }
  setBytes(state, kBuffer);
}

void opensslChaChaOpen(benchmark::State& state) {
  qv::ChaCha20Poly1305 aead;
  aead.setKey(kKey);
  Bytes sealed = aead.seal(kNonce, kAad, buffer());
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, EVP_chacha20_poly1305(), nullptr, u8(kKey), nullptr);
  for (auto _ : state) {
    Bytes out(kBuffer, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int n = 0, m = 0;
    EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, u8(kNonce));
    EVP_DecryptUpdate(ctx, nullptr, &n, u8(kAad), static_cast<int>(kAad.size()));
    EVP_DecryptUpdate(ctx, o, &n, u8(sealed), static_cast<int>(kBuffer));
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, sealed.data() + kBuffer);
    if (EVP_DecryptFinal_ex(ctx, o + n, &m) != 1) state.SkipWithError("OpenSSL refused the tag");
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  setBytes(state, kBuffer);
}

void oursPoly1305(benchmark::State& state) {
  for (auto _ : state) {
    Bytes tag = qv::poly1305(kKey, buffer());
    benchmark::DoNotOptimize(tag.data());
  }
  setBytes(state, kBuffer);
}

void opensslPoly1305(benchmark::State& state) {
  EVP_MAC* mac = EVP_MAC_fetch(nullptr, "POLY1305", nullptr);
  EVP_MAC_CTX* ctx = EVP_MAC_CTX_new(mac);
  for (auto _ : state) {
    unsigned char tag[16];
    std::size_t length = 0;
    EVP_MAC_init(ctx, u8(kKey), kKey.size(), nullptr);
    EVP_MAC_update(ctx, u8(buffer()), kBuffer);
    EVP_MAC_final(ctx, tag, &length, sizeof tag);
    benchmark::DoNotOptimize(tag);
  }
  EVP_MAC_CTX_free(ctx);
  EVP_MAC_free(mac);
  setBytes(state, kBuffer);
}

// One traffic key: HKDF-Expand-Label(secret, "key", "", 16) over SHA-256.
void oursHkdfExpandLabel(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = qv::hkdfExpandLabel(qv::HashAlgorithm::kSha256, kKey, "key", "", 16);
    benchmark::DoNotOptimize(out.data());
  }
}

void opensslHkdfExpandLabel(benchmark::State& state) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "HKDF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  // The HkdfLabel built by hand, so both sides do the same HMAC work.
  Bytes info = Bytes("\x00\x10\x09tls13 key\x00", 13);
  int mode = EVP_KDF_HKDF_MODE_EXPAND_ONLY;
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, const_cast<char*>("SHA256"), 0),
      OSSL_PARAM_construct_int(OSSL_KDF_PARAM_MODE, &mode),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_KEY, const_cast<char*>(kKey.data()), kKey.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_INFO, info.data(), info.size()),
      OSSL_PARAM_construct_end()};
  for (auto _ : state) {
    unsigned char out[16];
    EVP_KDF_derive(ctx, out, sizeof out, params);
    benchmark::DoNotOptimize(out);
  }
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
}

BENCHMARK(oursChaChaSeal)->Name("Ours/ChaCha20Poly1305Seal");
BENCHMARK(opensslChaChaSeal)->Name("OpenSsl/ChaCha20Poly1305Seal");
BENCHMARK(oursChaChaOpen)->Name("Ours/ChaCha20Poly1305Open");
BENCHMARK(opensslChaChaOpen)->Name("OpenSsl/ChaCha20Poly1305Open");
BENCHMARK(oursPoly1305)->Name("Ours/Poly1305");
BENCHMARK(opensslPoly1305)->Name("OpenSsl/Poly1305");
BENCHMARK(oursHkdfExpandLabel)->Name("Ours/HkdfExpandLabel");
BENCHMARK(opensslHkdfExpandLabel)->Name("OpenSsl/HkdfExpandLabel");

}  // namespace
