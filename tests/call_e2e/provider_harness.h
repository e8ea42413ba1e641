#pragma once
// Drives the provider through its exports against pbxsim on loopback, the
// way the telephony service would.
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/tapi.h"
#include "tools/pbxsim/pbx_simulator.h"

namespace qv::test {

struct SettingsStore {
  std::string username = "201";
  std::string password = "secret";
  std::string domain = "office";
  std::string address = "127.0.0.1";
  int port = 0;
  int loglevel = 5;
  bool autooriginate = false;
  bool encrypt = false;
  // Written only when set, so the store otherwise looks as before.
  std::string certpin;
  std::string verifycert;
  std::string cafile;
  std::string tlsversion;  // empty: not stored
  std::string clientcert;
  std::string lines;     // empty: not stored
  std::string guid;      // empty: not stored
  std::string invokeid;  // empty: not stored
};

// Writes the provider's settings where ReadSettings finds them.
void WriteSettingsStore(const SettingsStore& store);
std::string LogText();

// What TAPI's completion procedure received.
class Completions {
 public:
  void Add(DRV_REQUESTID id, LONG result);
  // The first result for the request, or nothing within the time.
  bool Wait(DRV_REQUESTID id, std::chrono::milliseconds timeout, LONG& result);
  int Count(DRV_REQUESTID id);
  std::size_t Total();
  void Clear();

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<std::pair<DRV_REQUESTID, LONG>> all_;
};

Completions& completions();

// How long the completion procedure takes (it sleeps), and how often it was
// entered while another call of it was still running.
void SetCompletionDelay(std::chrono::microseconds delay);
int CompletionOverlaps();

// Provider initialised with a line open.
void InitProvider();
void ShutdownProvider();
HDRVLINE Line();
LONG MakeCall(DRV_REQUESTID id, const std::u16string& number, HDRVCALL* call);

// Short time limits so the tests need not wait half a minute.
void UseShortTimings();

// Waits until the provider's log holds the text at or after `from` (polled:
// the log is a file shared by every test of the process).
bool WaitForLog(const std::string& text, std::chrono::milliseconds timeout, std::size_t from = 0);
// How often the text occurs in the provider's log at or after `from`.
std::size_t CountInLog(const std::string& text, std::size_t from = 0);

// A loopback port that accepts nothing: its listener's queue is full, so new
// SYNs are dropped and a connect hangs until its own limit.
class BlackHole {
 public:
  BlackHole();
  ~BlackHole();
  std::uint16_t port() const { return port_; }
  // True when a connect was seen to hang.
  bool Ok() const { return holding_; }

 private:
  std::uint16_t port_ = 0;
  SocketHandle listener_ = kInvalidSocket;
  std::vector<SocketHandle> fillers_;
  bool holding_ = false;
};

// Predicates over the simulator's frames.
std::size_t CountRoot(const std::vector<pbxsim::ReceivedFrame>& frames, const std::string& root);

constexpr LONG kOperationFailed = static_cast<LONG>(LINEERR_OPERATIONFAILED);

}  // namespace qv::test
