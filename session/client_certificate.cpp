#include "session/client_certificate.h"

#include <utility>

#include "crypto/digest.h"
#include "session/certificate_settings.h"
#include "session/log.h"
#include "session/store_credentials.h"

namespace qv {

namespace {

const char* kindName(StoreKeyKind kind) {
  switch (kind) {
    case StoreKeyKind::kRsa:
      return "RSA";
    case StoreKeyKind::kEcP256:
      return "EC P-256";
    case StoreKeyKind::kEcP384:
      return "EC P-384";
  }
  return "?";
}

void logUnused(const std::string& clientcert, const std::string& reason) {
  writeLog(1, "Client certificate \"" + clientcert + "\" not used: " + reason + "; connecting without one");
}

std::shared_ptr<const ClientCredentials> fromStore(const std::string& clientcert) {
  std::optional<Bytes> thumbprint =
      ParseStoreThumbprint(std::string_view(clientcert).substr(kStorePrefix.size()));
  if (!thumbprint) {
    logUnused(clientcert, "store: must be followed by the certificate's SHA-1 thumbprint (40 hex digits)");
    return nullptr;
  }
  std::string problem;
  std::optional<StoreClientKey> key = OpenStoreClientKey(*thumbprint, &problem);
  if (!key) {
    logUnused(clientcert, problem);
    return nullptr;
  }
  const std::string line = "Client certificate \"" + clientcert +
                           "\": " + std::to_string(key->chainDer.size()) + " certificates, " +
                           kindName(key->kind) + " key in the system's key storage";
  auto credentials = std::make_shared<const ClientCredentials>(CredentialsFromStoreKey(std::move(*key)));
  writeLog(5, line);
  return credentials;
}

std::shared_ptr<const ClientCredentials> fromFile(const std::string& clientcert) {
  std::string text;
  if (!ReadBoundedFile(clientcert, text)) {
    logUnused(clientcert, "the file cannot be read");
    return nullptr;
  }
  std::string error;
  std::optional<ClientCredentials> credentials = ClientCredentialsFromPem(text, &error);
  if (!credentials) {
    logUnused(clientcert, error);
    return nullptr;
  }
  writeLog(5, "Client certificate \"" + clientcert + "\": " + std::to_string(credentials->chainDer.size()) +
                  " certificates");
  return std::make_shared<const ClientCredentials>(std::move(*credentials));
}

}  // namespace

std::shared_ptr<const ClientCredentials> LoadClientCredentials(const std::string& clientcert) {
  if (clientcert.empty()) return nullptr;
  if (clientcert.compare(0, kStorePrefix.size(), kStorePrefix) == 0) return fromStore(clientcert);
  return fromFile(clientcert);
}

ClientCredentials CredentialsFromStoreKey(StoreClientKey key) {
  ClientCredentials credentials;
  credentials.chainDer = std::move(key.chainDer);
  credentials.supportedSchemes = StoreKeySchemes(key.kind);
  const StoreKeyKind kind = key.kind;
  credentials.sign = [kind, sign = std::move(key.signDigest)](std::uint16_t scheme,
                                                              std::string_view content) -> Bytes {
    std::optional<StoreSignatureRequest> request = StoreRequestForScheme(kind, scheme);
    if (!request || !sign) return {};
    std::string error;
    Bytes signature = sign(request->hash, request->padding, digestOf(request->digest, content), &error);
    if (signature.empty()) {
      writeLog(1, "Client certificate: the system's key storage did not sign: " + error);
      return {};
    }
    return kind == StoreKeyKind::kRsa ? signature : EcdsaP1363ToDer(signature);
  };
  return credentials;
}

}  // namespace qv
