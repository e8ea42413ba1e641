#pragma once
// Runs a test once on the hardware path (AES-NI, PCLMULQDQ, SHA extensions)
// and once on the portable one. Without the extensions (or with
// QV_CRYPTO_PORTABLE=1) the hardware run is skipped.
#include <gtest/gtest.h>

#include <string>

#include "crypto/cpu_features.h"

namespace qv::test {

enum class CryptoPath { kHardware, kPortable };

class CryptoPathTest : public testing::TestWithParam<CryptoPath> {
 protected:
  void SetUp() override {
    forcePortableCryptoForTesting(GetParam() == CryptoPath::kPortable);
    if (GetParam() == CryptoPath::kHardware && !aesHardwareActive() && !shaHardwareActive())
      GTEST_SKIP() << "no AES-NI or SHA extensions in use";
  }
  void TearDown() override { forcePortableCryptoForTesting(false); }
};

// The same for ChaCha20 and Poly1305, whose hardware path is AVX2.
class ChaChaPathTest : public testing::TestWithParam<CryptoPath> {
 protected:
  void SetUp() override {
    forcePortableCryptoForTesting(GetParam() == CryptoPath::kPortable);
    if (GetParam() == CryptoPath::kHardware && !chachaHardwareActive()) GTEST_SKIP() << "no AVX2 in use";
  }
  void TearDown() override { forcePortableCryptoForTesting(false); }
};

inline std::string cryptoPathName(const testing::TestParamInfo<CryptoPath>& info) {
  return info.param == CryptoPath::kHardware ? "Hardware" : "Portable";
}

}  // namespace qv::test

#define QV_ON_BOTH_CRYPTO_PATHS(Suite)                                                                     \
  INSTANTIATE_TEST_SUITE_P(                                                                                \
      Paths, Suite, testing::Values(::qv::test::CryptoPath::kHardware, ::qv::test::CryptoPath::kPortable), \
      ::qv::test::cryptoPathName)
