#pragma once
// Each test starts with no provider key: natively a fresh store file, under
// wine the key deleted from the prefix's registry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/registry.h"
#include "session/settings.h"

namespace qv::test {

class RegistrySandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qv-dialog-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
#ifndef _WIN32
    setenv("QUORVELONE_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
#endif
    deleteProviderKeyForTesting();
    ReplaceSettings(ProviderSettings{});
  }
  void TearDown() override {
    // Later tests in the same wine prefix expect no key.
    deleteProviderKeyForTesting();
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    ReplaceSettings(ProviderSettings{});
  }
  std::filesystem::path dir_;
};

}  // namespace qv::test
