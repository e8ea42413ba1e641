#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <mutex>

#include "tools/pbxsim/pbx_transport.h"

namespace qv::pbxsim {

struct TlsServer::Impl {
  SSL_CTX* context = nullptr;
};

namespace {

// A self-signed certificate for "pbxsim", made fresh at every start.
bool AddSelfSignedIdentity(SSL_CTX* context) {
  EVP_PKEY* key = EVP_RSA_gen(2048);
  if (key == nullptr) return false;
  X509* cert = X509_new();
  X509_set_version(cert, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(cert), 1);
  X509_gmtime_adj(X509_getm_notBefore(cert), -3600);
  X509_gmtime_adj(X509_getm_notAfter(cert), 365L * 24 * 3600);
  X509_set_pubkey(cert, key);
  X509_NAME* name = X509_get_subject_name(cert);
  X509_NAME_add_entry_by_txt(name, "CN", MBSTRING_ASC, reinterpret_cast<const unsigned char*>("pbxsim"), -1,
                             -1, 0);
  X509_set_issuer_name(cert, name);
  bool ok = X509_sign(cert, key, EVP_sha256()) > 0 && SSL_CTX_use_certificate(context, cert) == 1 &&
            SSL_CTX_use_PrivateKey(context, key) == 1;
  X509_free(cert);
  EVP_PKEY_free(key);
  return ok;
}

bool AddIdentityFromFiles(SSL_CTX* context, const std::string& certFile, const std::string& keyFile) {
  return SSL_CTX_use_certificate_chain_file(context, certFile.c_str()) == 1 &&
         SSL_CTX_use_PrivateKey_file(context, keyFile.c_str(), SSL_FILETYPE_PEM) == 1 &&
         SSL_CTX_check_private_key(context) == 1;
}

class TlsTransport : public Transport {
 public:
  TlsTransport(SSL_CTX* context, SocketHandle socket) : socket_(socket), ssl_(SSL_new(context)) {
    SSL_set_fd(ssl_, static_cast<int>(socket));
  }
  ~TlsTransport() override {
    SSL_free(ssl_);
    closeSocket(socket_);
  }
  bool Open() override {
    if (SSL_accept(ssl_) == 1) return true;
    ERR_clear_error();
    return false;
  }
  bool Send(std::string_view bytes) override {
    std::lock_guard lock(lock_);
    while (!bytes.empty()) {
      int n = SSL_write(ssl_, bytes.data(), static_cast<int>(bytes.size()));
      if (n <= 0) return false;
      bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
  }
  long Receive(char* buffer, std::size_t size) override {
    // SSL_read and SSL_write share the SSL object: wait for data without
    // the lock, so replies can be written meanwhile.
    for (;;) {
      bool buffered;
      {
        std::lock_guard lock(lock_);
        buffered = SSL_pending(ssl_) > 0;
      }
      if (!buffered && !waitReadable(socket_, 1000)) continue;
      std::lock_guard lock(lock_);
      int n = SSL_read(ssl_, buffer, static_cast<int>(size));
      if (n > 0) return n;
      int err = SSL_get_error(ssl_, n);
      ERR_clear_error();
      if (err == SSL_ERROR_WANT_READ) continue;
      return err == SSL_ERROR_ZERO_RETURN ? 0 : -1;
    }
  }
  void Abort() override { abortSocket(socket_); }
  bool SendRaw(std::string_view bytes) override { return sendAll(socket_, bytes); }
  long ReceiveRaw(char* buffer, std::size_t size) override { return receiveSome(socket_, buffer, size); }

 private:
  SocketHandle socket_;
  SSL* ssl_;
  std::mutex lock_;
};

}  // namespace

TlsServer::TlsServer(const std::string& certFile, const std::string& keyFile, bool modern,
                     const std::string& clientCaFile)
    : impl_(std::make_unique<Impl>()) {
  SSL_CTX* context = SSL_CTX_new(TLS_server_method());
  if (context == nullptr) return;
  bool configured = true;
  if (!modern) {
    SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
    SSL_CTX_set_max_proto_version(context, TLS1_VERSION);
    SSL_CTX_set_options(context, SSL_OP_ALLOW_UNSAFE_LEGACY_RENEGOTIATION | SSL_OP_LEGACY_SERVER_CONNECT);
    configured = SSL_CTX_set_cipher_list(context, "AES128-SHA:AES256-SHA:@SECLEVEL=0") == 1;
  }
  if (!configured ||
      !(certFile.empty() && keyFile.empty() ? AddSelfSignedIdentity(context)
                                            : AddIdentityFromFiles(context, certFile, keyFile))) {
    SSL_CTX_free(context);
    return;
  }
  if (!clientCaFile.empty()) {
    if (SSL_CTX_load_verify_locations(context, clientCaFile.c_str(), nullptr) != 1) {
      SSL_CTX_free(context);
      return;
    }
    SSL_CTX_set_verify(context, SSL_VERIFY_PEER | SSL_VERIFY_FAIL_IF_NO_PEER_CERT, nullptr);
  }
  impl_->context = context;
}

TlsServer::~TlsServer() {
  if (impl_->context) SSL_CTX_free(impl_->context);
}

bool TlsServer::Ready() const { return impl_->context != nullptr; }

std::string TlsServer::Fingerprint() const {
  if (impl_->context == nullptr) return {};
  X509* certificate = SSL_CTX_get0_certificate(impl_->context);
  unsigned char digest[EVP_MAX_MD_SIZE];
  unsigned int length = 0;
  if (certificate == nullptr || X509_digest(certificate, EVP_sha256(), digest, &length) != 1) return {};
  static const char hex[] = "0123456789ABCDEF";
  std::string text;
  for (unsigned int k = 0; k < length; ++k) {
    if (k > 0) text += ':';
    text += hex[digest[k] >> 4];
    text += hex[digest[k] & 15];
  }
  return text;
}

std::unique_ptr<Transport> TlsServer::Wrap(SocketHandle socket) {
  return std::make_unique<TlsTransport>(impl_->context, socket);
}

}  // namespace qv::pbxsim
