// TLS 1.3 handshake plus login: our client (tlsversion 1.3) against
// libssl's client at its defaults, both talking to the same libssl server
// (OpenSSL's defaults, RSA-2048) in one process over memory buffers.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

#include "bench/tls/memory_login.h"
#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using namespace bench;

// The reference client: libssl's defaults, TLS 1.3 only, no session reuse.
SSL_CTX* referenceClientContext() {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(context, TLS1_3_VERSION);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  return context;
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
    const std::string reply = loginOurs(client, server);
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
    const std::string reply = loginOpenSsl(client, server);
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
