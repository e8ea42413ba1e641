// A certificate of the LocalMachine "My" store with its private key in CNG:
// the key is opened by handle and every signature is made by NCryptSignHash,
// so the key never leaves the key storage provider.
#include <windows.h>
#include <bcrypt.h>
#include <ncrypt.h>
#include <wincrypt.h>

#include <cstdio>
#include <memory>

#include "platform/client_cert_store.h"

namespace qv {

namespace {

// No client chain is anywhere near this long.
constexpr DWORD kMaxChainCertificates = 10;

std::string errorText(const char* what, unsigned long code) {
  char buffer[32];
  std::snprintf(buffer, sizeof buffer, " (error 0x%08lX)", code);
  return std::string(what) + buffer;
}

// Owns what a signature needs for as long as the credentials exist.
struct HeldKey {
  PCCERT_CONTEXT certificate = nullptr;
  NCRYPT_KEY_HANDLE key = 0;
  bool freeKey = false;
  ~HeldKey() {
    if (freeKey && key != 0) NCryptFreeObject(key);
    if (certificate != nullptr) CertFreeCertificateContext(certificate);
  }
};

std::string encoded(PCCERT_CONTEXT c) {
  return std::string(reinterpret_cast<const char*>(c->pbCertEncoded), c->cbCertEncoded);
}

// The key type from the certificate's public key: rsaEncryption, or
// id-ecPublicKey with the named curve as its parameters.
std::optional<StoreKeyKind> keyKindOf(PCCERT_CONTEXT c, std::string* problem) {
  const CERT_PUBLIC_KEY_INFO& info = c->pCertInfo->SubjectPublicKeyInfo;
  const std::string oid = info.Algorithm.pszObjId != nullptr ? info.Algorithm.pszObjId : "";
  if (oid == szOID_RSA_RSA) return StoreKeyKind::kRsa;
  if (oid == szOID_ECC_PUBLIC_KEY) {
    const CRYPT_OBJID_BLOB& named = info.Algorithm.Parameters;
    const std::string parameters =
        named.pbData == nullptr ? std::string()
                                : std::string(reinterpret_cast<const char*>(named.pbData), named.cbData);
    if (parameters == std::string("\x06\x08\x2A\x86\x48\xCE\x3D\x03\x01\x07", 10))
      return StoreKeyKind::kEcP256;
    if (parameters == std::string("\x06\x05\x2B\x81\x04\x00\x22", 7)) return StoreKeyKind::kEcP384;
    *problem = "its EC key is on a curve other than P-256 and P-384";
    return std::nullopt;
  }
  *problem = "its key is neither RSA nor EC (" + oid + ")";
  return std::nullopt;
}

// The certificate, then the issuers the machine's stores know, without the root.
std::vector<std::string> chainOf(PCCERT_CONTEXT c) {
  std::vector<std::string> chain;
  CERT_CHAIN_PARA para{};
  para.cbSize = sizeof para;
  PCCERT_CHAIN_CONTEXT context = nullptr;
  if (CertGetCertificateChain(HCCE_LOCAL_MACHINE, c, nullptr, nullptr, &para, 0, nullptr, &context) &&
      context != nullptr && context->cChain > 0) {
    const CERT_SIMPLE_CHAIN* simple = context->rgpChain[0];
    for (DWORD i = 0; i < simple->cElement && i < kMaxChainCertificates; ++i) {
      const CERT_CHAIN_ELEMENT* element = simple->rgpElement[i];
      const bool selfSigned = (element->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED) != 0;
      if (i > 0 && selfSigned) break;  // the peer has its roots
      chain.push_back(encoded(element->pCertContext));
    }
  }
  if (context != nullptr) CertFreeCertificateChain(context);
  if (chain.empty()) chain.push_back(encoded(c));
  return chain;
}

const wchar_t* hashName(StoreHash hash) {
  switch (hash) {
    case StoreHash::kSha256:
      return BCRYPT_SHA256_ALGORITHM;
    case StoreHash::kSha384:
      return BCRYPT_SHA384_ALGORITHM;
    case StoreHash::kSha512:
      return BCRYPT_SHA512_ALGORITHM;
  }
  return BCRYPT_SHA256_ALGORITHM;
}

std::string signWith(const HeldKey& held, StoreKeyKind kind, StoreHash hash, StorePadding padding,
                     std::string_view digest, std::string* error) {
  BCRYPT_PKCS1_PADDING_INFO pkcs1{hashName(hash)};
  BCRYPT_PSS_PADDING_INFO pss{hashName(hash), static_cast<ULONG>(digest.size())};
  void* paddingInfo = nullptr;
  DWORD flags = NCRYPT_SILENT_FLAG;
  if (kind == StoreKeyKind::kRsa) {
    paddingInfo = padding == StorePadding::kPss ? static_cast<void*>(&pss) : static_cast<void*>(&pkcs1);
    flags |= padding == StorePadding::kPss ? BCRYPT_PAD_PSS : BCRYPT_PAD_PKCS1;
  }
  std::string hashValue(digest);
  auto* hashBytes = reinterpret_cast<PBYTE>(hashValue.data());
  const auto hashLength = static_cast<DWORD>(hashValue.size());
  DWORD size = 0;
  SECURITY_STATUS status =
      NCryptSignHash(held.key, paddingInfo, hashBytes, hashLength, nullptr, 0, &size, flags);
  if (status != ERROR_SUCCESS || size == 0 || size > 1024) {
    if (error != nullptr) *error = errorText("NCryptSignHash", static_cast<unsigned long>(status));
    return {};
  }
  std::string signature(size, '\0');
  status = NCryptSignHash(held.key, paddingInfo, hashBytes, hashLength,
                          reinterpret_cast<PBYTE>(signature.data()), size, &size, flags);
  if (status != ERROR_SUCCESS) {
    if (error != nullptr) *error = errorText("NCryptSignHash", static_cast<unsigned long>(status));
    return {};
  }
  signature.resize(size);
  return signature;
}

}  // namespace

std::optional<StoreClientKey> OpenStoreClientKey(std::string_view sha1Thumbprint, std::string* problem) {
  std::string ignored;
  if (problem == nullptr) problem = &ignored;
  if (sha1Thumbprint.size() != 20) {
    *problem = "a thumbprint is 20 bytes";
    return std::nullopt;
  }
  HCERTSTORE store = CertOpenStore(
      CERT_STORE_PROV_SYSTEM_W, 0, 0,
      CERT_SYSTEM_STORE_LOCAL_MACHINE | CERT_STORE_READONLY_FLAG | CERT_STORE_OPEN_EXISTING_FLAG, L"MY");
  if (store == nullptr) {
    *problem = errorText("the LocalMachine \"My\" store cannot be opened", GetLastError());
    return std::nullopt;
  }
  std::string thumbprint(sha1Thumbprint);
  CRYPT_HASH_BLOB blob{20, reinterpret_cast<BYTE*>(thumbprint.data())};
  auto held = std::make_shared<HeldKey>();
  held->certificate = CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                                 CERT_FIND_SHA1_HASH, &blob, nullptr);
  // The context keeps its own reference to the store.
  CertCloseStore(store, 0);
  if (held->certificate == nullptr) {
    *problem = "no certificate with this thumbprint in the LocalMachine \"My\" store";
    return std::nullopt;
  }
  std::optional<StoreKeyKind> kind = keyKindOf(held->certificate, problem);
  if (!kind) return std::nullopt;
  HCRYPTPROV_OR_NCRYPT_KEY_HANDLE key = 0;
  DWORD keySpec = 0;
  BOOL callerFrees = FALSE;
  if (!CryptAcquireCertificatePrivateKey(
          held->certificate,
          CRYPT_ACQUIRE_ONLY_NCRYPT_KEY_FLAG | CRYPT_ACQUIRE_SILENT_FLAG | CRYPT_ACQUIRE_COMPARE_KEY_FLAG,
          nullptr, &key, &keySpec, &callerFrees)) {
    *problem = errorText("its private key cannot be opened through CNG", GetLastError());
    return std::nullopt;
  }
  held->key = static_cast<NCRYPT_KEY_HANDLE>(key);
  held->freeKey = callerFrees != FALSE;
  if (keySpec != CERT_NCRYPT_KEY_SPEC) {
    // Only a CNG handle is safe to hand to NCryptSignHash.
    held->freeKey = false;
    if (callerFrees) CryptReleaseContext(static_cast<HCRYPTPROV>(key), 0);
    *problem = "its private key is not held by a CNG key storage provider";
    return std::nullopt;
  }

  StoreClientKey result;
  result.chainDer = chainOf(held->certificate);
  result.kind = *kind;
  const StoreKeyKind k = *kind;
  result.signDigest = [held, k](StoreHash hash, StorePadding padding, std::string_view digest,
                                std::string* error) {
    return signWith(*held, k, hash, padding, digest, error);
  };
  return result;
}

}  // namespace qv
