// Our TLS engine against OpenSSL's libssl, both ends in one process joined
// by memory buffers: full handshake plus a login exchange against the same
// OpenSSL server, and record throughput with 16 KiB records.
#include <benchmark/benchmark.h>
#include <openssl/bio.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/hmac.h>
#include <openssl/provider.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>

#include <string>

#include "tests/tls/test_certificates.h"
#include "tests/tls/tls_test_util.h"
#include "tls/certificate.h"
#include "tls/tls_connection.h"

namespace qv {
namespace {

const std::string kLogin(300, 'L');
const std::string kLoginReply(200, 'R');

// An OpenSSL context for TLS 1.0 with one suite and the 2048-bit test key.
SSL_CTX* makeContext(bool server, const char* cipher) {
  SSL_CTX* context = SSL_CTX_new(server ? TLS_server_method() : TLS_client_method());
  SSL_CTX_set_min_proto_version(context, TLS1_VERSION);
  SSL_CTX_set_max_proto_version(context, TLS1_VERSION);
  SSL_CTX_set_security_level(context, 0);
  SSL_CTX_set_cipher_list(context, cipher);
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET | SSL_OP_LEGACY_SERVER_CONNECT);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  if (server) {
    const Bytes cert = test::hexDecode(test::kBigHex);
    const Bytes key = test::hexDecode(test::kBigKeyHex);
    SSL_CTX_use_certificate_ASN1(context, static_cast<int>(cert.size()),
                                 reinterpret_cast<const unsigned char*>(cert.data()));
    SSL_CTX_use_PrivateKey_ASN1(EVP_PKEY_RSA, context, reinterpret_cast<const unsigned char*>(key.data()),
                                static_cast<long>(key.size()));
  }
  return context;
}

// One OpenSSL end with memory BIOs: feed() what the peer sent, drain() what
// this end wrote.
struct OpenSslEnd {
  SSL* ssl;
  BIO* in;
  BIO* out;
  OpenSslEnd(SSL_CTX* context, bool server)
      : ssl(SSL_new(context)), in(BIO_new(BIO_s_mem())), out(BIO_new(BIO_s_mem())) {
    SSL_set_bio(ssl, in, out);
    if (server) {
      SSL_set_accept_state(ssl);
    } else {
      SSL_set_connect_state(ssl);
    }
  }
  ~OpenSslEnd() { SSL_free(ssl); }
  void feed(const std::string& bytes) {
    if (!bytes.empty()) BIO_write(in, bytes.data(), static_cast<int>(bytes.size()));
  }
  std::string drain() {
    std::string bytes;
    char buffer[20000];
    int n;
    while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
    return bytes;
  }
  // Reads what is available (also advances the handshake).
  std::string read() {
    std::string data;
    char buffer[20000];
    int n;
    while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(n));
    ERR_clear_error();
    return data;
  }
  void write(const std::string& data) { SSL_write(ssl, data.data(), static_cast<int>(data.size())); }
};

void BM_HandshakeAndLogin_Ours(benchmark::State& state) {
  SSL_CTX* serverContext = makeContext(true, "AES128-SHA:@SECLEVEL=0");
  for (auto _ : state) {
    OpenSslEnd server(serverContext, true);
    TlsConnection client;
    client.SetVerifyCertificates(false);
    client.SetServerName("pbx.example.com");
    client.StartClient();
    std::string toServer = client.SendApplicationData(kLogin);
    std::string reply;
    for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
      server.feed(toServer);
      if (server.read().size() >= kLogin.size()) server.write(kLoginReply);
      reply += client.ReceiveBytes(server.drain());
      toServer = client.SendApplicationData("");
    }
    if (reply != kLoginReply) state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(serverContext);
}

