// TLS 1.3 handshake plus login: our client (tlsversion 1.3) against
// libssl's client at its defaults, both talking to the same libssl server
// (OpenSSL's defaults, RSA-2048) in one process over memory buffers.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

const std::string kLogin(300, 'L');
const std::string kLoginReply(200, 'R');

// The reference client: libssl's defaults, TLS 1.3 only, no session reuse.
SSL_CTX* referenceClientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  return context;
}

struct MemoryClient {
  SSL* ssl;
  BIO* in;
  BIO* out;
  explicit MemoryClient(SSL_CTX* context)
      : ssl(SSL_new(context)), in(BIO_new(BIO_s_mem())), out(BIO_new(BIO_s_mem())) {
    SSL_set_bio(ssl, in, out);
    SSL_set_connect_state(ssl);
  }
  ~MemoryClient() { SSL_free(ssl); }
};

std::string drain(BIO* out) {
  std::string bytes;
  char buffer[20000];
  int n;
  while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

std::string readAll(SSL* ssl) {
  std::string data;
  char buffer[20000];
  int n;
  while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(n));
  ERR_clear_error();
  return data;
}

void BM_Tls13HandshakeAndLogin_Ours(benchmark::State& state) {
  SSL_CTX* serverContext = test::makeServerContext();
  for (auto _ : state) {
    test::MemoryServer server(serverContext);
    TlsConnection client;
    client.SetVerifyCertificates(false);
    client.SetServerName("pbx.example.com");
    client.SetVersionPolicy(TlsVersionPolicy::kTls13);
    client.StartClient();
    std::string toServer = client.SendApplicationData(kLogin);
    std::string reply;
    for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
      server.Feed(toServer);
      if (server.Read().size() >= kLogin.size()) server.Write(kLoginReply);
      reply += client.ReceiveBytes(server.Drain());
      toServer = client.SendApplicationData("");
    }
    if (reply != kLoginReply || client.NegotiatedVersion() != 0x0304) state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(serverContext);
}

void BM_Tls13HandshakeAndLogin_OpenSsl(benchmark::State& state) {
  SSL_CTX* serverContext = test::makeServerContext();
  SSL_CTX* clientContext = referenceClientContext();
  for (auto _ : state) {
    test::MemoryServer server(serverContext);
    MemoryClient client(clientContext);
    bool loginSent = false;
    std::string reply;
    for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
      if (!loginSent) loginSent = SSL_write(client.ssl, kLogin.data(), static_cast<int>(kLogin.size())) > 0;
      ERR_clear_error();
      server.Feed(drain(client.out));
      if (server.Read().size() >= kLogin.size()) server.Write(kLoginReply);
      const std::string flight = server.Drain();
      BIO_write(client.in, flight.data(), static_cast<int>(flight.size()));
      reply += readAll(client.ssl);
    }
    if (reply != kLoginReply || SSL_version(client.ssl) != TLS1_3_VERSION)
      state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

}  // namespace
}  // namespace qv

BENCHMARK(qv::BM_Tls13HandshakeAndLogin_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(qv::BM_Tls13HandshakeAndLogin_OpenSsl)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
