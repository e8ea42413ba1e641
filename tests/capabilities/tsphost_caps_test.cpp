// tsphost caps drives the built provider and names what it reports.
#include <gtest/gtest.h>
#include <stdio.h>
#include <stdlib.h>

#include <chrono>
#include <filesystem>
#include <string>

#include "platform/provider_registry.h"

namespace qv {
namespace {

std::string runCaps(const std::string& arguments) {
  std::string command = std::string(QV_TSPHOST_PATH) + " caps " + arguments + " 2>&1";
  std::string output;
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) return output;
  char buffer[4096];
  std::size_t n = 0;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
  pclose(pipe);
  return output;
}

TEST(TsphostCapsTest, PrintsNamesForTheFlags) {
  // No settings store: the answers need none.
  setenv("QUORVELONE_REGISTRY",
         (std::filesystem::temp_directory_path() / "qv-caps-none" / "registry.reg").c_str(), 1);
  const std::string out = runCaps(QV_PROVIDER_PATH);
  for (const char* expected : {
           "provider info              \"Quorvel ONE TAPI Service Provider\"",
           "line name                  \"Quorvel ONE PBX\"",
           "bearer modes               0x00000001  VOICE",
           "media modes                0x00000004  INTERACTIVEVOICE",
           "line features              0x00000008  MAKECALL",
           "call states                0x00000117  IDLE | OFFERING | ACCEPTED | DIALING | CONNECTED",
           "call features              0x000002C5  ACCEPT | ANSWER | DIAL | DROP | GENERATEDIGITS",
           "address features           0x00000003  FORWARD | MAKECALL",
           "line device status         0x8000002B (LINEERR_INVALLINEHANDLE)",
       }) {
    EXPECT_NE(out.find(expected), std::string::npos) << expected << "\n" << out;
  }
}

TEST(TsphostCapsTest, WithoutAProviderNamedItUsesTheRegisteredOnes) {
  const auto store =
      std::filesystem::temp_directory_path() /
      ("qv-caps-" + std::to_string(std::chrono::steady_clock::now().time_since_epoch().count()));
  std::filesystem::create_directories(store);
  setenv("QUORVELONE_REGISTRY", (store / "registry.reg").c_str(), 1);
  EXPECT_NE(runCaps("").find("no provider named and none registered"), std::string::npos);
  ASSERT_EQ(UpdateProviderRegistry([](ProviderRegistry& r) {
              r.providers.push_back({1, QV_PROVIDER_PATH});
              return true;
            }),
            ProviderRegistryStatus::ok);
  const std::string out = runCaps("");
  EXPECT_NE(out.find(std::string("registered provider: ") + QV_PROVIDER_PATH), std::string::npos) << out;
  EXPECT_NE(out.find("line name                  \"Quorvel ONE PBX\""), std::string::npos) << out;
  std::filesystem::remove_all(store);
}

}  // namespace
}  // namespace qv
