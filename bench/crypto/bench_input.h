#pragma once
// The inputs and the digest pairs both crypto benchmark files measure: one
// fixed pseudo-random buffer, so every pair works on the same bytes.
#include <benchmark/benchmark.h>

#include <openssl/evp.h>

#include <cstdint>
#include <random>
#include <string_view>

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

inline void opensslDigest(benchmark::State& state, const EVP_MD* md) {
  for (auto _ : state) {
    unsigned char out[EVP_MAX_MD_SIZE];
    unsigned int n = 0;
    EVP_Digest(buffer().data(), kBuffer, out, &n, md, nullptr);
    benchmark::DoNotOptimize(out);
  }
  setBytes(state, kBuffer);
}

}  // namespace qv::bench
