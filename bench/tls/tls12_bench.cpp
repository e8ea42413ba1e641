// TLS 1.2 with ECDHE-RSA-AES128-GCM-SHA256: our client against libssl's
// client, both talking to the same libssl server (OpenSSL's defaults,
// RSA-2048) in one process over memory buffers; and the AEAD suites' record
// throughput (AES-128-GCM, ChaCha20-Poly1305), ours against libssl's.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

#include "bench/tls/memory_login.h"
#include "tests/tls/openssl_memory_server.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

using namespace bench;

constexpr const char* kGcmSuite = "ECDHE-RSA-AES128-GCM-SHA256";
constexpr const char* kChachaSuite = "ECDHE-RSA-CHACHA20-POLY1305";

// The reference client: TLS 1.2, one suite, X25519, no tickets.
SSL_CTX* referenceClientContext(const char* suite = kGcmSuite) {
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(context, suite);
  SSL_CTX_set1_groups_list(context, "X25519");
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  SSL_CTX_set_session_cache_mode(context, SSL_SESS_CACHE_OFF);
  return context;
}

void BM_Tls12HandshakeAndLogin_Ours(benchmark::State& state) {
  SSL_CTX* serverContext = test::makeServerContext();
  for (auto _ : state) {
    test::MemoryServer server(serverContext);
    TlsConnection client;
    client.SetVerifyCertificates(false);
    client.SetServerName("pbx.example.com");
    client.SetVersionPolicy(TlsVersionPolicy::kTls12);
    client.StartClient();
    const std::string reply = loginOurs(client, server);
    if (reply != kLoginReply || client.CipherSuite() != Bytes("\xC0\x2F", 2))
      state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(serverContext);
}

void BM_Tls12HandshakeAndLogin_OpenSsl(benchmark::State& state) {
  SSL_CTX* serverContext = test::makeServerContext();
  SSL_CTX* clientContext = referenceClientContext();
  for (auto _ : state) {
    test::MemoryServer server(serverContext);
    MemoryClient client(clientContext);
    const std::string reply = loginOpenSsl(client, server);
    if (reply != kLoginReply) state.SkipWithError("handshake failed");
  }
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

void recordsOurs(benchmark::State& state, const Bytes& suite) {
  TlsConnection client;
  TlsConnection server;
  TlsConnectionTestPeer(client).InstallKeys12(TlsRole::kClient, suite);
  TlsConnectionTestPeer(server).InstallKeys12(TlsRole::kServer, suite);
  const std::string record(16384, 'D');
  for (auto _ : state) {
    const Bytes plain = server.ReceiveBytes(client.SendApplicationData(record));
    if (plain.size() != record.size()) state.SkipWithError("record lost");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
}

void recordsOpenSsl(benchmark::State& state, const char* suite) {
  SSL_CTX* serverContext = test::makeServerContext();
  SSL_CTX* clientContext = referenceClientContext(suite);
  test::MemoryServer server(serverContext);
  MemoryClient client(clientContext);
  SSL_write(client.ssl, "x", 1);
  for (int round = 0; round < 10; ++round) {
    server.Feed(drain(client.out));
    server.Read();
    const std::string flight = server.Drain();
    BIO_write(client.in, flight.data(), static_cast<int>(flight.size()));
    readAll(client.ssl);
  }
  if (!SSL_is_init_finished(client.ssl)) state.SkipWithError("handshake failed");
  const std::string record(16384, 'D');
  for (auto _ : state) {
    SSL_write(client.ssl, record.data(), static_cast<int>(record.size()));
    server.Feed(drain(client.out));
    if (server.Read().size() != record.size()) state.SkipWithError("record lost");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations()) * 16384);
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

void BM_Records_Aes128Gcm_Ours(benchmark::State& state) { recordsOurs(state, {"\xC0\x2F", 2}); }
void BM_Records_Aes128Gcm_OpenSsl(benchmark::State& state) { recordsOpenSsl(state, kGcmSuite); }
void BM_Records_Chacha20Poly1305_Ours(benchmark::State& state) { recordsOurs(state, {"\xCC\xA8", 2}); }
void BM_Records_Chacha20Poly1305_OpenSsl(benchmark::State& state) { recordsOpenSsl(state, kChachaSuite); }

BENCHMARK(BM_Tls12HandshakeAndLogin_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Tls12HandshakeAndLogin_OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Aes128Gcm_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Aes128Gcm_OpenSsl)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Chacha20Poly1305_Ours)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Records_Chacha20Poly1305_OpenSsl)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
