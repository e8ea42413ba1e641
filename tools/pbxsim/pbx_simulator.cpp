#include "tools/pbxsim/pbx_simulator.h"

#include <pugixml.hpp>

#include <csignal>
#include <cstdio>
#include <iostream>
#include <random>

#include "tools/pbxsim/call_model.h"
#include "tools/pbxsim/pbx_messages.h"
#include "tools/pbxsim/pbx_transport.h"

namespace qv::pbxsim {

bool DeviceInRange(const std::string& range, std::string_view device) {
  const std::size_t at = device.find('@');
  if (at != std::string_view::npos) device = device.substr(0, at);
  const std::size_t dash = range.find('-');
  const std::string first = range.substr(0, dash);
  const std::string last = dash == std::string::npos ? first : range.substr(dash + 1);
  auto number = [](std::string_view text, unsigned long long& value) {
    if (text.empty() || text.size() > 18) return false;
    value = 0;
    for (char c : text) {
      if (c < '0' || c > '9') return false;
      value = value * 10 + static_cast<unsigned long long>(c - '0');
    }
    return true;
  };
  // Numbers, not texts: a range may span lengths (300-10299).
  unsigned long long value = 0, low = 0, high = 0;
  return number(device, value) && number(first, low) && number(last, high) && value >= low && value <= high;
}

namespace {

constexpr std::uint32_t kEventInvokeId = 9999;

std::string_view localName(std::string_view qname) {
  std::size_t colon = qname.find(':');
  return colon == std::string_view::npos ? qname : qname.substr(colon + 1);
}

pugi::xml_node findByLocalName(pugi::xml_node node, std::string_view name) {
  for (pugi::xml_node child : node.children()) {
    if (child.type() != pugi::node_element) continue;
    if (localName(child.name()) == name) return child;
    if (pugi::xml_node found = findByLocalName(child, name)) return found;
  }
  return {};
}

std::string jsonEscape(std::string_view text) {
  std::string out;
  for (unsigned char c : text) {
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(static_cast<char>(c));
        }
    }
  }
  return out;
}

// "201@office" -> "201": the PBX names the device by its own number.
std::string pbxDeviceName(const std::string& callingDevice) {
  std::size_t at = callingDevice.find('@');
  return at == std::string::npos ? callingDevice : callingDevice.substr(0, at);
}

}  // namespace

std::string ReceivedFrame::field(const std::string& name) const {
  pugi::xml_document doc;
  if (!doc.load_buffer(xml.data(), xml.size())) return {};
  pugi::xml_node node = localName(doc.document_element().name()) == name
                            ? doc.document_element()
                            : findByLocalName(doc.document_element(), name);
  return node ? node.text().get() : std::string();
}

Simulator::Simulator(Options options) : options_(std::move(options)) {
  SetAsciiInvokeIds(options_.asciiInvokeIds);
}

Simulator::~Simulator() { Stop(); }

std::string Simulator::CertificateFingerprint() const { return tls_ ? tls_->Fingerprint() : std::string(); }

bool Simulator::Start() {
#ifdef SIGPIPE
  // OpenSSL writes to its socket without MSG_NOSIGNAL; a closed peer must
  // not end the process.
  std::signal(SIGPIPE, SIG_IGN);
#endif
  if (options_.tls) {
    tls_ = std::make_unique<TlsServer>(options_.certFile, options_.keyFile, options_.tlsModern,
                                       options_.clientCaFile);
    if (!tls_->Ready()) return false;
  }
  if (!options_.recordPath.empty()) {
    record_ = std::fopen(options_.recordPath.c_str(), "w");
    if (record_ == nullptr) return false;
  }
  port_ = options_.port;
  if (options_.calls)
    calls_ = std::make_unique<CallSim>([this](const std::vector<std::string>& f) { Broadcast(f); });
  return ResumeListening();
}

void Simulator::Stop() {
  StopListening();
  DropConnections();
  std::list<Connection> done;
  {
    std::lock_guard lock(lock_);
    done.swap(connections_);
  }
  for (Connection& c : done) {
    if (c.thread.joinable()) c.thread.join();
  }
  std::lock_guard lock(lock_);
  if (record_) {
    std::fclose(record_);
    record_ = nullptr;
  }
}

