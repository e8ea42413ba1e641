#include <condition_variable>
#include <cstdio>
#include <mutex>
#include <utility>

#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {
namespace {

std::mutex receivedLock;
std::condition_variable receivedSignal;
std::vector<Completion> receivedCompletions;
std::vector<std::string> receivedLineEvents;
LineEventObserver lineEventObserver;  // set before the line opens, cleared after it closed

// A few versions TAPI commonly asks for: 1.4 to 3.1.
constexpr DWORD kLowVersion = 0x00010004;
constexpr DWORD kHighVersion = 0x00030001;

void step(const std::string& call, LONG result, const std::string& detail = {}) {
  std::printf("-> %s = %s%s\n", call.c_str(), resultText(result).c_str(),
              detail.empty() ? "" : ("  " + detail).c_str());
  std::fflush(stdout);
}

}  // namespace

void* Host::resolve(const char* name) {
  void* address = library.symbol(name);
  if (address == nullptr) std::printf("!! export %s is missing\n", name);
  return address;
}

std::string hex32(std::uint32_t value) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(value));
  return text;
}

std::string guidText(const GUID& g) {
  char text[48];
  std::snprintf(text, sizeof text, "%08x-%04x-%04x-%02x%02x-%02x%02x%02x%02x%02x%02x",
                static_cast<unsigned>(g.Data1), g.Data2, g.Data3, g.Data4[0], g.Data4[1], g.Data4[2],
                g.Data4[3], g.Data4[4], g.Data4[5], g.Data4[6], g.Data4[7]);
  return text;
}

std::string resultText(LONG result) {
  if (result >= 0) return std::to_string(result);
  struct Known {
    std::uint32_t code;
    const char* name;
  };
  static const Known known[] = {
      {0x80000005u, "LINEERR_CALLUNAVAIL"},
      {0x8000000Cu, "LINEERR_INCOMPATIBLEAPIVERSION"},
      {0x80000018u, "LINEERR_INVALCALLHANDLE"},
      {0x8000002Bu, "LINEERR_INVALLINEHANDLE"},
      {0x80000044u, "LINEERR_NOMEM"},
      {0x80000048u, "LINEERR_OPERATIONFAILED"},
      {0x8000004Du, "LINEERR_STRUCTURETOOSMALL"},
      {0x90000003u, "PHONEERR_INCOMPATIBLEAPIVERSION"},
  };
  auto code = static_cast<std::uint32_t>(result);
  for (const auto& k : known) {
    if (k.code == code) return hex32(code) + " (" + k.name + ")";
  }
  return hex32(code);
}

std::string narrow(const WCHAR* text) {
  std::string out;
  if (text == nullptr) return out;
  for (std::size_t i = 0; text[i] != 0; ++i) {
    std::uint32_t c = static_cast<std::uint16_t>(text[i]);
    if (c >= 0xD800 && c < 0xDC00 && text[i + 1] >= 0xDC00 && text[i + 1] < 0xE000) {
      c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<std::uint16_t>(text[i + 1]) - 0xDC00);
      ++i;
    }
    if (c < 0x80) {
      out += static_cast<char>(c);
    } else if (c < 0x800) {
      out += static_cast<char>(0xC0 | (c >> 6));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      out += static_cast<char>(0xE0 | (c >> 12));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (c >> 18));
      out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  return out;
}

std::u16string widen(const std::string& text) {
  std::u16string out;
  for (char c : text) out += static_cast<char16_t>(static_cast<unsigned char>(c));
  return out;
}

void TSPIAPI completionProc(DRV_REQUESTID dwRequestID, LONG lResult) {
  {
    std::lock_guard<std::mutex> guard(receivedLock);
    receivedCompletions.push_back({dwRequestID, lResult});
  }
  receivedSignal.notify_all();
  std::printf("<- completion: request %u result %s\n", static_cast<unsigned>(dwRequestID),
              resultText(lResult).c_str());
  std::fflush(stdout);
}

void TSPIAPI lineEventProc(HTAPILINE htLine, HTAPICALL htCall, DWORD dwMsg, DWORD_PTR dwParam1,
                           DWORD_PTR dwParam2, DWORD_PTR dwParam3) {
  char text[200];
  std::snprintf(text, sizeof text, "line event: htLine %p htCall %p msg %u params 0x%llx 0x%llx 0x%llx",
                static_cast<const void*>(htLine), static_cast<const void*>(htCall),
                static_cast<unsigned>(dwMsg), static_cast<unsigned long long>(dwParam1),
                static_cast<unsigned long long>(dwParam2), static_cast<unsigned long long>(dwParam3));
  {
    std::lock_guard<std::mutex> guard(receivedLock);
    receivedLineEvents.emplace_back(text);
  }
  receivedSignal.notify_all();
  if (lineEventObserver) {
    lineEventObserver(htLine, htCall, dwMsg, dwParam1, dwParam2, dwParam3);
    return;
  }
  std::printf("<- %s\n", text);
  std::fflush(stdout);
}

std::vector<Completion> completions() {
  std::lock_guard<std::mutex> guard(receivedLock);
  return receivedCompletions;
}

void setLineEventObserver(LineEventObserver observer) { lineEventObserver = std::move(observer); }

std::vector<std::string> lineEvents() {
  std::lock_guard<std::mutex> guard(receivedLock);
  return receivedLineEvents;
}

bool waitForCompletion(DRV_REQUESTID requestId, std::chrono::milliseconds timeout, LONG& result) {
  std::unique_lock<std::mutex> lock(receivedLock);
  bool found = receivedSignal.wait_for(lock, timeout, [&] {
    for (const auto& c : receivedCompletions) {
      if (c.requestId == requestId) {
        result = c.result;
        return true;
      }
    }
    return false;
  });
  return found;
}

