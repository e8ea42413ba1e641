#pragma once
// A handshake plus login against a libssl server over memory buffers, driven
// either by our client or by libssl's, so both benches time the same exchange.
#include <openssl/err.h>
#include <openssl/ssl.h>

#include <string>

#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"

namespace qv::bench {

inline const std::string kLogin(300, 'L');
inline const std::string kLoginReply(200, 'R');

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
  MemoryClient(const MemoryClient&) = delete;
  MemoryClient& operator=(const MemoryClient&) = delete;
};

inline std::string drain(BIO* out) {
  std::string bytes;
  char buffer[20000];
  int n;
  while ((n = BIO_read(out, buffer, sizeof buffer)) > 0) bytes.append(buffer, static_cast<std::size_t>(n));
  return bytes;
}

inline std::string readAll(SSL* ssl) {
  std::string data;
  char buffer[20000];
  int n;
  while ((n = SSL_read(ssl, buffer, sizeof buffer)) > 0) data.append(buffer, static_cast<std::size_t>(n));
  ERR_clear_error();
  return data;
}

// Our started client sends the login and reads the reply; returns the reply.
inline std::string loginOurs(TlsConnection& client, test::MemoryServer& server) {
  std::string toServer = client.SendApplicationData(kLogin);
  std::string reply;
  for (int round = 0; round < 10 && reply.size() < kLoginReply.size(); ++round) {
    server.Feed(toServer);
    if (server.Read().size() >= kLogin.size()) server.Write(kLoginReply);
    reply += client.ReceiveBytes(server.Drain());
    toServer = client.SendApplicationData("");
  }
  return reply;
}

// The same exchange driven by libssl's client.
inline std::string loginOpenSsl(MemoryClient& client, test::MemoryServer& server) {
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
  return reply;
}

}  // namespace qv::bench
