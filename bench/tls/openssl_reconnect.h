#pragma once
// libssl's client reconnecting, with its last session or without, to a
// libssl server over memory buffers: the reference of the reconnect benches.
// It ends each connection with close_notify, as libssl forgets a session
// whose connection ended without one.
#include <benchmark/benchmark.h>
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <utility>

#include "bench/tls/memory_login.h"
#include "tests/tls/openssl_memory_server.h"

namespace qv::bench {

// The last session libssl's client announced (its documented TLS 1.3 way).
inline SSL_SESSION* announcedSession = nullptr;
inline int keepSession(SSL* /*ssl*/, SSL_SESSION* session) {
  if (announcedSession != nullptr) SSL_SESSION_free(announcedSession);
  announcedSession = session;
  return 1;
}

// One connect and login, SSL_set_session with `session`, which is replaced
// by the session the connection announced (kept when it announced none).
inline bool opensslConnect(SSL_CTX* serverContext, SSL_CTX* clientContext, SSL_SESSION*& session,
                           bool& resumed) {
  test::MemoryServer server(serverContext);
  MemoryClient client(clientContext);
  SSL_set_tlsext_host_name(client.ssl, "pbx.example.com");
  if (session != nullptr) SSL_set_session(client.ssl, session);
  const std::string reply = loginOpenSsl(client, server);
  resumed = SSL_session_reused(client.ssl) != 0;
  SSL_shutdown(client.ssl);
  server.Feed(drain(client.out));
  server.Read();
  SSL_shutdown(server.ssl);
  ERR_clear_error();
  if (announcedSession != nullptr) {
    if (session != nullptr) SSL_SESSION_free(session);
    session = std::exchange(announcedSession, nullptr);
  }
  return reply == kLoginReply && session != nullptr;
}

// Reconnects for every iteration, resuming the last session when `resume`.
// The counter "resumed" says how many reconnects did resume (1: all).
inline void opensslReconnects(benchmark::State& state, SSL_CTX* serverContext, SSL_CTX* clientContext,
                              bool resume) {
  // libssl's client drops TLS 1.3 tickets unless it keeps sessions.
  SSL_CTX_set_session_cache_mode(clientContext, SSL_SESS_CACHE_CLIENT | SSL_SESS_CACHE_NO_INTERNAL_STORE);
  SSL_CTX_sess_set_new_cb(clientContext, keepSession);
  SSL_SESSION* session = nullptr;
  bool resumed = false;
  if (!opensslConnect(serverContext, clientContext, session, resumed))
    state.SkipWithError("first handshake failed");
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
}

}  // namespace qv::bench
