// The process-wide trust roots and own identity.
#include <mutex>

#include "tls/certificate.h"

namespace qv {

namespace {

struct TrustStore {
  std::mutex lock;
  std::vector<Certificate> roots;
  Certificate ownIdentity;
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
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.ownIdentity = std::move(identity);
}

void ClearOwnIdentity() {
  TrustStore& state = store();
  std::lock_guard<std::mutex> guard(state.lock);
  state.ownIdentity = Certificate{};
}

}  // namespace qv
