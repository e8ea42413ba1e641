// No system key storage here: a certificate comes from a PEM file only.
#include "platform/client_cert_store.h"

namespace qv {

std::optional<StoreClientKey> OpenStoreClientKey(std::string_view /*sha1Thumbprint*/, std::string* problem) {
  if (problem != nullptr) *problem = "a certificate store is not available on this system";
  return std::nullopt;
}

}  // namespace qv