void Simulator::SetBehaviour(const Behaviour& behaviour) {
  std::lock_guard lock(lock_);
  behaviour_ = behaviour;
}

Behaviour Simulator::behaviour() {
  std::lock_guard lock(lock_);
  return behaviour_;
}

bool Simulator::ResumeListening() {
  std::lock_guard lock(lock_);
  if (listener_ != kInvalidSocket) return true;
  std::uint16_t bound = 0;
  listener_ = listenTcp(options_.host, port_, bound);
  if (listener_ == kInvalidSocket) return false;
  port_ = bound;
  acceptThread_ = std::thread(&Simulator::AcceptLoop, this, listener_);
  return true;
}

void Simulator::StopListening() {
  SocketHandle listener;
  std::thread acceptThread;
  {
    std::lock_guard lock(lock_);
    listener = listener_;
    listener_ = kInvalidSocket;
    acceptThread.swap(acceptThread_);
  }
  if (listener == kInvalidSocket) return;
  abortSocket(listener);
  if (acceptThread.joinable()) acceptThread.join();
  closeSocket(listener);
}

void Simulator::DropConnections() {
  std::lock_guard lock(lock_);
  for (Connection& c : connections_) {
    c.dropped = true;
    if (c.open) c.transport->Abort();
  }
  changed_.notify_all();
}

bool Simulator::Restart() {
  StopListening();
  DropConnections();
  {
    // A restarted PBX knows nothing of earlier sessions.
    std::unique_lock lock(lock_);
    changed_.wait_for(lock, std::chrono::seconds(5), [&] {
      for (Connection& c : connections_) {
        if (c.open) return false;
      }
      return true;
    });
  }
  return ResumeListening();
}

void Simulator::SendRaw(const std::string& bytes) {
  std::lock_guard lock(lock_);
  for (Connection& c : connections_) {
    if (!c.open) continue;
    std::lock_guard sendLock(c.sendLock);
    c.transport->Send(bytes);
  }
}

std::vector<ReceivedFrame> Simulator::frames() {
  std::lock_guard lock(lock_);
  return frames_;
}

std::string Simulator::MonitorCrossRef(const std::string& device) {
  std::lock_guard lock(lock_);
  auto it = monitors_.find({accepted_, device});
  return it == monitors_.end() ? std::string() : it->second;
}

int Simulator::connectionsAccepted() {
  std::lock_guard lock(lock_);
  return accepted_;
}

int Simulator::openConnections() {
  std::lock_guard lock(lock_);
  int n = 0;
  for (Connection& c : connections_) n += c.open ? 1 : 0;
  return n;
}

bool Simulator::WaitFor(const std::function<bool(const std::vector<ReceivedFrame>&)>& done,
                        std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] { return done(frames_); });
}

bool Simulator::WaitForConnections(int count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] { return accepted_ >= count; });
}

std::size_t Simulator::Count(const std::string& root) {
  std::lock_guard lock(lock_);
  std::size_t n = 0;
  for (const ReceivedFrame& f : frames_) n += f.root == root ? 1 : 0;
  return n;
}

std::vector<ReceivedFrame> Simulator::problems() {
  std::lock_guard lock(lock_);
  std::vector<ReceivedFrame> out;
  for (const ReceivedFrame& f : frames_) {
    if (!f.problem.empty()) out.push_back(f);
  }
  return out;
}

void Simulator::AcceptLoop(SocketHandle listener) {
  for (;;) {
    SocketHandle s = acceptConnection(listener);
    if (s == kInvalidSocket) return;
    std::lock_guard lock(lock_);
    if (listener_ != listener) {
      closeSocket(s);
      return;
    }
    // Finished connections are pruned here so a long run stays small.
    for (auto it = connections_.begin(); it != connections_.end();) {
      if (!it->open && it->thread.joinable()) {
        it->thread.join();
        it = connections_.erase(it);
      } else {
        ++it;
      }
    }
    Connection& c = connections_.emplace_back();
    c.id = ++accepted_;
    c.transport = tls_ ? tls_->Wrap(s) : MakePlainTransport(s);
    c.thread = std::thread(&Simulator::Serve, this, std::ref(c));
    changed_.notify_all();
  }
}

