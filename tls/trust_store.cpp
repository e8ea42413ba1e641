// The process-wide trust roots and own identity.
#include <mutex>

#include "crypto/rsa.h"
#include "tls/certificate.h"

namespace qv {

namespace {

struct TrustStore {
  std::mutex lock;
  std::vector<Certificate> roots;
  Certificate ownIdentity;
  // The identity's key with its CRT values, worked out once per load rather
  // than per handshake.
  RsaKey ownKey;
};

TrustStore& store() {
  static TrustStore instance;
  return instance;
}

}  // namespace

std::vector<Certificate> TrustRoots() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.roots;
}

void AddTrustRoot(const Certificate& root) {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.roots.push_back(root);
}

void ClearTrustRoots() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.roots.clear();
}

Certificate OwnIdentity() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ownIdentity;
}

void LoadOwnIdentity(const std::vector<Bytes>& chain, const Bytes& privateKeyDer, const TlsLog& log) {
  // Parse only: our own chain needs no trust root.
  Certificate identity =
      ParseCertificateChain(chain, privateKeyDer.size() >= 2 ? std::string_view(privateKeyDer) : " ", log);
  RsaKey key;
  key.setPrivateKey(identity.keyPrivateExponent, identity.keyPublicExponent, identity.keyModulus,
                    identity.keyPrime1, identity.keyPrime2);
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.ownIdentity = std::move(identity);
  state.ownKey = std::move(key);
}

RsaKey OwnPrivateKey() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.ownKey;
}

void ClearOwnIdentity() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.ownIdentity = Certificate{};
  state.ownKey = RsaKey{};
}

}  // namespace qv
