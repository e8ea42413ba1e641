#pragma once
// The PBX connection's sending side and its deadlines. TAPI's threads and
// the worker only queue frames; a writer thread of the connection's own does
// every send, so no caller ever waits on the network. The queue has a byte
// bound: a PBX that stops reading makes later requests fail at once.
//
// The link's lock guards the state, the queue, the TlsConnection (which is
// not thread-safe: every call into it happens under this lock) and
// nextInvokeId. It is never held across a send or a receive, so aborting the
// connection never waits for a blocked writer.
//
// Lock order: sessionLock -> pending-requests lock -> link lock -> log lock.
// The session timing's lock and the worker's wake-up semaphore are leaves
// taken under the link lock.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>

#include "platform/socket.h"
#include "session/csta_requests.h"
#include "xml/byte_string.h"

namespace qv {

class TlsConnection;
struct Tls13Ticket;
struct Tls12Session;

// Frames waiting for the writer, the frame being written included.
inline constexpr std::size_t kMaxQueuedBytes = 256 * 1024;

class PbxLink {
 public:
  using Clock = std::chrono::steady_clock;

  PbxLink();
  ~PbxLink();
  PbxLink(const PbxLink&) = delete;
  PbxLink& operator=(const PbxLink&) = delete;

  // A connection is being set up: requests are held until the PBX has
  // accepted the login on it (they follow the login and the session's own
  // requests, OpenSession) or fail when it cannot be made.
  void BeginConnecting();
  // The connection could not be made: queued requests are dropped (their
  // owners fail them) and new ones fail at once.
  void ConnectFailed();
  // Takes over a connected socket and starts its writer. With encrypt a
  // fresh TlsConnection is set up and its ClientHello written. After
  // BeginConnecting the queue waits for SendRequestFirst (the login), whose
  // answer is due within the login deadline of this moment.
  // A TLS 1.3 ticket or TLS 1.2 session of the last connection to the same
  // name and peer ("address:port") is offered, and taken: a connection that
  // fails before it gets a new one makes the next connect a full handshake.
  void Attach(SocketHandle socket, bool encrypt, const std::string& serverName, const std::string& peer = {});
  // Forgets the kept ticket and session (provider shutdown).
  void ForgetResumption();
  // Ends the writer, forgets the connection and hands the socket back.
  SocketHandle Detach();
  // Waits up to `limit` for the writer to put everything queued on the wire
  // (a closing call's ClearConnection at shutdown); returns early when the
  // connection breaks.
  void Flush(std::chrono::milliseconds limit);
  // Breaks the connection: a receive or send blocked on it returns and later
  // requests fail until the next Attach. Takes no lock a writer holds.
  void Abort();
  bool Connected();
  // The connected socket, for the reader's receives.
  SocketHandle Socket();

  // Frames, traces and queues one request with a new invoke id. beforeSend
  // runs before the frame can reach the PBX. sent: queued for the writer
  // (false when there is no connection and none is being made, the queue is
  // full or the message does not fit in a frame).
  SentRequest SendRequest(std::string_view xml, const InvokeIdHook& beforeSend = {});
  // As SendRequest, but the frame goes out before everything queued: the
  // login of a new connection.
  SentRequest SendRequestFirst(std::string_view xml);
  // An answer to a request of the PBX's, with the invoke id of that request;
  // nothing waits for it. False when there is no connection to send it on.
  bool SendAnswer(std::uint32_t invokeId, std::string_view xml);
  // A request of the application session itself (the monitor after the
  // login): it goes out ahead of the requests held for the session.
  SentRequest SendSessionRequest(std::string_view xml);
  // The application session is open: the held requests follow what is
  // queued, traced now, in the order they were made.
  void OpenSession();
  // Plain connections return the bytes as they are. With TLS the records are
  // processed, handshake bytes queued for the writer, and the plaintext
  // returned. A TLS failure or an alert from the PBX breaks the connection.
  Bytes Unwrap(std::string_view received);

  // A frame with this invoke id arrived: the request it answers is no longer
  // overdue.
  void Answered(std::uint32_t invokeId);
  // The PBX accepted the login on this connection.
  void LoginAccepted();
  bool LoggedIn();
  // Breaks the connection when its login or a request is overdue, with a
  // log line naming the deadline; true when it did.
  bool AbortIfOverdue(Clock::time_point now);
  // The earliest deadline of the connection, if any.
  std::optional<Clock::time_point> NextDeadline();

  // Invoke ids are 1 at load (ascii: 1 to 9998, then 1 again); only tests set them.
  void SetNextInvokeId(std::uint32_t next);

 private:
  enum class State { kIdle, kConnecting, kConnected };
  struct Queued {
    std::uint32_t invokeId = 0;
    Bytes frame;
    std::string trace;  // held frames: the trace line, written when they are released
  };
  struct Outstanding {
    std::uint32_t invokeId = 0;
    Clock::time_point deadline;
  };

  void WriterThread();
  // Nothing queued, nothing being written: the frame goes to the socket from
  // the caller's thread, and what the socket does not take at once to the
  // writer. False when the writer must take all of it.
  bool SendNowLocked(const Bytes& frame);
  std::optional<Bytes> FrameLocked(std::uint32_t invokeId, std::string_view xml,
                                   std::string* heldTrace = nullptr);
  bool HoldsLocked() const;
  // The next invoke id of the current profile (csta_profile.h).
  std::uint32_t TakeInvokeIdLocked();
  void TrackLocked(std::uint32_t invokeId);
  void BreakLocked();
  void ClearLocked();

  std::mutex lock_;
  std::condition_variable wake_;  // with lock_: work for the writer, or the writer finished a send
  State state_ = State::kIdle;
  SocketHandle socket_ = kInvalidSocket;
  std::unique_ptr<TlsConnection> tls_;
  // The last ticket (TLS 1.3) or session (TLS 1.2) the PBX gave, and the
  // "name\npeer" they are good for.
  std::unique_ptr<Tls13Ticket> ticket_;
  std::unique_ptr<Tls12Session> session12_;
  std::string ticketFor_;
  bool broken_ = false;
  bool stopWriter_ = false;
  bool writing_ = false;       // the writer is in a send, without the lock
  bool holdForLogin_ = false;  // queued frames wait for the login
  bool awaitSession_ = false;  // requests are held until OpenSession
  std::deque<Queued> queue_;
  std::deque<Queued> held_;      // requests made before the session was open
  Bytes wire_;                   // bytes ready for the socket (TLS records or frames)
  std::size_t queuedBytes_ = 0;  // frames in queue_ and being written
  std::uint32_t loginInvokeId_ = 0;
  std::uint32_t monitorInvokeId_ = 0;  // reserved with the login, so ids increase on the wire
  std::optional<Clock::time_point> loginDeadline_;
  bool loggedIn_ = false;
  std::deque<Outstanding> outstanding_;
  std::thread writer_;
  std::uint32_t nextInvokeId_ = 1;
};

// The one PBX connection of the process.
PbxLink& pbxLink();

}  // namespace qv