void Simulator::Record(const ReceivedFrame& frame) {
  // lock_ held by the caller.
  frames_.push_back(frame);
  if (record_) {
    std::fprintf(record_, "{\"conn\":%d,\"invokeId\":%u,\"root\":\"%s\",\"problem\":\"%s\",\"xml\":\"%s\"}\n",
                 frame.connection, frame.invokeId, jsonEscape(frame.root).c_str(),
                 jsonEscape(frame.problem).c_str(), jsonEscape(frame.xml).c_str());
    std::fflush(record_);
  }
  if (options_.verbose) {
    std::cerr << "pbxsim <- [" << frame.connection << "] " << frame.invokeId << " " << frame.root
              << (frame.problem.empty() ? "" : " PROBLEM: " + frame.problem) << "\n";
  }
  changed_.notify_all();
}

void Simulator::Drain(Connection& connection) {
  char chunk[4096];
  while (connection.transport->ReceiveRaw(chunk, sizeof chunk) > 0) {
  }
}

bool Simulator::ServeFault(Connection& connection, const Behaviour& b) {
  if (b.closeAfterAccept) {
    connection.transport->Abort();
    return true;
  }
  if (b.stopReading) {
    std::unique_lock lock(lock_);
    changed_.wait(lock, [&] { return connection.dropped.load(); });
    return true;
  }
  if (b.silentAfterAccept) {
    Drain(connection);
    return true;
  }
  if (b.alertThenSilence || b.alertAndClose) {
    // What a TLS server says when it cannot go on: a fatal handshake_failure
    // record after the client's first bytes.
    char chunk[4096];
    if (connection.transport->ReceiveRaw(chunk, sizeof chunk) > 0) {
      connection.transport->SendRaw(std::string("\x15\x03\x01\x00\x02\x02\x28", 7));
    }
    if (b.alertAndClose) {
      connection.transport->Abort();
    } else {
      Drain(connection);
    }
    return true;
  }
  return false;
}

void Simulator::Serve(Connection& connection) {
  std::string buffer;
  std::uint32_t lastInvokeId = 0;
  if (ServeFault(connection, behaviour())) {
    // nothing more on this connection
  } else if (connection.transport->Open()) {
    char chunk[4096];
    for (;;) {
      long n = connection.transport->Receive(chunk, sizeof chunk);
      if (n <= 0) break;
      buffer.append(chunk, static_cast<std::size_t>(n));
      bool cut = true;
      while (cut && buffer.size() >= 8) {
        ReceivedFrame frame;
        frame.connection = connection.id;
        auto byte = [&](std::size_t i) { return static_cast<unsigned char>(buffer[i]); };
        std::size_t length = byte(2) * 256u + byte(3);
        if (length < 8) {
          frame.problem = "length below 8";
          std::lock_guard lock(lock_);
          Record(frame);
          ++answered_;
          cut = false;
          buffer.clear();
          connection.transport->Abort();
          break;
        }
        if (buffer.size() < length) break;
        frame.receivedAt = std::chrono::steady_clock::now();
        if (options_.asciiInvokeIds) {
          frame.invokeId = 0;
          for (std::size_t k = 4; k < 8; ++k) {
            if (byte(k) < '0' || byte(k) > '9') frame.problem = "invoke id not four ASCII digits";
            frame.invokeId = frame.invokeId * 10 + (byte(k) - '0') % 10;
          }
        } else {
          frame.invokeId = (std::uint32_t{byte(4)} << 24) | (std::uint32_t{byte(5)} << 16) |
                           (std::uint32_t{byte(6)} << 8) | byte(7);
        }
        frame.xml = buffer.substr(8, length - 8);
        if (byte(0) != 0 || byte(1) != 0) frame.problem = "reserved bytes not zero";
        buffer.erase(0, length);
        Answer(connection, frame, lastInvokeId);
        std::lock_guard lock(lock_);
        ++answered_;
        changed_.notify_all();
      }
    }
  }
  // After this the thread takes no lock again, so it can be joined under lock_.
  std::lock_guard lock(lock_);
  connection.open = false;
  changed_.notify_all();
}

