#pragma once
// tsphost: a stand-in for the telephony service. It loads a provider file,
// resolves its exports and drives it the way TAPI does, printing every call,
// its result and whatever reaches the completion and event procedures.
// Subcommands live one per file (cmd_*.cpp) and share this driver API.
#include <chrono>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "platform/dynamic_library.h"
#include "platform/tapi.h"

namespace qv::tsphost {

// The 117 names a provider exports.
const std::vector<std::string>& providerExportNames();

struct Host {
  DynamicLibrary library;
  std::string path;
  DWORD tspiVersion = 0;
  DWORD permanentProviderId = 1;
  DWORD lineDeviceIdBase = 0;
  DWORD phoneDeviceIdBase = 1;
  DWORD numLines = 0;  // as enumerated
  HDRVLINE hdLine = nullptr;
  bool initialised = false;
  bool lineOpen = false;

  // The export's address as a function pointer, or null (reported).
  template <typename F>
  F get(const char* name) {
    return reinterpret_cast<F>(resolve(name));
  }
  void* resolve(const char* name);
};

// Steps of the telephony service; each prints the call and its result and
// returns whether it succeeded.
bool loadProvider(Host& host, const std::string& path);
bool negotiate(Host& host);  // INITIALIZE_NEGOTIATION first, then the line and the phone
bool enumerateDevices(Host& host);
bool initProvider(Host& host);
bool openLine(Host& host);
bool closeLine(Host& host);
bool shutdownProvider(Host& host);
// load + negotiate + enumerate + init + open, and the reverse.
bool bringUp(Host& host, const std::string& path);
bool tearDown(Host& host);

// What the procedures received, in order of arrival (thread-safe).
struct Completion {
  DRV_REQUESTID requestId;
  LONG result;
};
std::vector<Completion> completions();
std::vector<std::string> lineEvents();
// Takes over the line events (instead of the generic printout); it runs on
// the provider's thread, so it must not block. Set it before openLine.
using LineEventObserver = std::function<void(HTAPILINE, HTAPICALL, DWORD, DWORD_PTR, DWORD_PTR, DWORD_PTR)>;
void setLineEventObserver(LineEventObserver observer);
// Waits until a completion for requestId arrives; false on time-out.
bool waitForCompletion(DRV_REQUESTID requestId, std::chrono::milliseconds timeout, LONG& result);

// The procedures handed to the provider.
void TSPIAPI completionProc(DRV_REQUESTID dwRequestID, LONG lResult);
void TSPIAPI lineEventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3);

// Formatting helpers.
std::string hex32(std::uint32_t value);
std::string guidText(const GUID& guid);         // "xxxxxxxx-xxxx-xxxx-xxxx-xxxxxxxxxxxx"
std::string resultText(LONG result);            // "0" or "0x8000000C (LINEERR_INCOMPATIBLEAPIVERSION)"
std::string narrow(const WCHAR* text);          // UTF-16 to UTF-8
std::u16string widen(const std::string& text);  // UTF-8 (ASCII) to UTF-16

// Subcommands: args are the arguments after the subcommand name.
int runLifecycle(const std::vector<std::string>& args);
int runExports(const std::vector<std::string>& args);
int runIdentify(const std::vector<std::string>& args);
int runDial(const std::vector<std::string>& args);
int runCaps(const std::vector<std::string>& args);
int runConfig(const std::vector<std::string>& args);
int runMonitor(const std::vector<std::string>& args);
int runPbxcert(const std::vector<std::string>& args);
int runLines(const std::vector<std::string>& args);

}  // namespace qv::tsphost
