// The provider's lifecycle as the telephony service drives it, its export
// table, and the user-interface module it names.
#include <algorithm>
#include <cstdio>
#include <set>

#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {
namespace {

constexpr DWORD kModuleNameCapacity = 260;

bool needPath(const std::vector<std::string>& args, const char* command) {
  if (!args.empty()) return true;
  std::printf("usage: tsphost %s <provider file>\n", command);
  return false;
}

void queryLine(Host& host) {
  if (auto numIds = host.get<decltype(&TSPI_lineGetNumAddressIDs)>("TSPI_lineGetNumAddressIDs")) {
    DWORD count = 0;
    LONG rc = numIds(host.hdLine, &count);
    std::printf("-> TSPI_lineGetNumAddressIDs = %s  addresses %u\n", resultText(rc).c_str(),
                static_cast<unsigned>(count));
  }
  if (auto status = host.get<decltype(&TSPI_lineGetAddressStatus)>("TSPI_lineGetAddressStatus")) {
    LINEADDRESSSTATUS addressStatus{};
    addressStatus.dwTotalSize = sizeof addressStatus;
    LONG rc = status(host.hdLine, 0, &addressStatus);
    std::printf("-> TSPI_lineGetAddressStatus(0) = %s  in use %u, active calls %u\n", resultText(rc).c_str(),
                static_cast<unsigned>(addressStatus.dwNumInUse),
                static_cast<unsigned>(addressStatus.dwNumActiveCalls));
  }
}

}  // namespace

int runLifecycle(const std::vector<std::string>& args) {
  if (!needPath(args, "lifecycle")) return 2;
  Host host;
  bool ok = bringUp(host, args[0]);
  if (ok) queryLine(host);
  ok = tearDown(host) && ok;
  std::printf("%s\n", ok ? "lifecycle complete" : "lifecycle FAILED");
  return ok ? 0 : 1;
}

int runExports(const std::vector<std::string>& args) {
  if (!needPath(args, "exports")) return 2;
  Host host;
  if (!loadProvider(host, args[0])) return 1;
  int missing = 0;
  for (const auto& name : providerExportNames()) {
    if (host.library.symbol(name.c_str()) == nullptr) {
      std::printf("missing: %s\n", name.c_str());
      ++missing;
    }
  }
  std::printf("%zu of %zu exports resolved\n",
              providerExportNames().size() - static_cast<std::size_t>(missing), providerExportNames().size());
  // Where the platform can list the export table, nothing beyond the 117 may be in it.
  std::vector<std::string> table = host.library.exportedNames();
  int extra = 0;
  if (!table.empty()) {
    std::set<std::string> expected(providerExportNames().begin(), providerExportNames().end());
    for (const auto& name : table) {
      if (expected.count(name) == 0) {
        std::printf("unexpected export: %s\n", name.c_str());
        ++extra;
      }
    }
    std::printf("export table holds %zu names\n", table.size());
  }
  return missing == 0 && extra == 0 ? 0 : 1;
}

int runIdentify(const std::vector<std::string>& args) {
  if (!needPath(args, "identify")) return 2;
  Host host;
  if (!loadProvider(host, args[0])) return 1;
  auto identify = host.get<decltype(&TSPI_providerUIIdentify)>("TSPI_providerUIIdentify");
  if (identify == nullptr) return 1;
  WCHAR name[kModuleNameCapacity] = {};
  LONG rc = identify(name);
  std::printf("-> TSPI_providerUIIdentify = %s  UI module %s\n", resultText(rc).c_str(),
              narrow(name).c_str());
  return rc == 0 ? 0 : 1;
}

}  // namespace qv::tsphost