void Simulator::Answer(Connection& connection, const ReceivedFrame& received, std::uint32_t& lastInvokeId) {
  ReceivedFrame frame = received;
  pugi::xml_document doc;
  pugi::xml_parse_result parsed = doc.load_buffer(frame.xml.data(), frame.xml.size());
  pugi::xml_node root = doc.document_element();
  frame.root = std::string(localName(root.name()));
  auto addProblem = [&frame](const std::string& p) {
    if (!frame.problem.empty()) frame.problem += "; ";
    frame.problem += p;
  };
  if (!parsed) addProblem(std::string("malformed XML: ") + parsed.description());
  if (frame.xml.size() < 2 || frame.xml.compare(frame.xml.size() - 2, 2, "\r\n") != 0) {
    addProblem("XML does not end with CR LF");
  }
  // Four-digit ids wrap from 9998 to 1.
  const bool wrapped = options_.asciiInvokeIds && lastInvokeId > 9000 && frame.invokeId < 1000;
  if (frame.invokeId == 0 || (frame.invokeId <= lastInvokeId && !wrapped))
    addProblem("invoke id not increasing");
  lastInvokeId = frame.invokeId;
  if (options_.asciiInvokeIds) {
    if (frame.invokeId == 9999) addProblem("invoke id 9999 is the events'");
    const std::string ns = root.attribute("xmlns").value();
    const bool session =
        frame.root == "StartApplicationSession" || frame.root == "ResetApplicationSessionTimer";
    const std::string expected = session ? "http://www.ecma-international.org/standards/ecma-354/appl_session"
                                         : "http://www.ecma-international.org/standards/ecma-323/csta/ed5";
    if (ns != expected) addProblem("namespace " + ns + ", expected " + expected);
  }

  Behaviour b;
  std::vector<std::string> out;
  {
    std::lock_guard lock(lock_);
    Record(frame);
    b = behaviour_;
  }
  // "heldCall/callID": the callID inside the first heldCall.
  auto text = [&](std::string_view name) {
    pugi::xml_node n = root;
    for (std::size_t from = 0; n;) {
      std::size_t slash = name.find('/', from);
      n = findByLocalName(n, name.substr(from, slash == std::string_view::npos ? slash : slash - from));
      if (slash == std::string_view::npos) break;
      from = slash + 1;
    }
    return n ? std::string(n.text().get()) : std::string();
  };
  const std::uint32_t id = frame.invokeId;
  const std::string cross = std::to_string(connection.id);
  if (calls_ && calls_->OnRequest(id, frame.root, text, out)) {
    // answered by the call model
  } else if (frame.root == "StartApplicationSession") {
    if (!options_.expectedPassword.empty() && text("password") != options_.expectedPassword) {
      out.push_back(Frame(id, LoginNegResponse()));
    } else {
      int session;
      {
        std::lock_guard lock(lock_);
        session = ++sessions_;
      }
      out.push_back(
          Frame(id, LoginPosResponse("pbxsim-session-" + std::to_string(session), b.sessionDuration)));
    }
  } else if (frame.root == "ResetApplicationSessionTimer") {
    if (!b.silentKeepAlive) out.push_back(Frame(id, KeepAlivePosResponse(b.keepAliveDuration)));
  } else if (frame.root == "MonitorStart") {
    const std::string device = text("deviceObject");
    if (options_.devices.empty()) {
      out.push_back(Frame(id, MonitorStartResponse(cross)));
    } else if (!DeviceInRange(options_.devices, device)) {
      out.push_back(Frame(id, CstaErrorCode("invalidMonitorObject")));
    } else {
      std::string ref;
      {
        std::lock_guard lock(lock_);
        ref = "m" + std::to_string(nextMonitor_++);
        monitors_[{connection.id, pbxDeviceName(device)}] = ref;
      }
      if (calls_) calls_->MonitorStarted(pbxDeviceName(device), ref);
      out.push_back(Frame(id, MonitorStartResponse(ref)));
    }
  } else if (frame.root == "MonitorStop") {
    out.push_back(Frame(id, MonitorStopResponse()));
  } else if (frame.root == "MakeCall") {
    if (b.silentMakeCall) {
      // no answer at all
    } else if (b.makeCallError) {
      out.push_back(Frame(id, CstaErrorCode("invalidCalledDeviceID")));
    } else {
      int callNumber;
      {
        std::lock_guard lock(lock_);
        callNumber = ++nextCallId_;
      }
      const std::string callId = std::to_string(callNumber);
      const std::string device = pbxDeviceName(text("callingDevice"));
      // Events name the monitor of the calling device where there is one.
      std::string cross = std::to_string(connection.id);
      {
        std::lock_guard lock(lock_);
        auto monitor = monitors_.find({connection.id, device});
        if (monitor != monitors_.end()) cross = monitor->second;
      }
      const std::string called = text("calledDirectoryNumber");
      out.push_back(Frame(id, MakeCallResponse(callId, device, called)));
      out.push_back(Frame(kEventInvokeId, DeliveredEvent(cross, callId, device, called)));
      out.push_back(Frame(kEventInvokeId, EstablishedEvent(cross, callId, device, called)));
      for (int i = 0; i < b.floodEvents; ++i) {
        out.push_back(Frame(kEventInvokeId, i % 2 ? EstablishedEvent(cross, callId, device, called)
                                                  : DeliveredEvent(cross, callId, device, called)));
      }
    }
  } else if (frame.root == "ClearConnection") {
    out.push_back(Frame(id, ClearConnectionResponse()));
    out.push_back(Frame(kEventInvokeId, ConnectionClearedEvent(cross, text("callID"), text("deviceID"))));
  }
  if (out.empty()) return;
  if (options_.verbose) {
    for (const std::string& f : out) {
      pugi::xml_document answer;
      answer.load_buffer(f.data() + 8, f.size() - 8);
      std::uint32_t answerId = (std::uint32_t{static_cast<unsigned char>(f[4])} << 24) |
                               (std::uint32_t{static_cast<unsigned char>(f[5])} << 16) |
                               (std::uint32_t{static_cast<unsigned char>(f[6])} << 8) |
                               static_cast<unsigned char>(f[7]);
      std::cerr << "pbxsim -> [" << connection.id << "] " << answerId << " "
                << localName(answer.document_element().name()) << "\n";
    }
  }
  RecordSent(out);
  if (b.coalesceAnswers) {
    std::string all;
    for (const std::string& f : out) all += f;
    out.assign(1, all);
  }
  if (b.garbageAnswers) {
    static thread_local std::mt19937 random(std::random_device{}());
    std::string noise(64, '\0');
    for (char& c : noise) c = static_cast<char>(random());
    if (noise[0] == '\0') noise[0] = '\x5A';
    out.assign(1, noise);
  }
  if (b.stallMidFrame) out.assign(1, out.front().substr(0, out.front().size() / 2));
  if (b.splitAnswers) {
    std::vector<std::string> bytes;
    for (const std::string& f : out) {
      for (char c : f) bytes.emplace_back(1, c);
    }
    out.swap(bytes);
  }
  Send(connection, out);
  if (b.stallMidFrame) connection.muted = true;
}

