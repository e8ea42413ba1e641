// tsphost lines: every line the provider enumerates, one row each, with the
// name and identifiers from its device capabilities and its address.
#include <cstdio>
#include <string>
#include <vector>

#include "tools/tsphost/provider_choice.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {
namespace {

constexpr DWORD kBufferSize = 4096;

std::string wideMember(const std::vector<std::uint32_t>& words, DWORD offset, DWORD size) {
  const auto* base = reinterpret_cast<const unsigned char*>(words.data());
  if (size == 0 || offset > kBufferSize || size > kBufferSize - offset) return "";
  std::vector<WCHAR> units;
  for (DWORD i = 0; i + 1 < size; i += 2) {
    auto unit = static_cast<WCHAR>(base[offset + i] | (base[offset + i + 1] << 8));
    if (unit == 0) break;
    units.push_back(unit);
  }
  units.push_back(0);
  return narrow(units.data());
}

bool listLines(Host& host) {
  auto getDevCaps = host.get<decltype(&TSPI_lineGetDevCaps)>("TSPI_lineGetDevCaps");
  auto getAddressCaps = host.get<decltype(&TSPI_lineGetAddressCaps)>("TSPI_lineGetAddressCaps");
  if (getDevCaps == nullptr || getAddressCaps == nullptr) return false;
  std::printf("%-8s %-30s %-12s %-10s %s\n", "device", "name", "address", "permanent", "GUID");
  bool ok = true;
  for (DWORD i = 0; i < host.numLines; ++i) {
    const DWORD device = host.lineDeviceIdBase + i;
    std::vector<std::uint32_t> caps(kBufferSize / 4, 0);
    auto* devCaps = reinterpret_cast<LINEDEVCAPS*>(caps.data());
    devCaps->dwTotalSize = kBufferSize;
    LONG rc = getDevCaps(device, host.tspiVersion, 0, devCaps);
    std::vector<std::uint32_t> address(kBufferSize / 4, 0);
    auto* addressCaps = reinterpret_cast<LINEADDRESSCAPS*>(address.data());
    addressCaps->dwTotalSize = kBufferSize;
    LONG rcAddress = getAddressCaps(device, 0, host.tspiVersion, 0, addressCaps);
    if (rc != 0 || rcAddress != 0) {
      std::printf("%-8u TSPI_lineGetDevCaps = %s, TSPI_lineGetAddressCaps = %s\n",
                  static_cast<unsigned>(device), resultText(rc).c_str(), resultText(rcAddress).c_str());
      ok = false;
      continue;
    }
    std::printf("%-8u %-30s %-12s %-10s %s\n", static_cast<unsigned>(device),
                wideMember(caps, devCaps->dwLineNameOffset, devCaps->dwLineNameSize).c_str(),
                wideMember(address, addressCaps->dwAddressOffset, addressCaps->dwAddressSize).c_str(),
                hex32(devCaps->dwPermanentLineID).c_str(), guidText(devCaps->PermanentLineGuid).c_str());
  }
  return ok;
}

}  // namespace

int runLines(const std::vector<std::string>& args) {
  bool ok = true;
  for (const std::string& path : chooseProviders(args)) {
    Host host;
    if (!loadProvider(host, path) || !negotiate(host) || !enumerateDevices(host) || !initProvider(host)) {
      tearDown(host);
      ok = false;
      continue;
    }
    ok = listLines(host) && ok;
    ok = tearDown(host) && ok;
  }
  return ok ? 0 : 1;
}

}  // namespace qv::tsphost
