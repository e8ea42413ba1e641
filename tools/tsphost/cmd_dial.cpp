// tsphost dial: places one call through the provider the way an application
// does through TAPI, holds it, closes it, and shows the CSTA exchange from
// the provider's log.
#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "platform/registry.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

namespace {

int dialUsage() {
  std::printf(
      "usage: tsphost dial <provider> <number> [--hold SECONDS] [--country CODE] [--timeout SECONDS]\n"
      "       [--settle MS]\n"
      "  --hold     keep the call this long before closing it (default 0)\n"
      "  --timeout  how long to wait for the completion (default 40)\n"
      "  --settle   time for the PBX's last answers before shutting down (default 500)\n");
  return 2;
}

// The provider's log file, as its settings name it.
std::string providerLogFile() {
  RegistryValue value = readProviderValue("logfile");
  if (value.status != RegistryStatus::ok) return {};
  std::string path = value.data;
  while (!path.empty() && path.back() == '\0') path.pop_back();
  return path;
}

// Prints the log entries of the CSTA exchange (with their continuation
// lines) and the make/close traces.
void printExchange(const std::string& path) {
  if (path.empty()) {
    std::printf("(no log file configured: set loglevel 5 and logfile to see the CSTA exchange)\n");
    return;
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::printf("(cannot read the log file %s)\n", path.c_str());
    return;
  }
  std::printf("\n== CSTA exchange (from %s)\n", path.c_str());
  std::string line;
  bool inEntry = false;
  while (std::getline(in, line)) {
    while (!line.empty() && line.back() == '\r') line.pop_back();
    if (!line.empty() && line[0] == '[') {
      inEntry =
          line.find(" CSTA ") != std::string::npos || line.find("TSPI_lineMakeCall") != std::string::npos ||
          line.find("TSPI_lineCloseCall") != std::string::npos || line.find("onnect") != std::string::npos;
    }
    if (inEntry && !line.empty()) std::printf("%s\n", line.c_str());
  }
}

}  // namespace

int runDial(const std::vector<std::string>& args) {
  std::vector<std::string> positional;
  int holdSeconds = 0;
  DWORD country = 0;
  int timeoutSeconds = 40;
  int settleMs = 500;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto number = [&](int& out) {
      if (i + 1 >= args.size()) return false;
      try {
        out = std::stoi(args[++i]);
      } catch (const std::exception&) {
        return false;
      }
      return out >= 0;
    };
    int value = 0;
    if (a == "--hold") {
      if (!number(holdSeconds)) return dialUsage();
    } else if (a == "--country") {
      if (!number(value)) return dialUsage();
      country = static_cast<DWORD>(value);
    } else if (a == "--timeout") {
      if (!number(timeoutSeconds)) return dialUsage();
    } else if (a == "--settle") {
      if (!number(settleMs)) return dialUsage();
    } else if (a.rfind("--", 0) == 0) {
      return dialUsage();
    } else {
      positional.push_back(a);
    }
  }
  if (positional.size() != 2) return dialUsage();

  Host host;
  bool ok = bringUp(host, positional[0]);
  LONG completion = -1;
  if (ok) {
    auto makeCall = host.get<decltype(&TSPI_lineMakeCall)>("TSPI_lineMakeCall");
    auto closeCall = host.get<decltype(&TSPI_lineCloseCall)>("TSPI_lineCloseCall");
    ok = makeCall != nullptr && closeCall != nullptr;
    if (ok) {
      const DRV_REQUESTID requestId = 1;
      HDRVCALL hdCall = nullptr;
      std::u16string destination = widen(positional[1]);
      LONG rc = makeCall(requestId, host.hdLine, reinterpret_cast<HTAPICALL>(std::uintptr_t{0xCA11}), &hdCall,
                         reinterpret_cast<LPCWSTR>(destination.c_str()), country, nullptr);
      std::printf("-> TSPI_lineMakeCall(%u, \"%s\", country %u) = %s\n", static_cast<unsigned>(requestId),
                  positional[1].c_str(), static_cast<unsigned>(country), resultText(rc).c_str());
      std::fflush(stdout);
      if (rc == static_cast<LONG>(requestId)) {
        if (waitForCompletion(requestId, std::chrono::seconds(timeoutSeconds), completion)) {
          std::printf("completion of TSPI_lineMakeCall: %s\n", resultText(completion).c_str());
        } else {
          std::printf("!! no completion within %d s\n", timeoutSeconds);
        }
        if (completion == 0 && holdSeconds > 0) {
          std::printf("holding the call for %d s\n", holdSeconds);
          std::fflush(stdout);
          std::this_thread::sleep_for(std::chrono::seconds(holdSeconds));
        }
        LONG closed = closeCall(hdCall);
        std::printf("-> TSPI_lineCloseCall = %s\n", resultText(closed).c_str());
        std::fflush(stdout);
        std::this_thread::sleep_for(std::chrono::milliseconds(settleMs));
        ok = completion == 0 && closed == 0;
      } else {
        ok = false;
      }
    }
  }
  ok = tearDown(host) && ok;
  printExchange(providerLogFile());
  std::printf("%s\n", ok ? "call complete" : "call FAILED");
  return ok ? 0 : 1;
}

}  // namespace qv::tsphost
