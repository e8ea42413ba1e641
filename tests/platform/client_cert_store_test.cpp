// Certificates of the system's key storage. Under wine the LocalMachine "My"
// store takes certificates, but neither CryptAcquireCertificatePrivateKey nor
// CNG's key storage provider gives a key to sign with, so what runs here is
// the lookup, the key type check and the refusals; signing is covered by the
// conversion tests of the session layer.
#include "platform/client_cert_store.h"

#include <gtest/gtest.h>

#include <string>

#include "crypto/digest.h"
#include "tls/pem.h"

#ifdef _WIN32
#include <windows.h>
#include <wincrypt.h>
#endif

namespace qv {
namespace {

const char kRsaCertificate[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIC/TCCAeWgAwIBAgIUayCRWfNKWxiPqp5oK9RaS8aZoNkwDQYJKoZIhvcNAQEL\n"
    "BQAwDjEMMAoGA1UEAwwDcnNhMB4XDTI2MTIwOTAzNDAwMloXDTM2MTIwNjAzNDAw\n"
    "MlowDjEMMAoGA1UEAwwDcnNhMIIBIjANBgkqhkiG9w0BAQEFAAOCAQ8AMIIBCgKC\n"
    "AQEAr8q8LIiDWePxDjHVKVnOa9HG/DmonVMIEGkVsvXrKwpH+51zyRPdU0/LPbGL\n"
    "Fu4iJGtg+EjWBP7zpviHmB43XRStx4bpO195E8yUx5r2ahnR+DOKtq0+O3ZfIJgI\n"
    "HVTaXC1W2aKS5EvgTI0xLbwvl8UWZOmCTHQmGhncat464rYzLzbZMcNk5GN0Z6vI\n"
    "xd6qeYtM27F+omtx1HnA9nHoxeI1E+6gQrFA7XMtMFpE0m5AsbrClDKhUPhu7Fdo\n"
    "zOUDVXXPdlfseOOfGL8mkt5fL9ziJ3U6Y9kSTCIn7l/x1uBUejJDMJq80GJn+y3N\n"
    "yqIyZrdE+1ihNxLrgIS6EluzSwIDAQABo1MwUTAdBgNVHQ4EFgQUQJkSV/QmKBKS\n"
    "c7Eb14nwmYxKiRcwHwYDVR0jBBgwFoAUQJkSV/QmKBKSc7Eb14nwmYxKiRcwDwYD\n"
    "VR0TAQH/BAUwAwEB/zANBgkqhkiG9w0BAQsFAAOCAQEAdR2P0TNuckBdAK6oxHBK\n"
    "O4M0RAZUnGVJNNDKGfFY8jJs7tjjZjlN+9KbWqk9To6XhJK4t8HkeUuQtORq1bpJ\n"
    "3E/v+6hM3lASi9+mZwcRvSinkH6mgQd/SjpVjg8v2G8NucTCdTMtI9exUWDGx+im\n"
    "Kv3rmCyfdQfv/UnvEV9j0sY5TmRm9z8Ie2qdDRPFpCMfaKWDHLao6cPhbV2J2Se1\n"
    "63gC9kIOlk/HF/JkBYZCveBM0E1wGUn0RU30goHXPwBMUY3//nH621V2S8A/v4AL\n"
    "VpcAMesrn+8HonC4VVvkGa2zED0rcvsIw44RspWtVcAhGOscf+1Q0Hg182heqGwQ\n"
    "jg==\n"
    "-----END CERTIFICATE-----\n";
// Used by the Windows store tests only.
#ifdef _WIN32
const char kP256Certificate[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIBczCCARmgAwIBAgIUdZKX1pgxKm6Hgd37hQkeu7k5aOwwCgYIKoZIzj0EAwIw\n"
    "DzENMAsGA1UEAwwEcDI1NjAeFw0yNjEyMDkwMzM5NTVaFw0zNjEyMDYwMzM5NTVa\n"
    "MA8xDTALBgNVBAMMBHAyNTYwWTATBgcqhkjOPQIBBggqhkjOPQMBBwNCAASQmin+\n"
    "GlrZAPSP676k0dsdXkFOw0o2WCNapDtnyG2p4ZBhAn2Qm6sZaAtWI9z35S3wNQQd\n"
    "kTPvSqKEPEyUa5rOo1MwUTAdBgNVHQ4EFgQUdZ/XUf02OUbtyCaQCefiAcyMFOEw\n"
    "HwYDVR0jBBgwFoAUdZ/XUf02OUbtyCaQCefiAcyMFOEwDwYDVR0TAQH/BAUwAwEB\n"
    "/zAKBggqhkjOPQQDAgNIADBFAiAEZgbgsq7WsGNADGTzAkvNI9cP0VyazVfHIOfY\n"
    "V/2lLwIhAJfvw50YK8hY38NMSIxuDBRH8fT9uKwJupJggI5xd3su\n"
    "-----END CERTIFICATE-----\n";
const char kP521Certificate[] =
    "-----BEGIN CERTIFICATE-----\n"
    "MIIB+zCCAVygAwIBAgIUDsgxwWvxTJf+YblOCETDR6XpUqswCgYIKoZIzj0EAwIw\n"
    "DzENMAsGA1UEAwwEcDUyMTAeFw0yNjEyMDkwMzM5NTVaFw0zNjEyMDYwMzM5NTVa\n"
    "MA8xDTALBgNVBAMMBHA1MjEwgZswEAYHKoZIzj0CAQYFK4EEACMDgYYABAFNkp5P\n"
    "pbXgXAk3qUzx+5ev1XpKzPwxtysrqlBi+18fXpDcADq8V7PDgJCmdrL5QLpIS8cy\n"
    "8jNoFwz586sN2vum2gGAmeEHO8wehRnBVmhVIcx+JrKYJ8kRsGsVkTQ/S2F9VO1m\n"
    "TcskcCBJHE+odaYvjgaK+ni5TyKIU14ttbLSGQTLRaNTMFEwHQYDVR0OBBYEFLdc\n"
    "cvnRQoFtfGvw1E6Xk1Ib8d4AMB8GA1UdIwQYMBaAFLdccvnRQoFtfGvw1E6Xk1Ib\n"
    "8d4AMA8GA1UdEwEB/wQFMAMBAf8wCgYIKoZIzj0EAwIDgYwAMIGIAkIAmu2/yO/n\n"
    "Ts8xZqTDtb+tECdeQA3uAB2M09yt8yvNDAbC3pmKDL0aWp2rCAVuYnSuaCUxjcfR\n"
    "1mpa5U0+k+hNpjcCQgDuSc/pVpQX5RzpKijjzu3ZL1nGvix7zZvco8Y6Gq9hmw/A\n"
    "vjn8Php25HSFtJ436oHxKTyvYACnHbq+xS6CpDlg7A==\n"
    "-----END CERTIFICATE-----\n";
#endif

std::string derOf(const char* pem) {
  std::vector<Bytes> der = ReadPemCertificates(pem);
  return der.empty() ? std::string() : der.front();
}

std::string thumbprintOf(const std::string& der) { return digestOf(HashAlgorithm::kSha1, der); }

#ifdef _WIN32
// Puts certificates (without keys) into LocalMachine\My and takes them out again.
class MachineStore : public ::testing::Test {
 protected:
  void SetUp() override {
    store_ = CertOpenStore(CERT_STORE_PROV_SYSTEM_W, 0, 0, CERT_SYSTEM_STORE_LOCAL_MACHINE, L"MY");
    ASSERT_NE(store_, nullptr) << GetLastError();
  }
  void TearDown() override {
    for (const std::string& der : added_) {
      std::string hash = thumbprintOf(der);
      CRYPT_HASH_BLOB blob{20, reinterpret_cast<BYTE*>(hash.data())};
      PCCERT_CONTEXT c =
          CertFindCertificateInStore(store_, X509_ASN_ENCODING, 0, CERT_FIND_SHA1_HASH, &blob, nullptr);
      if (c != nullptr) CertDeleteCertificateFromStore(c);
    }
    if (store_ != nullptr) CertCloseStore(store_, 0);
  }
  void add(const std::string& der) {
    ASSERT_TRUE(CertAddEncodedCertificateToStore(
        store_, X509_ASN_ENCODING, reinterpret_cast<const BYTE*>(der.data()), static_cast<DWORD>(der.size()),
        CERT_STORE_ADD_REPLACE_EXISTING, nullptr))
        << GetLastError();
    added_.push_back(der);
    // The registry-backed store writes what was added when asked to (or closed).
    ASSERT_TRUE(CertControlStore(store_, 0, CERT_STORE_CTRL_COMMIT, nullptr)) << GetLastError();
  }
  HCERTSTORE store_ = nullptr;
  std::vector<std::string> added_;
};

TEST_F(MachineStore, EachUnusableEntrySaysWhy) {
  const std::string rsa = derOf(kRsaCertificate);
  const std::string p256 = derOf(kP256Certificate);
  const std::string p521 = derOf(kP521Certificate);
  ASSERT_FALSE(rsa.empty());
  ASSERT_FALSE(p256.empty());
  ASSERT_FALSE(p521.empty());
  add(rsa);
  add(p256);
  add(p521);
  struct Case {
    std::string thumbprint;
    const char* problem;
  };
  const Case cases[] = {
      {std::string(20, '\x5A'), "no certificate with this thumbprint in the LocalMachine \"My\" store"},
      {thumbprintOf(rsa).substr(0, 19), "a thumbprint is 20 bytes"},
      // found, of a kind we sign with, but no key comes with it
      {thumbprintOf(rsa), "its private key cannot be opened through CNG (error 0x"},
      {thumbprintOf(p256), "its private key cannot be opened through CNG (error 0x"},
      {thumbprintOf(p521), "its EC key is on a curve other than P-256 and P-384"},
  };
  for (const Case& c : cases) {
    std::string problem;
    EXPECT_FALSE(OpenStoreClientKey(c.thumbprint, &problem).has_value()) << c.problem;
    EXPECT_EQ(problem.rfind(c.problem, 0), 0u) << problem;
  }
}
#else
TEST(ClientCertStore, NotAvailableHere) {
  std::string problem;
  EXPECT_FALSE(OpenStoreClientKey(thumbprintOf(derOf(kRsaCertificate)), &problem).has_value());
  EXPECT_EQ(problem, "a certificate store is not available on this system");
}
#endif

}  // namespace
}  // namespace qv
