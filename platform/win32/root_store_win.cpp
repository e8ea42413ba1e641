// The machine's and user's ROOT system store through CryptoAPI.
#include <windows.h>
#include <wincrypt.h>

#include "platform/root_store.h"

namespace qv {

namespace {

// No store holds anywhere near this many roots; the bound keeps a corrupt
// one from growing the list without end.
constexpr std::size_t kMaxStoreCertificates = 4096;

}  // namespace

PlatformRoots ReadPlatformRoots() {
  PlatformRoots roots;
  roots.source = "system store ROOT";
  HCERTSTORE store = CertOpenSystemStoreW(0, L"ROOT");
  if (store == nullptr) return roots;
  std::size_t bytes = 0;
  PCCERT_CONTEXT context = nullptr;
  while ((context = CertEnumCertificatesInStore(store, context)) != nullptr) {
    if (context->pbCertEncoded == nullptr || context->cbCertEncoded == 0) continue;
    bytes += context->cbCertEncoded;
    if (roots.der.size() >= kMaxStoreCertificates || bytes > kMaxRootBundleBytes) {
      CertFreeCertificateContext(context);
      break;
    }
    roots.der.emplace_back(reinterpret_cast<const char*>(context->pbCertEncoded), context->cbCertEncoded);
  }
  CertCloseStore(store, 0);
  roots.available = true;
  return roots;
}

}  // namespace qv
