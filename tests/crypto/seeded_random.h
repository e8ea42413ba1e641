#pragma once
// Seeded random inputs for the differential tests: QV_TEST_SEED overrides the
// default seed, and every failure prints it so the run reproduces.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <random>

#include "xml/byte_string.h"

namespace qv::test {

template <std::uint64_t kDefaultSeed>
class SeededRandom {
 public:
  explicit SeededRandom(std::uint64_t salt) : engine_(seed() * 1000003u + salt) {}

  static std::uint64_t seed() {
    static const std::uint64_t value = [] {
      const char* env = std::getenv("QV_TEST_SEED");
      return env ? std::strtoull(env, nullptr, 0) : kDefaultSeed;
    }();
    return value;
  }

  std::size_t below(std::size_t n) { return std::uniform_int_distribution<std::size_t>(0, n - 1)(engine_); }
  Bytes bytes(std::size_t n) {
    Bytes out(n, '\0');
    for (auto& c : out) c = static_cast<char>(engine_());
    return out;
  }

 private:
  std::mt19937_64 engine_;
};

}  // namespace qv::test
