#pragma once
// What a certificate of the system's key storage needs on our side: its
// thumbprint from the clientcert text, which TLS signature schemes its key
// can make, and ECDSA signatures turned from the store's r || s into DER.
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "crypto/digest.h"
#include "platform/client_cert_store.h"
#include "xml/byte_string.h"

namespace qv {

inline constexpr std::string_view kStorePrefix = "store:";

// The 20 bytes of a SHA-1 thumbprint written as 40 hex digits in any case;
// spaces, colons and the invisible left-to-right marks Windows' certificate
// window copies with it are ignored. Nothing for any other text.
std::optional<Bytes> ParseStoreThumbprint(std::string_view text);

// How the store makes a signature of a TLS scheme.
struct StoreSignatureRequest {
  HashAlgorithm digest = HashAlgorithm::kSha256;  // what we hash the content with
  StoreHash hash = StoreHash::kSha256;
  StorePadding padding = StorePadding::kPkcs1;
};
// Nothing when the key cannot make the scheme.
std::optional<StoreSignatureRequest> StoreRequestForScheme(StoreKeyKind kind, std::uint16_t scheme);
// The schemes a key of this kind makes, PSS before PKCS #1 v1.5.
std::vector<std::uint16_t> StoreKeySchemes(StoreKeyKind kind);

// The DER Ecdsa-Sig-Value of an r || s signature (two halves of equal
// length); empty for an empty or odd-length input.
Bytes EcdsaP1363ToDer(std::string_view rs);

}  // namespace qv
