// TLS records in a live session: our client and libssl's client each send
// 1 MiB of application data in 16 KiB records over loopback TCP to the same
// libssl server (a thread of this process, RSA-2048, TLS 1.2 with the one
// suite of the run), which answers one byte once it has read it all. The
// server's work is the same for both clients, as a PBX's would be. Wall
// time: the server's thread works in parallel with the client's.
#include <arpa/inet.h>
#include <benchmark/benchmark.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <string>
#include <thread>

#include "tests/tls/openssl_memory_server.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {
namespace {

constexpr std::size_t kRecord = 16384;
constexpr std::size_t kRecordsPerRound = 64;
constexpr std::size_t kRound = kRecord * kRecordsPerRound;

int connectLoopback(std::uint16_t port) {
  const int fd = socket(AF_INET, SOCK_STREAM, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(port);
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    close(fd);
    return -1;
  }
  const int one = 1;
  setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  return fd;
}

bool sendAll(int fd, const std::string& bytes) {
  for (std::size_t at = 0; at < bytes.size();) {
    const ssize_t n = send(fd, bytes.data() + at, bytes.size() - at, MSG_NOSIGNAL);
    if (n <= 0) return false;
    at += static_cast<std::size_t>(n);
  }
  return true;
}

// The libssl server: one connection at a time, each read in rounds of kRound
// bytes, each round answered with "K".
class LiveServer {
 public:
  explicit LiveServer(const char* suite) : context_(test::makeServerContext(suite, TLS1_2_VERSION)) {
    listener_ = socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    bind(listener_, reinterpret_cast<sockaddr*>(&address), sizeof address);
    socklen_t length = sizeof address;
    getsockname(listener_, reinterpret_cast<sockaddr*>(&address), &length);
    port_ = ntohs(address.sin_port);
    listen(listener_, 4);
    thread_ = std::thread([this] { serve(); });
  }
  ~LiveServer() {
    stop_ = true;
    close(connectLoopback(port_));
    thread_.join();
    close(listener_);
    SSL_CTX_free(context_);
  }
  LiveServer(const LiveServer&) = delete;
  LiveServer& operator=(const LiveServer&) = delete;
  std::uint16_t port() const { return port_; }

 private:
  void serve() {
    while (!stop_) {
      const int fd = accept(listener_, nullptr, nullptr);
      if (fd < 0 || stop_) {
        if (fd >= 0) close(fd);
        break;
      }
      SSL* ssl = SSL_new(context_);
      SSL_set_fd(ssl, fd);
      if (SSL_accept(ssl) == 1) {
        std::string buffer(kRecord + 256, '\0');
        std::size_t got = 0;
        int n;
        while ((n = SSL_read(ssl, buffer.data(), static_cast<int>(buffer.size()))) > 0) {
          got += static_cast<std::size_t>(n);
          if (got >= kRound) {
            got -= kRound;
            SSL_write(ssl, "K", 1);
          }
        }
      }
      ERR_clear_error();
      SSL_free(ssl);
      close(fd);
    }
  }

  SSL_CTX* context_;
  int listener_;
  std::uint16_t port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

void liveOurs(benchmark::State& state, const char* suite, std::string_view suiteBytes) {
  LiveServer server(suite);
  const int fd = connectLoopback(server.port());
  TlsConnection tls;
  tls.SetVerifyCertificates(false);
  tls.SetServerName("pbx.example.com");
  tls.SetVersionPolicy(TlsVersionPolicy::kTls12);
  tls.StartClient();
  char buffer[20000];
  // The handshake: whatever the connection has goes out, the answers in.
  while (!tls.HandshakeDone() && !tls.Failed()) {
    if (!sendAll(fd, tls.SendApplicationData(""))) break;
    const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
    if (n <= 0) break;
    tls.ReceiveBytes(std::string_view(buffer, static_cast<std::size_t>(n)));
  }
  if (!tls.HandshakeDone() || tls.Failed() || tls.CipherSuite() != Bytes(suiteBytes))
    state.SkipWithError("handshake failed or another suite");
  const std::string record(kRecord, 'D');
  for (auto _ : state) {
    for (std::size_t i = 0; i < kRecordsPerRound; ++i) {
      if (!sendAll(fd, tls.SendApplicationData(record))) state.SkipWithError("send failed");
    }
    Bytes answer;
    while (answer.find('K') == Bytes::npos) {
      const ssize_t n = recv(fd, buffer, sizeof buffer, 0);
      if (n <= 0) {
        state.SkipWithError("no answer");
        break;
      }
      answer += tls.ReceiveBytes(std::string_view(buffer, static_cast<std::size_t>(n)));
    }
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRound));
  close(fd);
}

void liveOpenSsl(benchmark::State& state, const char* suite) {
  LiveServer server(suite);
  SSL_CTX* context = SSL_CTX_new(TLS_client_method());
  SSL_CTX_set_max_proto_version(context, TLS1_2_VERSION);
  SSL_CTX_set_cipher_list(context, suite);
  SSL_CTX_set_options(context, SSL_OP_NO_TICKET);
  const int fd = connectLoopback(server.port());
  SSL* ssl = SSL_new(context);
  SSL_set_fd(ssl, fd);
  if (SSL_connect(ssl) != 1) state.SkipWithError("handshake failed");
  const std::string record(kRecord, 'D');
  char answer;
  for (auto _ : state) {
    for (std::size_t i = 0; i < kRecordsPerRound; ++i) {
      if (SSL_write(ssl, record.data(), static_cast<int>(record.size())) <= 0)
        state.SkipWithError("send failed");
    }
    if (SSL_read(ssl, &answer, 1) != 1) state.SkipWithError("no answer");
  }
  state.SetBytesProcessed(static_cast<std::int64_t>(state.iterations() * kRound));
  SSL_shutdown(ssl);
  SSL_free(ssl);
  close(fd);
  SSL_CTX_free(context);
}

constexpr const char* kCbc = "AES128-SHA";
constexpr const char* kGcm = "ECDHE-RSA-AES128-GCM-SHA256";
constexpr const char* kChacha = "ECDHE-RSA-CHACHA20-POLY1305";

// Ours first: OpenSSL's AVX-512 code run earlier in the process slows the
// vector code that follows it.
BENCHMARK_CAPTURE(liveOurs, Aes128Sha, kCbc, std::string_view("\x00\x2F", 2))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(liveOurs, Aes128Gcm, kGcm, std::string_view("\xC0\x2F", 2))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(liveOurs, Chacha20Poly1305, kChacha, std::string_view("\xCC\xA8", 2))
    ->Unit(benchmark::kMicrosecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(liveOpenSsl, Aes128Sha, kCbc)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(liveOpenSsl, Aes128Gcm, kGcm)->Unit(benchmark::kMicrosecond)->UseRealTime();
BENCHMARK_CAPTURE(liveOpenSsl, Chacha20Poly1305, kChacha)->Unit(benchmark::kMicrosecond)->UseRealTime();

}  // namespace
}  // namespace qv

BENCHMARK_MAIN();
