#pragma once
// A CSTA server that answers the provider as the PBX would, checks every
// frame it receives, records them, and fails in the ways a test asks for.
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <list>
#include <map>
#include <string_view>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/socket.h"

namespace qv::pbxsim {

class Transport;
class TlsServer;
class CallSim;

struct Options {
  std::string host = "127.0.0.1";
  std::uint16_t port = 0;  // 0: ephemeral
  bool tls = false;
  bool tlsModern = false;        // with tls: OpenSSL's defaults (TLS 1.2 and up) instead of TLS 1.0
  std::string expectedPassword;  // empty: every password is accepted
  std::string recordPath;        // JSON lines of the frames received; empty: none
  bool verbose = false;          // frames in both directions on stderr
  // PEM certificate chain (own certificate first) and its private key for
  // TLS; empty: a self-signed certificate made at start.
  std::string certFile;
  std::string keyFile;
  // PEM roots a client certificate must lead to; set: every TLS client must
  // present one that does (mutual TLS).
  std::string clientCaFile;
  bool calls = false;  // a call model answers call control and sends call events
  // The PBX's devices, an inclusive range of equal-length numbers ("300-10299"
  // counts as 300-999 and 1000-10299); empty: every device exists. A
  // MonitorStart for any other device is refused.
  std::string devices;
  // The invoke id as four ASCII digits ("9999" on events), and our requests
  // checked for the standard namespaces (ECMA-354 without the trailing
  // slash, CSTA in edition 5, the one the login answer chooses).
  bool asciiInvokeIds = false;
};

// Whether the device (with or without "@domain", "N<...>" forms aside) is
// one of the range's numbers.
bool DeviceInRange(const std::string& range, std::string_view device);

// Switchable while running.
struct Behaviour {
  std::optional<std::string> sessionDuration = std::string("1800");  // nothing: element left out
  std::optional<std::string> keepAliveDuration = std::string("1800");
  bool makeCallError = false;    // answer MakeCall with CSTAErrorCode
  bool silentMakeCall = false;   // never answer MakeCall
  bool silentKeepAlive = false;  // never answer the keep-alive
  bool splitAnswers = false;     // every byte in its own send
  bool coalesceAnswers = false;  // a request's answer and events in one send
  int floodEvents = 0;           // extra events after each MakeCall
  // Faults of a dead or desynchronised PBX. The first five apply to
  // connections accepted while they are set; the last two to every answer.
  bool silentAfterAccept = false;  // never answer anything, no TLS handshake either
  bool stopReading = false;        // never read: the provider's sends back up
  bool closeAfterAccept = false;   // close every connection at once
  bool alertThenSilence = false;   // a fatal TLS alert after the ClientHello, then nothing
  bool alertAndClose = false;      // a fatal TLS alert after the ClientHello, then close
  bool stallMidFrame = false;      // half of the next answer frame, then nothing more
  bool garbageAnswers = false;     // random bytes (first one not zero) instead of each answer
};

struct ReceivedFrame {
  int connection = 0;
  std::uint32_t invokeId = 0;
  std::string root;  // local name of the root element
  std::string xml;
  std::string problem;                                    // empty when the frame is sound
  std::chrono::steady_clock::time_point receivedAt;       // when its last byte was read
  std::string field(const std::string& localName) const;  // text of the first such element
};

class Simulator {
 public:
  explicit Simulator(Options options);
  ~Simulator();
  Simulator(const Simulator&) = delete;
  Simulator& operator=(const Simulator&) = delete;

  bool Start();
  void Stop();
  std::uint16_t port() const { return port_; }
  // SHA-256 of the TLS certificate as `openssl x509 -fingerprint -sha256`
  // prints it; empty without TLS or before Start.
  std::string CertificateFingerprint() const;

  void SetBehaviour(const Behaviour& behaviour);
  Behaviour behaviour();

  // The PBX closes every open connection.
  void DropConnections();
  // Connections are refused until ResumeListening (same port).
  void StopListening();
  bool ResumeListening();
  // Closes everything and listens again, as a restarted PBX would.
  bool Restart();
  // Writes raw bytes to every open connection.
  void SendRaw(const std::string& bytes);

  std::vector<ReceivedFrame> frames();
  int connectionsAccepted();
  int openConnections();
  // Waits until the predicate holds over the frames received so far.
  bool WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& done,
               std::chrono::milliseconds timeout);
  std::size_t Count(const std::string& root);
  // Waits until at least `count` connections were accepted since Start.
  bool WaitForConnections(int count, std::chrono::milliseconds timeout);
  // Frames that broke a rule of the framing or the XML.
  std::vector<ReceivedFrame> problems();
  // The monitorCrossRefID of a device's monitor on the newest connection;
  // empty when it has none.
  std::string MonitorCrossRef(const std::string& device);
  // The call model (Options::calls), or null.
  CallSim* calls() { return calls_.get(); }
  // XML of every frame sent while the call model runs, in order.
  std::vector<std::string> sentFrames();
  bool WaitForSent(std::size_t count, std::chrono::milliseconds timeout);
  // Waits until every frame read so far has been answered (its answer and
  // events written), so the simulator is idle.
  bool WaitUntilAnswered(std::chrono::milliseconds timeout);

 private:
  struct Connection {
    int id = 0;
    std::unique_ptr<Transport> transport;
    std::thread thread;
    std::atomic<bool> open{true};
    std::atomic<bool> dropped{false};  // DropConnections ended it
    bool muted = false;                // stalled: nothing more is sent
    std::mutex sendLock;
  };

  void AcceptLoop(SocketHandle listener);
  void Serve(Connection& connection);
  // The fault modes chosen at accept; false when the connection is served normally.
  bool ServeFault(Connection& connection, const Behaviour& atAccept);
  void Drain(Connection& connection);
  void Answer(Connection& connection, const ReceivedFrame& frame, std::uint32_t& lastInvokeId);
  void Send(Connection& connection, const std::vector<std::string>& frames);
  void Record(const ReceivedFrame& frame);
  void RecordSent(const std::vector<std::string>& frames);
  void Broadcast(const std::vector<std::string>& frames);

  Options options_;
  std::unique_ptr<TlsServer> tls_;
  std::uint16_t port_ = 0;
  std::mutex lock_;  // everything below
  std::condition_variable changed_;
  Behaviour behaviour_;
  SocketHandle listener_ = kInvalidSocket;
  std::thread acceptThread_;
  std::list<Connection> connections_;
  std::vector<ReceivedFrame> frames_;
  std::size_t answered_ = 0;  // frames whose Answer has returned
  int accepted_ = 0;
  int nextCallId_ = 1000;
  int sessions_ = 0;
  std::FILE* record_ = nullptr;
  std::vector<std::string> sent_;
  // Monitor cross-reference ids by connection and device.
  std::map<std::pair<int, std::string>, std::string> monitors_;
  int nextMonitor_ = 1;
  std::unique_ptr<CallSim> calls_;
};

}  // namespace qv::pbxsim
