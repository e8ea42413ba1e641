// Credentials of the system's key storage, with OpenSSL standing in for the
// store: it signs the digest we pass as CNG would (r || s for ECDSA), and
// verifies what the credentials make over the content, so the hash, the
// padding and the DER conversion of each scheme are checked independently.
#include "session/client_certificate.h"

#include <gtest/gtest.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>

#include <memory>
#include <string>

#include "tests/session/session_test_env.h"

namespace qv {
namespace {

using PKey = std::unique_ptr<EVP_PKEY, decltype(&EVP_PKEY_free)>;

const EVP_MD* mdOf(StoreHash hash) {
  return hash == StoreHash::kSha256 ? EVP_sha256() : hash == StoreHash::kSha384 ? EVP_sha384() : EVP_sha512();
}

// What the store does: sign a digest, ECDSA as fixed-size r || s.
std::string storeSign(EVP_PKEY* key, StoreKeyKind kind, StoreHash hash, StorePadding padding,
                      std::string_view digest) {
  EVP_PKEY_CTX* ctx = EVP_PKEY_CTX_new(key, nullptr);
  std::string out(1024, '\0');
  std::size_t size = out.size();
  bool ok = EVP_PKEY_sign_init(ctx) == 1 && EVP_PKEY_CTX_set_signature_md(ctx, mdOf(hash)) == 1;
  if (ok && kind == StoreKeyKind::kRsa) {
    ok = EVP_PKEY_CTX_set_rsa_padding(
             ctx, padding == StorePadding::kPss ? RSA_PKCS1_PSS_PADDING : RSA_PKCS1_PADDING) == 1;
    if (ok && padding == StorePadding::kPss)
      ok = EVP_PKEY_CTX_set_rsa_pss_saltlen(ctx, RSA_PSS_SALTLEN_DIGEST) == 1;
  }
  ok = ok && EVP_PKEY_sign(ctx, reinterpret_cast<unsigned char*>(out.data()), &size,
                           reinterpret_cast<const unsigned char*>(digest.data()), digest.size()) == 1;
  EVP_PKEY_CTX_free(ctx);
  if (!ok) return {};
  out.resize(size);
  if (kind == StoreKeyKind::kRsa) return out;
  const unsigned char* p = reinterpret_cast<const unsigned char*>(out.data());
  ECDSA_SIG* sig = d2i_ECDSA_SIG(nullptr, &p, static_cast<long>(out.size()));
  const int half = kind == StoreKeyKind::kEcP256 ? 32 : 48;
  std::string rs(2 * half, '\0');
  BN_bn2binpad(ECDSA_SIG_get0_r(sig), reinterpret_cast<unsigned char*>(rs.data()), half);
  BN_bn2binpad(ECDSA_SIG_get0_s(sig), reinterpret_cast<unsigned char*>(rs.data()) + half, half);
  ECDSA_SIG_free(sig);
  return rs;
}

bool verify(EVP_PKEY* key, const EVP_MD* md, bool pss, std::string_view content, std::string_view signature) {
  EVP_MD_CTX* ctx = EVP_MD_CTX_new();
  EVP_PKEY_CTX* pctx = nullptr;
  bool ok = EVP_DigestVerifyInit(ctx, &pctx, md, nullptr, key) == 1;
  if (ok && pss) {
    ok = EVP_PKEY_CTX_set_rsa_padding(pctx, RSA_PKCS1_PSS_PADDING) == 1 &&
         EVP_PKEY_CTX_set_rsa_pss_saltlen(pctx, RSA_PSS_SALTLEN_DIGEST) == 1;
  }
  ok = ok && EVP_DigestVerify(ctx, reinterpret_cast<const unsigned char*>(signature.data()), signature.size(),
                              reinterpret_cast<const unsigned char*>(content.data()), content.size()) == 1;
  EVP_MD_CTX_free(ctx);
  return ok;
}

StoreClientKey fakeStoreKey(EVP_PKEY* key, StoreKeyKind kind, int* calls) {
  StoreClientKey store;
  store.chainDer = {"leaf", "issuer"};
  store.kind = kind;
  store.signDigest = [key, kind, calls](StoreHash hash, StorePadding padding, std::string_view digest,
                                        std::string*) {
    ++*calls;
    return storeSign(key, kind, hash, padding, digest);
  };
  return store;
}

TEST(StoreClientCredentials, EverySchemeOfEachKeyVerifiesOverTheContent) {
  PKey rsa(EVP_RSA_gen(2048), EVP_PKEY_free);
  PKey p256(EVP_EC_gen("P-256"), EVP_PKEY_free);
  PKey p384(EVP_EC_gen("P-384"), EVP_PKEY_free);
  ASSERT_TRUE(rsa && p256 && p384);
  struct Case {
    EVP_PKEY* key;
    StoreKeyKind kind;
    std::uint16_t scheme;
    const EVP_MD* md;  // nullptr: the key cannot make the scheme
    bool pss;
  };
  const Case cases[] = {
      {rsa.get(), StoreKeyKind::kRsa, 0x0804, EVP_sha256(), true},
      {rsa.get(), StoreKeyKind::kRsa, 0x0805, EVP_sha384(), true},
      {rsa.get(), StoreKeyKind::kRsa, 0x0806, EVP_sha512(), true},
      {rsa.get(), StoreKeyKind::kRsa, 0x0401, EVP_sha256(), false},
      {rsa.get(), StoreKeyKind::kRsa, 0x0501, EVP_sha384(), false},
      {rsa.get(), StoreKeyKind::kRsa, 0x0601, EVP_sha512(), false},
      {rsa.get(), StoreKeyKind::kRsa, 0x0809, nullptr, false},
      {p256.get(), StoreKeyKind::kEcP256, 0x0403, EVP_sha256(), false},
      {p256.get(), StoreKeyKind::kEcP256, 0x0503, nullptr, false},
      {p384.get(), StoreKeyKind::kEcP384, 0x0503, EVP_sha384(), false},
      {p384.get(), StoreKeyKind::kEcP384, 0x0804, nullptr, false},
  };
  const std::string content = std::string(64, ' ') + "TLS 1.3, client CertificateVerify" +
                              std::string(1, '\0') + std::string(48, '\x5A');
  for (const Case& c : cases) {
    SCOPED_TRACE(c.scheme);
    int calls = 0;
    ClientCredentials credentials = CredentialsFromStoreKey(fakeStoreKey(c.key, c.kind, &calls));
    EXPECT_EQ(credentials.chainDer, (std::vector<Bytes>{"leaf", "issuer"}));
    const Bytes signature = credentials.sign(c.scheme, content);
    if (c.md == nullptr) {
      EXPECT_TRUE(signature.empty());
      EXPECT_EQ(calls, 0);
      continue;
    }
    EXPECT_EQ(calls, 1);
    EXPECT_TRUE(verify(c.key, c.md, c.pss, content, signature));
    EXPECT_FALSE(verify(c.key, c.md, c.pss, content + "x", signature));
  }
}

TEST(StoreClientCredentials, ARefusalOfTheKeyStorageIsLoggedAndGivesNoSignature) {
  StoreClientKey store;
  store.kind = StoreKeyKind::kEcP256;
  store.signDigest = [](StoreHash, StorePadding, std::string_view, std::string* error) {
    *error = "NCryptSignHash (error 0x80090016)";
    return std::string();
  };
  const std::size_t mark = test::LogMark();
  ClientCredentials credentials = CredentialsFromStoreKey(std::move(store));
  EXPECT_EQ(credentials.supportedSchemes, (std::vector<std::uint16_t>{0x0403}));
  EXPECT_TRUE(credentials.sign(0x0403, "content").empty());
  EXPECT_NE(
      test::LogSince(mark).find(
          "]:1 Client certificate: the system's key storage did not sign: NCryptSignHash (error 0x80090016)"),
      std::string::npos)
      << test::LogSince(mark);
}

}  // namespace
}  // namespace qv
