#pragma once
// Each test starts with no provider key: natively a fresh store file, under
// wine the key deleted from the prefix's registry.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "session/settings.h"

namespace qv::test {

class RegistrySandbox : public ::testing::Test {
 protected:
  void SetUp() override {
    dir_ = std::filesystem::temp_directory_path() /
           ("qv-dialog-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
    std::filesystem::create_directories(dir_);
#ifdef _WIN32
    std::system("reg delete HKLM\\SOFTWARE\\quorvelone\\tapi /f >NUL 2>NUL");
#else
    setenv("QUORVELONE_REGISTRY", (dir_ / "registry.reg").c_str(), 1);
#endif
    replaceSettings(ProviderSettings{});
  }
  void TearDown() override {
    std::error_code ignored;
    std::filesystem::remove_all(dir_, ignored);
    replaceSettings(ProviderSettings{});
  }
  std::filesystem::path dir_;
};

}  // namespace qv::test
