#pragma once
// An OpenSSL (libssl) TLS server in the test's own process, joined to our
// client by memory buffers, so a test can read and rewrite every flight.
// Its identity is a fresh self-signed RSA-2048 certificate, so OpenSSL's
// default security level accepts it.
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>

#include "xml/byte_string.h"

namespace qv::test {

// One key for the whole test program (RSA generation takes a while).
inline EVP_PKEY* serverKey() {
  static EVP_PKEY* key = EVP_RSA_gen(2048);
  return key;
}

inline X509* serverCertificate() {
  static X509* cert = [] {
    X509* c = X509_new();
    X509_set_version(c, 2);
    ASN1_INTEGER_set(X509_get_serialNumber(c), 7);
    X509_gmtime_adj(X509_getm_notBefore(c), -3600);
    X509_gmtime_adj(X509_getm_notAfter(c), 24 * 3600);
    X509_set_pubkey(c, serverKey());
    X509_NAME* name = X509_get_subject_name(c);
    X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>("pbx.example.com"), -1, -1, 0);
    X509_set_issuer_name(c, name);
    X509_sign(c, serverKey(), EVP_sha256());
    return c;
  }();
  return cert;
}

// A server context with OpenSSL's defaults; `cipher` (TLS 1.2 list) and
// `maxVersion` only when a test asks for them.
inline SSL_CTX* makeServerContext(const std::string& cipher = {}, int maxVersion = 0, int minVersion = 0) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (minVersion != 0) SSL_CTX_set_min_proto_version(context, minVersion);
  if (maxVersion != 0) SSL_CTX_set_max_proto_version(context, maxVersion);
  if (!cipher.empty()) SSL_CTX_set_cipher_list(context, cipher.c_str());
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  SSL_CTX_use_certificate(context, serverCertificate());
  SSL_CTX_use_PrivateKey(context, serverKey());
  return context;
}

// PKCS#1 v1.5 signature with the server's key over data, hashed with SHA-256.
inline Bytes signWithServerKey(std::string_view data) {
  EVP_MD_CTX* context = EVP_MD_CTX_new();
  std::size_t length = 0;
  EVP_DigestSignInit(context, nullptr, EVP_sha256(), nullptr, serverKey());
  EVP_DigestSign(context, nullptr, &length, reinterpret_cast<const unsigned char*>(data.data()), data.size());
  Bytes signature(length, '\0');
  EVP_DigestSign(context, reinterpret_cast<unsigned char*>(signature.data()), &length,
                 reinterpret_cast<const unsigned char*>(data.data()), data.size());
  EVP_MD_CTX_free(context);
  signature.resize(length);
  return signature;
}

struct MemoryServer {
  SSL* ssl;
  BIO* in;
  BIO* out;
  explicit MemoryServer(SSL_CTX* context)
      : ssl(SSL_new(context)), in(BIO_new(BIO_s_mem())), out(BIO_new(BIO_s_mem())) {
    SSL_set_bio(ssl, in, out);
    SSL_set_accept_state(ssl);
  }
  ~MemoryServer() { SSL_free(ssl); }
  MemoryServer(const MemoryServer&) = delete;
  MemoryServer& operator=(const MemoryServer&) = delete;

  void Feed(std::string_view bytes) {
    if (!bytes.empty()) BIO_write(in, bytes.data(), static_cast<int>(bytes.size()));
  }
  std::string Drain() {
    std::string bytes;
    char buffer[20000];
    int n;
    while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    return bytes;
  }
  // Reads what is there (and drives the handshake); false once the
  // connection failed (an alert arrived or was sent).
  std::string Read(bool* failed = nullptr) {
    std::string data;
    char buffer[20000];
    for (;;) {
      const int n = SSL_read(ssl, buffer, sizeof buffer);
      if (n > 0) {
        data.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      const int error = SSL_get_error(ssl, n);
      if (failed != nullptr && error != SSL_ERROR_WANT_READ && error != SSL_ERROR_WANT_WRITE) *failed = true;
      break;
    }
    ERR_clear_error();
    return data;
  }
  void Write(std::string_view data) { SSL_write(ssl, data.data(), static_cast<int>(data.size())); }
};

}  // namespace qv::test