bool loadProvider(Host& host, const std::string& path) {
  std::string error;
  if (!host.library.open(path, error)) {
    std::printf("!! cannot load %s: %s\n", path.c_str(), error.c_str());
    return false;
  }
  host.path = path;
  std::printf("loaded %s\n", path.c_str());
  return true;
}

bool negotiate(Host& host) {
  auto lineNegotiate = host.get<decltype(&TSPI_lineNegotiateTSPIVersion)>("TSPI_lineNegotiateTSPIVersion");
  auto phoneNegotiate = host.get<decltype(&TSPI_phoneNegotiateTSPIVersion)>("TSPI_phoneNegotiateTSPIVersion");
  if (lineNegotiate == nullptr || phoneNegotiate == nullptr) return false;
  DWORD version = 0;
  LONG rc = lineNegotiate(INITIALIZE_NEGOTIATION, kLowVersion, kHighVersion, &version);
  step("TSPI_lineNegotiateTSPIVersion(INITIALIZE_NEGOTIATION, " + hex32(kLowVersion) + ", " +
           hex32(kHighVersion) + ")",
       rc, rc == 0 ? "version " + hex32(version) : "");
  if (rc != 0) return false;
  host.tspiVersion = version;
  DWORD lineVersion = 0;
  rc = lineNegotiate(host.lineDeviceIdBase, kLowVersion, kHighVersion, &lineVersion);
  step("TSPI_lineNegotiateTSPIVersion(" + std::to_string(host.lineDeviceIdBase) + ", " + hex32(kLowVersion) +
           ", " + hex32(kHighVersion) + ")",
       rc, rc == 0 ? "version " + hex32(lineVersion) : "");
  if (rc != 0) return false;
  DWORD phoneVersion = 0;
  LONG prc = phoneNegotiate(host.phoneDeviceIdBase, kLowVersion, kHighVersion, &phoneVersion);
  step("TSPI_phoneNegotiateTSPIVersion(" + std::to_string(host.phoneDeviceIdBase) + ", " +
           hex32(kLowVersion) + ", " + hex32(kHighVersion) + ")",
       prc, prc == 0 ? "version " + hex32(phoneVersion) : "");
  return true;  // the phone is announced but not served; its answer does not stop the line
}

bool enumerateDevices(Host& host) {
  auto enumDevices = host.get<decltype(&TSPI_providerEnumDevices)>("TSPI_providerEnumDevices");
  if (enumDevices == nullptr) return false;
  DWORD lines = 0;
  DWORD phones = 0;
  LONG rc = enumDevices(host.permanentProviderId, &lines, &phones, nullptr, nullptr, nullptr);
  step("TSPI_providerEnumDevices(" + std::to_string(host.permanentProviderId) + ")", rc,
       "lines " + std::to_string(lines) + ", phones " + std::to_string(phones));
  host.numLines = lines;
  return rc == 0;
}

bool initProvider(Host& host) {
  auto init = host.get<decltype(&TSPI_providerInit)>("TSPI_providerInit");
  if (init == nullptr) return false;
  DWORD options = 0;
  LONG rc = init(host.tspiVersion, host.permanentProviderId, host.lineDeviceIdBase, host.phoneDeviceIdBase, 1,
                 1, &completionProc, &options);
  step("TSPI_providerInit(" + hex32(host.tspiVersion) + ", " + std::to_string(host.permanentProviderId) +
           ", line base " + std::to_string(host.lineDeviceIdBase) + ", phone base " +
           std::to_string(host.phoneDeviceIdBase) + ")",
       rc);
  host.initialised = rc == 0;
  return rc == 0;
}

bool openLine(Host& host) {
  auto lineOpen = host.get<decltype(&TSPI_lineOpen)>("TSPI_lineOpen");
  if (lineOpen == nullptr) return false;
  // Our own line handle is just an address the provider hands back in events.
  static int tapiLine;
  HDRVLINE hdLine = nullptr;
  LONG rc = lineOpen(host.lineDeviceIdBase, reinterpret_cast<HTAPILINE>(&tapiLine), &hdLine, host.tspiVersion,
                     &lineEventProc);
  char handle[40];
  std::snprintf(handle, sizeof handle, "hdLine %p", static_cast<const void*>(hdLine));
  step("TSPI_lineOpen(" + std::to_string(host.lineDeviceIdBase) + ")", rc, handle);
  host.hdLine = hdLine;
  host.lineOpen = rc == 0;
  return rc == 0;
}

bool closeLine(Host& host) {
  auto lineClose = host.get<decltype(&TSPI_lineClose)>("TSPI_lineClose");
  if (lineClose == nullptr) return false;
  LONG rc = lineClose(host.hdLine);
  step("TSPI_lineClose", rc);
  host.lineOpen = false;
  return rc == 0;
}

bool shutdownProvider(Host& host) {
  auto shutdown = host.get<decltype(&TSPI_providerShutdown)>("TSPI_providerShutdown");
  if (shutdown == nullptr) return false;
  LONG rc = shutdown(host.tspiVersion, host.permanentProviderId);
  step("TSPI_providerShutdown", rc);
  host.initialised = false;
  return rc == 0;
}

bool bringUp(Host& host, const std::string& path) {
  return loadProvider(host, path) && negotiate(host) && enumerateDevices(host) && initProvider(host) &&
         openLine(host);
}

bool tearDown(Host& host) {
  bool ok = true;
  if (host.lineOpen) ok = closeLine(host) && ok;
  if (host.initialised) ok = shutdownProvider(host) && ok;
  return ok;
}

}  // namespace qv::tsphost
