#include "session/pbx_link.h"

#include <algorithm>
#include <mutex>
#include <optional>
#include <utility>

#include "crypto/cpu_features.h"
#include "session/certificate_settings.h"
#include "session/client_certificate.h"
#include "session/csta_frame.h"
#include "session/csta_profile.h"
#include "session/csta_trace.h"
#include "session/log.h"
#include "session/session.h"
#include "session/session_timing.h"
#include "session/settings.h"
#include "tls/tls_connection.h"
#include "tls/tls_version_policy.h"

namespace qv {

PbxLink::PbxLink() = default;

PbxLink::~PbxLink() {
  if (writer_.joinable()) closeSocket(Detach());
}

void PbxLink::BeginConnecting() {
  std::lock_guard lock(lock_);
  if (state_ != State::kIdle) return;
  ClearLocked();
  state_ = State::kConnecting;
  broken_ = false;
}

void PbxLink::ConnectFailed() {
  std::lock_guard lock(lock_);
  if (state_ != State::kConnecting) return;
  ClearLocked();
  state_ = State::kIdle;
}

void PbxLink::Attach(SocketHandle socket, bool encrypt, const std::string& serverName,
                     const std::string& peer) {
  // Read before the link lock: the settings keep a lock of their own.
  const ProviderSettings settings = encrypt ? SettingsSnapshot() : ProviderSettings();
  const std::string versionText = encrypt ? settings.tlsversion : std::string();
  // Made before the lock: with verifycert it reads the trusted roots, with
  // clientcert a file or the system's certificate store.
  CertificateCheck check = encrypt ? MakeCertificateCheck(settings) : CertificateCheck();
  std::shared_ptr<const ClientCredentials> credentials =
      encrypt ? LoadClientCredentials(settings.clientcert) : nullptr;
  if (writer_.joinable()) closeSocket(Detach());
  std::lock_guard lock(lock_);
  const bool connecting = state_ == State::kConnecting;
  if (!connecting) ClearLocked();
  state_ = State::kConnected;
  socket_ = socket;
  broken_ = false;
  stopWriter_ = false;
  writing_ = false;
  loggedIn_ = false;
  outstanding_.clear();
  tls_.reset();
  if (encrypt) {
    static std::once_flag cipherPathLogged;
    std::call_once(cipherPathLogged, [] { writeLog(9, aesHardwareActive() ? "AES-NI on" : "AES-NI off"); });
    TlsLog log;
    log.enabled = [](int level) {
      if (level <= currentLogLevel()) return true;
      // A line not written still starts the log clock, as writeLog does.
      writeLog(level, {});
      return false;
    };
    log.write = [](int level, std::string_view text) { writeLog(level, text); };
    log.prefix = "CSTA: ";
    tls_ = std::make_unique<TlsConnection>(std::move(log));
    tls_->SetServerName(serverName);
    tls_->SetVerifyCertificates(false);
    if (check) tls_->SetCertificateCheck(std::move(check));
    const std::optional<TlsVersionPolicy> policy = ParseTlsVersionPolicy(versionText);
    if (!policy) writeLog(1, "Unknown tlsversion '" + versionText + "', using 1.0");
    tls_->SetVersionPolicy(policy.value_or(TlsVersionPolicy::kTls10));
    // The first release's TLS 1.0 hello stays as it was: no client certificate.
    if (credentials && policy.value_or(TlsVersionPolicy::kTls10) == TlsVersionPolicy::kTls10) {
      writeLog(1, "Client certificate \"" + settings.clientcert +
                      "\" is sent only with TLS 1.2 or later; tlsversion 1.0 sends none");
    }
    if (credentials) tls_->SetClientCredentials(std::move(credentials));
    const std::string ticketFor = serverName + "\n" + peer;
    if (ticket_ && ticketFor_ == ticketFor) tls_->SetResumptionTicket13(std::move(*ticket_));
    if (session12_ && ticketFor_ == ticketFor) tls_->SetResumptionSession12(std::move(*session12_));
    ticket_.reset();
    session12_.reset();
    ticketFor_ = ticketFor;
    tls_->StartClient();
    wire_ += tls_->SendApplicationData({});
  }
  if (connecting) {
    // The login goes first and must be answered (TLS handshake included)
    // within its deadline; what waited meanwhile is due from now on.
    holdForLogin_ = true;
    awaitSession_ = true;
    loginDeadline_ = Clock::now() + CurrentSessionTiming().loginTimeout;
    for (const Queued& q : held_) TrackLocked(q.invokeId);
    WakeSessionWorker();
  }
  writer_ = std::thread(&PbxLink::WriterThread, this);
}

SocketHandle PbxLink::Detach() {
  std::thread writer;
  {
    std::lock_guard lock(lock_);
    stopWriter_ = true;
    if (writer_.joinable()) BreakLocked();
    wake_.notify_all();
    writer.swap(writer_);
  }
  if (writer.joinable()) writer.join();
  std::lock_guard lock(lock_);
  SocketHandle s = socket_;
  socket_ = kInvalidSocket;
  tls_.reset();
  ClearLocked();
  state_ = State::kIdle;
  broken_ = false;
  stopWriter_ = false;
  return s;
}

void PbxLink::Flush(std::chrono::milliseconds limit) {
  std::unique_lock lock(lock_);
  // Nothing drains before the login is queued or the TLS handshake is done.
  wake_.wait_for(lock, limit, [this] {
    return state_ != State::kConnected || broken_ || holdForLogin_ || awaitSession_ ||
           (tls_ && !tls_->HandshakeDone()) || (queuedBytes_ == 0 && wire_.empty());
  });
}

void PbxLink::ForgetResumption() {
  std::lock_guard lock(lock_);
  ticket_.reset();
  session12_.reset();
  ticketFor_.clear();
}

void PbxLink::Abort() {
  std::lock_guard lock(lock_);
  BreakLocked();
}

bool PbxLink::Connected() {
  std::lock_guard lock(lock_);
  return state_ == State::kConnected && !broken_;
}

SocketHandle PbxLink::Socket() {
  std::lock_guard lock(lock_);
  return socket_;
}

void PbxLink::BreakLocked() {
  broken_ = true;
  abortSocket(socket_);
  wake_.notify_all();
}

void PbxLink::ClearLocked() {
  queue_.clear();
  held_.clear();
  awaitSession_ = false;
  monitorInvokeId_ = 0;
  wire_.clear();
  queuedBytes_ = 0;
  holdForLogin_ = false;
  loginInvokeId_ = 0;
  loginDeadline_.reset();
  loggedIn_ = false;
  outstanding_.clear();
}

void PbxLink::TrackLocked(std::uint32_t invokeId) {
  const Clock::time_point deadline = Clock::now() + CurrentSessionTiming().requestTimeout;
  outstanding_.push_back({invokeId, deadline});
  WakeSessionWorkerBefore(deadline);  // it watches the deadlines
}

std::uint32_t PbxLink::TakeInvokeIdLocked() {
  const InvokeIdFormat format = CurrentInvokeIdFormat();
  if (format == InvokeIdFormat::kAscii && (nextInvokeId_ == 0 || nextInvokeId_ >= kAsciiEventInvokeId))
    nextInvokeId_ = 1;
  const std::uint32_t id = nextInvokeId_;
  nextInvokeId_ = NextInvokeId(format, id);
  return id;
}

bool PbxLink::HoldsLocked() const { return state_ == State::kConnecting || awaitSession_; }

std::optional<Bytes> PbxLink::FrameLocked(std::uint32_t invokeId, std::string_view xml,
                                          std::string* heldTrace) {
  std::optional<Bytes> frame = BuildCstaFrame(invokeId, xml, CurrentInvokeIdFormat());
  if (!frame) {
    writeLog(
        1, "CSTA Tx: message of " + std::to_string(xml.size()) + " bytes does not fit in a frame, not sent");
    return frame;
  }
  std::string trace;
  trace.reserve(9 + xml.size());
  trace.append("CSTA Tx: ").append(TraceText(xml));
  // A held frame is traced when it goes to the writer, so the log keeps the
  // order of the wire.
  if (heldTrace != nullptr) {
    *heldTrace = std::move(trace);
  } else {
    writeLog(5, trace);
  }
  return frame;
}

SentRequest PbxLink::SendRequest(std::string_view xml, const InvokeIdHook& beforeSend) {
  std::lock_guard lock(lock_);
  SentRequest result;
  // A request queued before the login keeps the login's invoke id below its own.
  const bool waitsForLogin = state_ == State::kConnecting || (state_ == State::kConnected && holdForLogin_);
  if (waitsForLogin && !broken_ && loginInvokeId_ == 0) {
    loginInvokeId_ = TakeInvokeIdLocked();
    monitorInvokeId_ = TakeInvokeIdLocked();
  }
  result.invokeId = TakeInvokeIdLocked();
  if (beforeSend) beforeSend(result.invokeId);
  const bool hold = HoldsLocked() && state_ != State::kIdle && !broken_;
  std::string heldTrace;
  std::optional<Bytes> frame = FrameLocked(result.invokeId, xml, hold ? &heldTrace : nullptr);
  if (!frame || state_ == State::kIdle || broken_) return result;
  if (queuedBytes_ + frame->size() > kMaxQueuedBytes) {
    writeLog(1, "CSTA Tx: " + std::to_string(queuedBytes_) + " bytes wait for the PBX, request " +
                    std::to_string(result.invokeId) + " not sent");
    return result;
  }
  const bool queued = hold || !SendNowLocked(*frame);
  if (hold) {
    queuedBytes_ += frame->size();
    held_.push_back({result.invokeId, std::move(*frame), std::move(heldTrace)});
  } else if (queued) {
    queuedBytes_ += frame->size();
    queue_.push_back({result.invokeId, std::move(*frame), {}});
  }
  if (state_ == State::kConnected) TrackLocked(result.invokeId);
  result.sent = true;
  if (queued) wake_.notify_all();
  return result;
}

SentRequest PbxLink::SendSessionRequest(std::string_view xml) {
  std::lock_guard lock(lock_);
  SentRequest result;
  result.invokeId = monitorInvokeId_ != 0 ? monitorInvokeId_ : TakeInvokeIdLocked();
  monitorInvokeId_ = 0;
  std::optional<Bytes> frame = FrameLocked(result.invokeId, xml);
  if (!frame || state_ != State::kConnected || broken_) return result;
  queuedBytes_ += frame->size();
  queue_.push_back({result.invokeId, std::move(*frame), {}});
  TrackLocked(result.invokeId);
  result.sent = true;
  wake_.notify_all();
  return result;
}

bool PbxLink::SendAnswer(std::uint32_t invokeId, std::string_view xml) {
  std::lock_guard lock(lock_);
  std::optional<Bytes> frame = FrameLocked(invokeId, xml);
  if (!frame || state_ != State::kConnected || broken_) return false;
  queuedBytes_ += frame->size();
  queue_.push_back({invokeId, std::move(*frame), {}});
  wake_.notify_all();
  return true;
}

void PbxLink::OpenSession() {
  std::lock_guard lock(lock_);
  if (state_ != State::kConnected || !awaitSession_) return;
  awaitSession_ = false;
  monitorInvokeId_ = 0;
  // Requests written before the PBX chose its CSTA edition go out in it
  // (the edition URIs all have the same length, so the frame keeps its size).
  const std::string edition = CstaRequestNamespace();
  auto inEdition = [&edition](std::string& text) {
    const std::size_t at = text.find(kCstaNamespace);
    if (at != std::string::npos && edition.size() == kCstaNamespace.size())
      text.replace(at, edition.size(), edition);
  };
  for (Queued& q : held_) {
    inEdition(q.frame);
    inEdition(q.trace);
    writeLog(5, q.trace);
    queue_.push_back({q.invokeId, std::move(q.frame), {}});
  }
  held_.clear();
  wake_.notify_all();
}

SentRequest PbxLink::SendRequestFirst(std::string_view xml) {
  std::lock_guard lock(lock_);
  SentRequest result;
  result.invokeId = loginInvokeId_ != 0 ? loginInvokeId_ : TakeInvokeIdLocked();
  std::optional<Bytes> frame = FrameLocked(result.invokeId, xml);
  if (!frame || state_ != State::kConnected || broken_) {
    loginInvokeId_ = 0;
    holdForLogin_ = false;
    return result;
  }
  loginInvokeId_ = result.invokeId;
  // The monitor goes out before the held requests: its id comes first too.
  if (awaitSession_ && monitorInvokeId_ == 0) monitorInvokeId_ = TakeInvokeIdLocked();
  // The login may exceed the bound: it is the one frame the link cannot do without.
  queuedBytes_ += frame->size();
  queue_.push_front({result.invokeId, std::move(*frame), {}});
  holdForLogin_ = false;
  result.sent = true;
  wake_.notify_all();
  return result;
}

bool PbxLink::SendNowLocked(const Bytes& frame) {
  // A send that cannot wait holds the lock only as long as the system call:
  // an abort never waits behind it. The writer's wake-up is saved.
  if (state_ != State::kConnected || broken_ || writing_ || holdForLogin_ || !queue_.empty() ||
      !wire_.empty() || (tls_ && !tls_->HandshakeDone()))
    return false;
  Bytes out = tls_ ? tls_->SendApplicationData(frame) : frame;
  const long taken = sendWithoutWaiting(socket_, out);
  const auto sent = static_cast<std::size_t>(std::max(taken, 0L));
  if (sent < out.size()) {
    // The rest (or a failure) is the writer's, as if it had sent the start.
    wire_.append(out, sent, std::string::npos);
    wake_.notify_all();
  }
  return true;
}

void PbxLink::WriterThread() {
  std::unique_lock lock(lock_);
  for (;;) {
    auto canWrap = [this] { return !holdForLogin_ && !queue_.empty() && (!tls_ || tls_->HandshakeDone()); };
    wake_.wait(lock, [&] { return stopWriter_ || broken_ || !wire_.empty() || canWrap(); });
    if (stopWriter_ || broken_) return;
    std::size_t frameBytes = 0;
    while (canWrap()) {
      Queued& q = queue_.front();
      frameBytes += q.frame.size();
      if (tls_) {
        wire_ += tls_->SendApplicationData(q.frame);
      } else {
        wire_ += q.frame;
      }
      queue_.pop_front();
    }
    Bytes out;
    out.swap(wire_);
    const SocketHandle socket = socket_;
    writing_ = true;
    lock.unlock();
    const bool ok = sendAll(socket, out);
    lock.lock();
    writing_ = false;
    queuedBytes_ -= std::min(queuedBytes_, frameBytes);
    wake_.notify_all();
    if (!ok) {
      if (!broken_) {
        writeLog(1, "Sending to the PBX failed or made no progress for " + std::to_string(kSendTimeoutMs) +
                        " ms, dropping the connection");
        BreakLocked();
      }
      return;
    }
  }
}

Bytes PbxLink::Unwrap(std::string_view received) {
  std::lock_guard lock(lock_);
  if (!tls_) return Bytes(received);
  Bytes plaintext = tls_->ReceiveBytes(received);
  wire_ += tls_->SendApplicationData({});
  if (std::optional<Tls13Ticket> ticket = tls_->TakeLatestTicket13(); ticket && !tls_->Failed()) {
    ticket_ = std::make_unique<Tls13Ticket>(std::move(*ticket));
  }
  if (std::optional<Tls12Session> session = tls_->TakeLatestSession12(); session && !tls_->Failed()) {
    session12_ = std::make_unique<Tls12Session>(std::move(*session));
  }
  if ((tls_->Failed() || tls_->AlertReceived()) && !broken_) {
    // Neither a failed record nor an alert from the PBX leaves a connection
    // that can carry data.
    writeLog(1, tls_->AlertReceived() ? "TLS alert from the PBX, dropping the connection"
                                      : "TLS failure on the PBX connection, dropping the connection");
    BreakLocked();
  }
  wake_.notify_all();
  return plaintext;
}

void PbxLink::Answered(std::uint32_t invokeId) {
  std::lock_guard lock(lock_);
  if (invokeId == loginInvokeId_) loginDeadline_.reset();
  auto it = std::find_if(outstanding_.begin(), outstanding_.end(),
                         [invokeId](const Outstanding& o) { return o.invokeId == invokeId; });
  if (it != outstanding_.end()) outstanding_.erase(it);
}

void PbxLink::LoginAccepted() {
  std::lock_guard lock(lock_);
  loggedIn_ = true;
  loginDeadline_.reset();
}

bool PbxLink::LoggedIn() {
  std::lock_guard lock(lock_);
  return loggedIn_;
}

bool PbxLink::AbortIfOverdue(Clock::time_point now) {
  std::lock_guard lock(lock_);
  if (state_ != State::kConnected || broken_) return false;
  const SessionTiming timing = CurrentSessionTiming();
  if (loginDeadline_ && *loginDeadline_ <= now) {
    const std::string limit = std::to_string(timing.loginTimeout.count());
    writeLog(
        1, tls_ && !tls_->HandshakeDone()
               ? "TLS handshake not completed within " + limit + " ms of the connect, dropping the connection"
               : "Login not answered within " + limit + " ms of the connect, dropping the connection");
    BreakLocked();
    return true;
  }
  for (const Outstanding& o : outstanding_) {
    if (o.deadline <= now) {
      writeLog(1, "Request " + std::to_string(o.invokeId) + " not answered within " +
                      std::to_string(timing.requestTimeout.count()) + " ms, dropping the connection");
      BreakLocked();
      return true;
    }
  }
  return false;
}

std::optional<PbxLink::Clock::time_point> PbxLink::NextDeadline() {
  std::lock_guard lock(lock_);
  if (state_ != State::kConnected || broken_) return std::nullopt;
  std::optional<Clock::time_point> next = loginDeadline_;
  for (const Outstanding& o : outstanding_) {
    if (!next || o.deadline < *next) next = o.deadline;
  }
  return next;
}

void PbxLink::SetNextInvokeId(std::uint32_t next) {
  std::lock_guard lock(lock_);
  nextInvokeId_ = next;
}

PbxLink& pbxLink() {
  static PbxLink link;
  return link;
}

}  // namespace qv
