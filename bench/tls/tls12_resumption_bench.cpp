// TLS 1.2 reconnect plus login, full and resumed (by ticket, or by session id
// with the server's tickets off): our client (tlsversion 1.2) against libssl's
// client at its defaults doing the same, both talking to one libssl server
// (TLS 1.2 at most, RSA-2048, ECDHE-RSA-AES128-GCM-SHA256 as it chooses) in
// one process over memory buffers. Both ends close with close_notify: libssl
// forgets a session whose connection ended without one.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <optional>
#include <string>
#include <utility>

#include "bench/tls/memory_login.h"
#include "bench/tls/openssl_reconnect.h"
#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

enum Mode { kFull = 0, kTicket = 1, kSessionId = 2 };

SSL_CTX* serverContext(Mode mode) {
  SSL_CTX* context = test::makeServerContext({}, TLS1_2_VERSION);
  if (mode != kSessionId) SSL_CTX_clear_options(context, SSL_OP_NO_TICKET);
  return context;
}

// One connect and login; `session` is offered and replaced by the new one.
bool oursConnect(SSL_CTX* context, std::optional<Tls12Session>& session, bool& resumed) {
  test::MemoryServer server(context);
  TlsConnection client;
  client.SetVerifyCertificates(false);
  client.SetServerName("pbx.example.com");
  client.SetVersionPolicy(TlsVersionPolicy::kTls12);
  client.SetResumptionSession12(std::move(session));
  client.StartClient();
  const std::string reply = bench::loginOurs(client, server);
  resumed = client.Resumed();
  session = client.TakeLatestSession12();
  client.SendCloseNotify();
  server.Feed(client.SendApplicationData(""));
  server.Read();
  SSL_shutdown(server.ssl);
  return reply == bench::kLoginReply && session.has_value();
}

void BM_Tls12Reconnect_Ours(benchmark::State& state) {
  const auto mode = static_cast<Mode>(state.range(0));
  SSL_CTX* context = serverContext(mode);
  std::optional<Tls12Session> session;
  bool resumed = false;
  if (!oursConnect(context, session, resumed)) state.SkipWithError("first handshake failed");
  for (auto _ : state) {
    if (mode == kFull) session.reset();
    if (!oursConnect(context, session, resumed) || resumed != (mode != kFull)) {
      state.SkipWithError("reconnect did not go as expected");
      break;
    }
  }
  SSL_CTX_free(context);
}

void BM_Tls12Reconnect_OpenSsl(benchmark::State& state) {
  const auto mode = static_cast<Mode>(state.range(0));
  SSL_CTX* context = serverContext(mode);
  SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_max_proto_version(clientContext, TLS1_2_VERSION);
  bench::opensslReconnects(state, context, clientContext, mode != kFull);
  SSL_CTX_free(clientContext);
  SSL_CTX_free(context);
}

}  // namespace
}  // namespace qv

// Argument: 0 full handshake, 1 resumed by ticket, 2 resumed by session id.
BENCHMARK(qv::BM_Tls12Reconnect_Ours)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);
BENCHMARK(qv::BM_Tls12Reconnect_OpenSsl)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