void Simulator::RecordSent(const std::vector<std::string>& frames) {
  if (!calls_) return;
  std::lock_guard lock(lock_);
  for (const std::string& f : frames) {
    if (f.size() < 8) continue;
    sent_.push_back(f.substr(8));
    if (record_) {
      std::fprintf(record_, "{\"dir\":\"tx\",\"xml\":\"%s\"}\n", jsonEscape(sent_.back()).c_str());
      std::fflush(record_);
    }
  }
  changed_.notify_all();
}

void Simulator::Broadcast(const std::vector<std::string>& frames) {
  RecordSent(frames);
  std::string all;
  for (const std::string& f : frames) all += f;
  SendRaw(all);
}

bool Simulator::WaitForSent(std::size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] { return sent_.size() >= count; });
}

bool Simulator::WaitUntilAnswered(std::chrono::milliseconds timeout) {
  std::unique_lock lock(lock_);
  return changed_.wait_for(lock, timeout, [&] { return answered_ >= frames_.size(); });
}

std::vector<std::string> Simulator::sentFrames() {
  std::lock_guard lock(lock_);
  return sent_;
}

void Simulator::Send(Connection& connection, const std::vector<std::string>& frames) {
  std::lock_guard sendLock(connection.sendLock);
  if (connection.muted) return;
  for (const std::string& f : frames) {
    if (!connection.transport->Send(f)) return;
  }
}

}  // namespace qv::pbxsim
