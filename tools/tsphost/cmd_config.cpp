// tsphost config: opens the provider's configuration dialog the way TAPI
// does (TUISPI_providerConfig, or TUISPI_lineConfigDialog with --line).
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tsphost/provider_choice.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

namespace {

LONG TSPIAPI uiCallback(DWORD_PTR /*dwObjectID*/, DWORD /*dwObjectType*/, LPVOID /*lpParams*/,
                        DWORD /*dwSize*/) {
  return 0;
}

}  // namespace

int runConfig(const std::vector<std::string>& args) {
  bool line = false;
  std::vector<std::string> rest;
  for (const std::string& a : args) {
    if (a == "--line") {
      line = true;
    } else {
      rest.push_back(a);
    }
  }
  const std::vector<std::string> providers = chooseProviders(rest);
  if (providers.empty()) {
    std::printf("usage: tsphost config [provider file] [--line]\n");
    return 2;
  }
  Host host;
  if (!loadProvider(host, providers.front())) return 1;
  LONG rc = 0;
  if (line) {
    auto dialog = host.get<decltype(&TUISPI_lineConfigDialog)>("TUISPI_lineConfigDialog");
    if (dialog == nullptr) return 1;
    rc = dialog(uiCallback, host.lineDeviceIdBase, nullptr, nullptr);
    std::printf("-> TUISPI_lineConfigDialog(%u) = %s\n", static_cast<unsigned>(host.lineDeviceIdBase),
                resultText(rc).c_str());
  } else {
    auto config = host.get<decltype(&TUISPI_providerConfig)>("TUISPI_providerConfig");
    if (config == nullptr) return 1;
    rc = config(uiCallback, nullptr, host.permanentProviderId);
    std::printf("-> TUISPI_providerConfig(%u) = %s\n", static_cast<unsigned>(host.permanentProviderId),
                resultText(rc).c_str());
  }
  return rc == 0 ? 0 : 1;
}

}  // namespace qv::tsphost
