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

#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

const std::string kLogin(300, 'L');
const std::string kLoginReply(200, 'R');

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
  std::string toServer = client.SendApplicationData(kLogin);
  std::string reply;
  for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
    server.Feed(toServer);
    if (server.Read().size() >= kLogin.size()) server.Write(kLoginReply);
    reply += client.ReceiveBytes(server.Drain());
    toServer = client.SendApplicationData("");
  }
  resumed = client.Resumed();
  ticket = client.TakeLatestTicket13();
  client.SendCloseNotify();
  server.Feed(client.SendApplicationData(""));
  server.Read();
  return reply == kLoginReply && ticket.has_value();
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

// The last session libssl's client announced (its documented TLS 1.3 way).
SSL_SESSION* announcedSession = nullptr;
int keepSession(SSL* /*ssl*/, SSL_SESSION* session) {
  if (announcedSession != nullptr) SSL_SESSION_free(announcedSession);
  announcedSession = session;
  return 1;
}

// libssl's client: the same exchange, SSL_set_session with the last session.
bool opensslConnect(SSL_CTX* serverContext, SSL_CTX* clientContext, SSL_SESSION*& session, bool& resumed) {
  test::MemoryServer server(serverContext);
  MemoryClient client(clientContext);
  SSL_set_tlsext_host_name(client.ssl, "pbx.example.com");
  if (session != nullptr) SSL_set_session(client.ssl, session);
  bool loginSent = false;
  std::string reply;
  char buffer[20000];
  for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
    if (!loginSent) loginSent = SSL_write(client.ssl, kLogin.data(), static_cast<int>(kLogin.size())) > 0;
    ERR_clear_error();
    server.Feed(drain(client.out));
    if (server.Read().size() >= kLogin.size()) server.Write(kLoginReply);
    const std::string flight = server.Drain();
    BIO_write(client.in, flight.data(), static_cast<int>(flight.size()));
    int n;
    while ((n = SSL_read(client.ssl, buffer, sizeof buffer)) > 0)
      reply.append(buffer, static_cast<std::size_t>(n));
    ERR_clear_error();
  }
  resumed = SSL_session_reused(client.ssl) != 0;
  SSL_shutdown(client.ssl);
  server.Feed(drain(client.out));
  server.Read();
  ERR_clear_error();
  if (session != nullptr) SSL_SESSION_free(session);
  session = std::exchange(announcedSession, nullptr);
  return reply == kLoginReply && session != nullptr;
}

void BM_Tls13Reconnect_OpenSsl(benchmark::State& state) {
  const bool resume = state.range(0) != 0;
  SSL_CTX* serverContext = ticketServerContext();
  SSL_CTX* clientContext = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_min_proto_version(clientContext, TLS1_3_VERSION);
  // libssl's client drops TLS 1.3 tickets unless it keeps sessions.
  SSL_CTX_set_session_cache_mode(clientContext, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(clientContext, keepSession);
  SSL_SESSION* session = nullptr;
  bool resumed = false;
  if (!opensslConnect(serverContext, clientContext, session, resumed))
    state.SkipWithError("first handshake failed");
  // How many reconnects libssl's client resumed: its resumption against
  // this server is reported, not assumed.
  std::int64_t resumedCount = 0;
  for (auto _ : state) {
    if (!resume && session != nullptr) {
      SSL_SESSION_free(session);
      session = nullptr;
    }
    if (!opensslConnect(serverContext, clientContext, session, resumed)) {
      state.SkipWithError("reconnect failed");
      break;
    }
    resumedCount += resumed ? 1 : 0;
  }
  state.counters["resumed"] =
      benchmark::Counter(static_cast<double>(resumedCount), benchmark::Counter::kAvgIterations);
  if (session != nullptr) SSL_SESSION_free(session);
  SSL_CTX_free(clientContext);
  SSL_CTX_free(serverContext);
}

}  // namespace
}  // namespace qv

// Argument: 0 full handshake, 1 resumed.
BENCHMARK(qv::BM_Tls13Reconnect_Ours)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);
BENCHMARK(qv::BM_Tls13Reconnect_OpenSsl)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

BENCHMARK_MAIN();
