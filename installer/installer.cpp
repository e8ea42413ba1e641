#include "installer/installer.h"

#include <cstdio>
#include <cstdlib>
#include <string_view>
#include <vector>

#include "installer/fetch_provider_list.h"
#include "installer/provider_list_format.h"
#include "platform/provider_list.h"

namespace qv {

namespace {

constexpr std::uint32_t kListingBufferSize = 65536;

bool equalsNoCase(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (std::size_t i = 0; i < a.size(); ++i) {
    auto lower = [](char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

int Install() {
  std::uint32_t id = 0;
  const std::int32_t result = AddProvider(kProviderFileName, &id);
  switch (result) {
    case 0:
      return 0;
    case kLineErrIniFileCorrupt:
      std::fprintf(stderr, "TSP LINEERR_INIFILECORRUPT.\r\n");
      return 0;
    case kLineErrInvalParam:
      std::fprintf(stderr, "TSP LINEERR_INVALPARAM.\r\n");
      return 0;
    case kLineErrInvalPointer:
      std::fprintf(stderr, "TSP LINEERR_INVALPOINTER.\r\n");
      return 0;
    case kLineErrNoMem:
      std::fprintf(stderr, "TSP LINEERR_NOMEM.\r\n");
      return 0;
    case kLineErrOperationFailed:
      std::fprintf(stderr, "TSP LINEERR_OPERATIONFAILED.\r\n");
      return 0;
    case kLineErrNoMultipleInstance:
      std::fprintf(stderr, "TSP already installed.\r\n");
      return 0;
    default:
      std::fprintf(stderr, "TSP could not be installed.\r\n");
      return 1;
  }
}

int List() {
  std::vector<std::uint32_t> words(kListingBufferSize / 4);
  unsigned char* list = reinterpret_cast<unsigned char*>(words.data());
  storeUInt32(list + kProviderListOffsetTotalSize, kListingBufferSize);
  // A failed call leaves the list empty or partial; it is printed as it is.
  GetProviderListWide(kInstallerApiVersion, list);
  for (const ProviderListEntry& entry : ReadProviderList(list, kListingBufferSize, true)) {
    std::printf("Provider %d: ", static_cast<int>(entry.permanentProviderId));
    for (char16_t unit : entry.wideName) std::putchar(static_cast<unsigned char>(unit & 0xFF));
    std::printf("\r\n");
  }
  return 0;
}

int Uninstall() {
  std::optional<ProviderListLibrary> library = ProviderListLibrary::Load();
  if (!library) std::exit(-1);
  FetchedProviderList fetched = FetchProviderList(
      [&](std::uint32_t version, void* list) { return library->GetProviderList(version, list); });
  library.reset();

  std::optional<std::uint32_t> found;
  if (fetched.result == 0) {
    for (const ProviderListEntry& entry : ReadProviderList(fetched.bytes(), fetched.size(), false)) {
      if (equalsNoCase(entry.narrowName, kProviderFileName)) {
        found = entry.permanentProviderId;
        break;
      }
    }
  }
  if (!found) {
    std::fprintf(stderr, "TSP not found.\r\n");
    return 0;
  }
  const std::int32_t result = RemoveProvider(*found);
  if (result != 0)
    std::fprintf(stderr, "TSP could not be removed (0x%x).\r\n", static_cast<unsigned>(result));
  return 0;
}

}  // namespace

int RunInstaller(int argc, char** argv) {
  if (argc < 2) return Install();
  const std::string_view argument = argv[1];
  if (equalsNoCase(argument, "/Uninstall")) return Uninstall();
  if (equalsNoCase(argument, "/List")) return List();
  std::fprintf(stderr, "Usage: %s [/Uninstall] [/List]\r\n", argv[0] != nullptr ? argv[0] : "installer");
  return 1;
}

}  // namespace qv
