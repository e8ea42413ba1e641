#pragma once
// The provider's own certificate for a PBX that asks for one, made from the
// setting clientcert at each connect: a PEM file, or (Windows)
// store:<thumbprint> for a certificate whose key stays in the system's key
// storage.
#include <memory>
#include <string>

#include "platform/client_cert_store.h"
#include "tls/signature_schemes.h"

namespace qv {

// Nothing for an empty clientcert; nothing, with a level-1 line saying why,
// when it cannot be used (the connection then goes on without one).
std::shared_ptr<const ClientCredentials> LoadClientCredentials(const std::string& clientcert);

// A key of the system's storage as credentials: the content is hashed here,
// the digest signed there, an ECDSA signature turned into DER.
ClientCredentials CredentialsFromStoreKey(StoreClientKey key);

}  // namespace qv