void BM_HandshakeAndLogin_OpenSsl(benchmark::State& state) {
  SSL_CTX* serverContext = makeContext(true, "AES128-SHA:@SECLEVEL=0");
  SSL_CTX* clientContext = makeContext(false, "AES128-SHA:AES256-SHA:@SECLEVEL=0");
  for (auto _ : state) {
    OpenSslEnd server(serverContext, true);
    OpenSslEnd client(clientContext, false);
    bool loginSent = false;
    std::string reply;
    for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
      // SSL_write drives the client's handshake until it can send.
      if (!loginSent) loginSent = SSL_write(client.ssl, kLogin.data(), static_cast<int>(kLogin.size())) > 0;
      ERR_clear_error();
      server.feed(client.drain());
      if (server.read().size() >= kLogin.size()) server.write(kLoginReply);
      client.feed(server.drain());
      reply += client.read();
    }
    if (reply != kLoginReply) state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

// Our two ends keyed for a suite (the handshake itself is not measured).
void keyedPair(TlsConnection& client, TlsConnection& server, std::string_view suite) {
  TlsConnectionTestPeer(client).InstallKeys(TlsRole::kClient, suite);
  TlsConnectionTestPeer(server).InstallKeys(TlsRole::kServer, suite);
}

void recordsOurs(benchmark::State& state, std::string_view suite) {
  TlsConnection client;
  TlsConnection server;
  keyedPair(client, server, suite);
  const std::string record(16384, 'D');
  for (auto _ : state) {
    const Bytes plain = server.ReceiveBytes(client.SendApplicationData(record));
    if (plain.size() != record.size()) state.SkipWithError("record lost");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
}

void recordsOpenSsl(benchmark::State& state, const char* cipher) {
  SSL_CTX* serverContext = makeContext(true, cipher);
  SSL_CTX* clientContext = makeContext(false, cipher);
  OpenSslEnd server(serverContext, true);
  OpenSslEnd client(clientContext, false);
  client.write("x");
  for (int round = 0; round < 10; ++round) {
    server.feed(client.drain());
    server.read();
    client.feed(server.drain());
    client.read();
  }
  if (!SSL_is_init_finished(client.ssl)) state.SkipWithError("handshake failed");
  const std::string record(16384, 'D');
  for (auto _ : state) {
    client.write(record);
    server.feed(client.drain());
    if (server.read().size() != record.size()) state.SkipWithError("record lost");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

void BM_Records_Aes128Sha_Ours(benchmark::State& state) { recordsOurs(state, {"\x00\x2F", 2}); }
void BM_Records_Aes128Sha_OpenSsl(benchmark::State& state) {
  recordsOpenSsl(state, "AES128-SHA:@SECLEVEL=0");
}
void BM_Records_Rc4Sha_Ours(benchmark::State& state) { recordsOurs(state, {"\x00\x05", 2}); }

// libssl has no RC4 suites any more: the same work (RC4 over data + MAC,
// HMAC-SHA1 over header + data, both ways) through OpenSSL's legacy RC4.
void BM_Records_Rc4Sha_OpenSslPrimitives(benchmark::State& state) {
  OSSL_PROVIDER* legacy = OSSL_PROVIDER_load(nullptr, "legacy");
  OSSL_PROVIDER* base = OSSL_PROVIDER_load(nullptr, "default");
  EVP_CIPHER* rc4 = EVP_CIPHER_fetch(nullptr, "RC4", nullptr);
  if (rc4 == nullptr) {
    state.SkipWithError("RC4 not available in this OpenSSL");
    for (auto _ : state) {
    }
    return;
  }
  const unsigned char key[16] = {1, 2, 3};
  const unsigned char macKey[20] = {4, 5, 6};
  EVP_CIPHER_CTX* encrypt = EVP_CIPHER_CTX_new();
  EVP_CIPHER_CTX* decrypt = EVP_CIPHER_CTX_new();
  EVP_EncryptInit_ex(encrypt, rc4, nullptr, key, nullptr);
  EVP_DecryptInit_ex(decrypt, rc4, nullptr, key, nullptr);
  std::string record(16384 + 13, 'D');
  unsigned char out[16384 + 64];
  unsigned char back[16384 + 64];
  for (auto _ : state) {
    unsigned char mac[20];
    unsigned int macLength = 0;
    HMAC(EVP_sha1(), macKey, 20, reinterpret_cast<const unsigned char*>(record.data()), record.size(), mac,
         &macLength);
    int n = 0;
    EVP_EncryptUpdate(encrypt, out, &n, reinterpret_cast<const unsigned char*>(record.data()) + 13, 16384);
    EVP_EncryptUpdate(encrypt, out + n, &n, mac, 20);
    EVP_DecryptUpdate(decrypt, back, &n, out, 16384 + 20);
    HMAC(EVP_sha1(), macKey, 20, back, 16384, mac, &macLength);
    benchmark::DoNotOptimize(mac);
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
  EVP_CIPHER_CTX_free(encrypt);
  EVP_CIPHER_CTX_free(decrypt);
  EVP_CIPHER_free(rc4);
  OSSL_PROVIDER_unload(legacy);
  OSSL_PROVIDER_unload(base);
}

BENCHMARK(BM_HandshakeAndLogin_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_HandshakeAndLogin_OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Aes128Sha_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Aes128Sha_OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Rc4Sha_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Rc4Sha_OpenSslPrimitives)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
