#include "installer/fetch_provider_list.h"

#include <new>

#include "installer/provider_list_format.h"

namespace qv {

namespace {

// A list cannot legitimately need more; a larger dwNeededSize is treated as
// an allocation failure rather than followed.
constexpr std::uint32_t kMaxProviderListSize = 64u * 1024u * 1024u;

}  // namespace

FetchedProviderList FetchProviderList(const GetProviderListCall& getProviderList) {
  FetchedProviderList list;
  std::uint32_t wanted = kProviderListFixedSize;
  for (;;) {
    unsigned char* bytes = reinterpret_cast<unsigned char*>(list.words.data());
    if (list.words.empty() || loadUInt32(bytes) < wanted) {
      // A wanted size below the fixed part would loop for ever on a callee
      // that keeps refusing; never ask with less than the fixed part.
      if (wanted < kProviderListFixedSize || wanted > kMaxProviderListSize) {
        list.result = kLineErrNoMem;
        return list;
      }
      try {
        list.words.resize((wanted + 3) / 4);
      } catch (const std::bad_alloc&) {
        list.result = kLineErrNoMem;
        return list;
      }
      bytes = reinterpret_cast<unsigned char*>(list.words.data());
    }
    storeUInt32(bytes + kProviderListOffsetTotalSize, wanted);
    std::int32_t result = getProviderList(kInstallerApiVersion, bytes);
    const std::uint32_t needed = loadUInt32(bytes + kProviderListOffsetNeededSize);
    if (result == kLineErrStructureTooSmall || (result == 0 && needed > wanted)) {
      // Asking again for the same size would repeat the same answer forever.
      if (needed <= wanted) {
        list.result = result == 0 ? kLineErrNoMem : result;
        return list;
      }
      wanted = needed;
      continue;
    }
    list.result = result;
    return list;
  }
}

}  // namespace qv
