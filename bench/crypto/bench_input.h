#pragma once
// The inputs and the digest pairs both crypto benchmark files measure: one
// fixed pseudo-random buffer, so every pair works on the same bytes.
#include <benchmark/benchmark.h>

#include <openssl/core_names.h>
#include <openssl/evp.h>
#include <openssl/kdf.h>

#include <cstdint>
#include <random>
#include <string>
#include <string_view>

#include "crypto/cpu_features.h"
#include "xml/byte_string.h"

namespace qv::bench {

inline constexpr std::size_t kBuffer = 16 * 1024;

inline Bytes randomBytes(std::size_t n, unsigned salt) {
  std::mt19937 engine(1234 + salt);
  Bytes out(n, '\0');
  for (auto& c : out) c = static_cast<char>(engine());
  return out;
}

inline const Bytes& buffer() {
  static const Bytes data = randomBytes(kBuffer, 1);
  return data;
}

// Keeps our ciphers and hashes on the portable path while alive (when on),
// for the OursPortable/... rows measured beside the hardware ones.
class PortablePath {
 public:
  explicit PortablePath(bool on) : on_(on) {
    if (on_) qv::forcePortableCryptoForTesting(true);
  }
  ~PortablePath() {
    if (on_) qv::forcePortableCryptoForTesting(false);
  }
  PortablePath(const PortablePath&) = delete;
  PortablePath& operator=(const PortablePath&) = delete;

 private:
  bool on_;
};

inline void setBytes(benchmark::State& state, std::size_t perIteration) {
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * perIteration));
}

template <Bytes (*Digest)(std::string_view)>
void oursDigest(benchmark::State& state) {
  for (auto _ : state) {
    Bytes out = Digest(buffer());
    benchmark::DoNotOptimize(out.data());
  }
  setBytes(state, kBuffer);
}

template <Bytes (*Digest)(std::string_view)>
void oursPortableDigest(benchmark::State& state) {
  PortablePath portable(true);
  oursDigest<Digest>(state);
}

inline void opensslDigest(benchmark::State& state, const EVP_MD* md) {
  for (auto _ : state) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(buffer().data(), kBuffer, out, &n, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  setBytes(state, kBuffer);
}

// The key-expansion inputs of both PRF pairs.
inline const Bytes kPrfSecret = randomBytes(48, 6);
inline const Bytes kPrfSeed = randomBytes(64, 7);

// OpenSSL's TLS PRF ("MD5-SHA1" for TLS 1.0, "SHA256" for TLS 1.2) making
// length (at most 128) bytes of key block.
inline void opensslTlsPrf(benchmark::State& state, const char* digestName, std::size_t length) {
  EVP_KDF* kdf = EVP_KDF_fetch(nullptr, "TLS1-PRF", nullptr);
  EVP_KDF_CTX* ctx = EVP_KDF_CTX_new(kdf);
  const Bytes seed = "key expansion" + kPrfSeed;
  std::string digest(digestName);
  OSSL_PARAM params[] = {
      OSSL_PARAM_construct_utf8_string(OSSL_KDF_PARAM_DIGEST, digest.data(), 0),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SECRET, const_cast<char*>(kPrfSecret.data()),
                                        kPrfSecret.size()),
      OSSL_PARAM_construct_octet_string(OSSL_KDF_PARAM_SEED, const_cast<char*>(seed.data()), seed.size()),
      OSSL_PARAM_construct_end(),
  };
  // Parameters once: a seed given again on every call would be appended.
  if (EVP_KDF_CTX_set_params(ctx, params) != 1) state.SkipWithError("TLS1-PRF parameters refused");
  for (auto _ : state) {
    unsigned char out[128];
    if (EVP_KDF_derive(ctx, out, length, nullptr) != 1) state.SkipWithError("TLS1-PRF failed");
    benchmark::DoNotOptimize(out);
  }
  EVP_KDF_CTX_free(ctx);
  EVP_KDF_free(kdf);
}

// One record sealed by OpenSSL's EVP AEAD interface per iteration, into a
// fresh output string as ours returns one.
inline void opensslAeadSeal(benchmark::State& state, const EVP_CIPHER* cipher, const Bytes& key,
                            const Bytes& nonce, const Bytes& aad) {
  auto in = [](const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); };
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(ctx, cipher, nullptr, in(key), nullptr);
  for (auto _ : state) {
    Bytes out(kBuffer + 16, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int n = 0, m = 0;
    EVP_EncryptInit_ex(ctx, nullptr, nullptr, nullptr, in(nonce));
    EVP_EncryptUpdate(ctx, nullptr, &n, in(aad), static_cast<int>(aad.size()));
    EVP_EncryptUpdate(ctx, o, &n, in(buffer()), static_cast<int>(kBuffer));
    EVP_EncryptFinal_ex(ctx, o + n, &m);
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_GET_TAG, 16, o + kBuffer);
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  setBytes(state, kBuffer);
}

// The open of `sealed` (buffer() sealed under key, nonce and aad) per iteration.
inline void opensslAeadOpen(benchmark::State& state, const EVP_CIPHER* cipher, const Bytes& key,
                            const Bytes& nonce, const Bytes& aad, const Bytes& sealed) {
  auto in = [](const Bytes& b) { return reinterpret_cast<const unsigned char*>(b.data()); };
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  EVP_DecryptInit_ex(ctx, cipher, nullptr, in(key), nullptr);
  for (auto _ : state) {
    Bytes out(kBuffer, '\0');
    auto* o = reinterpret_cast<unsigned char*>(out.data());
    int n = 0, m = 0;
    EVP_DecryptInit_ex(ctx, nullptr, nullptr, nullptr, in(nonce));
    EVP_DecryptUpdate(ctx, nullptr, &n, in(aad), static_cast<int>(aad.size()));
    EVP_DecryptUpdate(ctx, o, &n, in(sealed), static_cast<int>(kBuffer));
    EVP_CIPHER_CTX_ctrl(ctx, EVP_CTRL_AEAD_SET_TAG, 16, const_cast<char*>(sealed.data() + kBuffer));
    if (EVP_DecryptFinal_ex(ctx, o + n, &m) != 1) state.SkipWithError("OpenSSL refused the tag");
    benchmark::DoNotOptimize(out.data());
  }
  EVP_CIPHER_CTX_free(ctx);
  setBytes(state, kBuffer);
}

}  // namespace qv::bench
