// TLS 1.3 reconnect plus login, full and resumed with the last connection's
// ticket: our client (tlsversion 1.3) against libssl's client at its
// defaults doing the same, both talking to one libssl server (its defaults,
// RSA-2048, stateless tickets) in one process over memory buffers. Both
// clients end with close_notify: libssl marks a session not resumable when
// its connection is freed without one (that, not the ticket's arrival, kept
// its client from resuming here before).
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

SSL_CTX* ticketServerContext() {
  SSL_CTX* context = test::makeServerContext();
  SSL_CTX_clear_options(context, SSL_OP_NO_TICKET);
  return context;
}

// One connect and login; `ticket` is offered and replaced by the new one.
bool oursConnect(SSL_CTX* serverContext, std::optional<Tls13Ticket>& ticket, bool& resumed) {
  test::MemoryServer server(serverContext);
  TlsConnection client;
  client.SetVerifyCertificates(false);
  client.SetServerName("pbx.example.com");
  client.SetVersionPolicy(TlsVersionPolicy::kTls13);
  client.SetResumptionTicket13(ticket);
  client.StartClient();
  const std::string reply = bench::loginOurs(client, server);
  resumed = client.Resumed();
  ticket = client.TakeLatestTicket13();
  client.SendCloseNotify();
  server.Feed(client.SendApplicationData(""));
  server.Read();
  return reply == bench::kLoginReply && ticket.has_value();
}

void BM_Tls13Reconnect_Ours(benchmark::State& state) {
  const bool resume = state.range(0) != 0;
  SSL_CTX* serverContext = ticketServerContext();
  std::optional<Tls13Ticket> ticket;
  bool resumed = false;
  if (!oursConnect(serverContext, ticket, resumed)) state.SkipWithError("first handshake failed");
  for (auto _ : state) {
    if (!resume) ticket.reset();
    if (!oursConnect(serverContext, ticket, resumed) || resumed != resume) {
      state.SkipWithError("reconnect did not go as expected");
      break;
    }
  }
  SSL_CTX_free(serverContext);
}

void BM_Tls13Reconnect_OpenSsl(benchmark::State& state) {
  SSL_CTX* serverContext = ticketServerContext();
  SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(clientContext, TLS1_3_VERSION);
  bench::opensslReconnects(state, serverContext, clientContext, state.range(0) != 0);
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

}  // namespace
}  // namespace qv

// Argument: 0 full handshake, 1 resumed.
BENCHMARK(qv::BM_Tls13Reconnect_Ours)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(qv::BM_Tls13Reconnect_OpenSsl)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
