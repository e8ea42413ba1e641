// tsphost monitor: opens the line like a call-control application, prints
// every call the provider reports (new calls, states with their modes, the
// identities from LINECALLINFO, completions) and controls calls from typed
// commands. Reads commands from standard input until "quit" or its end.
// Events and completions are printed by one thread in the order they came,
// and never in the middle of a command's own request line.
#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <cstring>
#include <deque>
#include <iostream>
#include <map>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tools/tsphost/call_names.h"
#include "tools/tsphost/provider_choice.h"
#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

namespace {

constexpr const char* kHelp =
    "commands: dial <number> | answer [#n] | drop [#n] | hold [#n] | unhold [#n]\n"
    "          transfer [#n] <number> | redirect [#n] <number> | close [#n] | status [#n]\n"
    "          consult [#n] | dial #n <number> | swap [#n] | complete [#n] [conference]\n"
    "          conference [#n] | add [#n] | remove [#n] | digits [#n] <0-9*#>\n"
    "          (conference: a conference from the call and a call to add; add on the call to add\n"
    "          joins it, add on a conference call prepares the next one)\n"
    "          pickup <number> | pickup group <id> | forward uncond|busy|noanswer|busyna <number>\n"
    "          forward off | dnd on|off   (forward and dnd replace the whole forwarding)\n"
    "          forwarding (the line's calls, forwarding and do-not-disturb)\n"
    "          line <n> (with several lines: the line dial, pickup and forward act on)\n"
    "          calls | wait <ms> | help | quit   (#n: a call number; default: the newest call)\n";

struct MonitoredCall {
  HDRVCALL hdCall = nullptr;
  DWORD state = 0;
  int partner = 0;     // the other call of a consultation
  int conference = 0;  // a call to add: its conference call
};

struct LineMessage {
  int line = 0;  // the line's device offset, with several lines open
  int call = 0;  // our number, from htCall
  DWORD message = 0;
  DWORD_PTR param1 = 0, param2 = 0, param3 = 0;
};
// Not a line message: a completion (param1 the request, param2 the result).
constexpr DWORD kCompletion = 0xFFFFFFFFu;

class Monitor {
 public:
  explicit Monitor(Host& host) : host_(host) {}

  // Runs on the provider's delivery thread: only records and hands over.
  void OnLineEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                   DWORD_PTR p3) {
    std::lock_guard guard(lock_);
    // Lines this monitor opened itself carry their device offset + 1.
    const int line = many_ ? static_cast<int>(reinterpret_cast<std::uintptr_t>(htLine)) - 1 : 0;
    LineMessage m{line, static_cast<int>(reinterpret_cast<std::uintptr_t>(htCall)), message, p1, p2, p3};
    if (message == LINE_NEWCALL) {
      // TAPI names the new call by writing its handle back before returning.
      m.call = nextNumber_++;
      calls_[m.call].hdCall = reinterpret_cast<HDRVCALL>(p1);
      if (p2 != 0) *reinterpret_cast<HTAPICALL*>(p2) = reinterpret_cast<HTAPICALL>(std::uintptr_t(m.call));
    }
    queue_.push_back(m);
    wake_.notify_all();
  }
  // Runs on the provider's delivery thread too.
  void OnCompletion(DRV_REQUESTID request, LONG result) {
    std::lock_guard guard(lock_);
    queue_.push_back({0, 0, kCompletion, static_cast<DWORD_PTR>(request),
                      static_cast<DWORD_PTR>(static_cast<DWORD>(result)), 0});
    wake_.notify_all();
  }

  void Start() {
    printer_ = std::thread([this] { PrintLoop(); });
  }
  // conference: TSPI_lineSetupConference from the call; add: the call to
  // add joins its conference, or a conference call gets the next call to add.
  // printLock_ is held by the caller.
  void Conference(const std::string& command, int number, HDRVCALL hdCall, const std::string& call,
                  DRV_REQUESTID request) {
    int conf = 0;
    HDRVCALL hdConf = nullptr;
    {
      std::lock_guard guard(lock_);
      conf = command == "add" ? calls_[number].conference : 0;
      if (conf != 0) hdConf = calls_[conf].hdCall;
    }
    if (conf != 0) {
      auto add = host_.get<decltype(&TSPI_lineAddToConference)>("TSPI_lineAddToConference");
      if (add != nullptr)
        Report("TSPI_lineAddToConference(conference call #" + std::to_string(conf) + ", " + call + ")",
               add(request, hdConf, hdCall), request);
      return;
    }
    int added = 0;
    {
      std::lock_guard guard(lock_);
      if (command == "conference") conf = nextNumber_++;
      added = nextNumber_++;
    }
    HDRVCALL hdAdded = nullptr;
    LONG rc = 0;
    std::string text;
    if (command == "conference") {
      auto setup = host_.get<decltype(&TSPI_lineSetupConference)>("TSPI_lineSetupConference");
      if (setup == nullptr) return;
      rc = setup(request, hdCall, CurrentLine(), reinterpret_cast<HTAPICALL>(std::uintptr_t(conf)), &hdConf,
                 reinterpret_cast<HTAPICALL>(std::uintptr_t(added)), &hdAdded, 3, nullptr);
      text = "TSPI_lineSetupConference(" + call + ", conference call #" + std::to_string(conf) +
             ", call to add #" + std::to_string(added) + ")";
    } else {
      auto prepare = host_.get<decltype(&TSPI_linePrepareAddToConference)>("TSPI_linePrepareAddToConference");
      if (prepare == nullptr) return;
      conf = number;
      hdConf = hdCall;
      rc = prepare(request, hdCall, reinterpret_cast<HTAPICALL>(std::uintptr_t(added)), &hdAdded, nullptr);
      text = "TSPI_linePrepareAddToConference(" + call + ", call to add #" + std::to_string(added) + ")";
    }
    if (rc == static_cast<LONG>(request)) {
      std::lock_guard guard(lock_);
      calls_[conf].hdCall = hdConf;
      calls_[added].hdCall = hdAdded;
      calls_[added].conference = conf;
    }
    Report(text, rc, request);
  }
  void Stop() {
    {
      std::lock_guard guard(lock_);
      stopping_ = true;
    }
    wake_.notify_all();
    if (printer_.joinable()) printer_.join();
  }

  bool Execute(const std::string& line);

  // Opens every line of a list (or only `only`), each named in the output;
  // a single line is opened as always.
  bool OpenLines(int only) {
    if (host_.numLines <= 1 && only < 0) return openLine(host_);
    auto lineOpen = host_.get<decltype(&TSPI_lineOpen)>("TSPI_lineOpen");
    if (lineOpen == nullptr) return false;
    many_ = true;
    for (DWORD i = 0; i < host_.numLines; ++i) {
      if (only >= 0 && i != static_cast<DWORD>(only)) continue;
      HDRVLINE hdLine = nullptr;
      const LONG rc = lineOpen(host_.lineDeviceIdBase + i, reinterpret_cast<HTAPILINE>(std::uintptr_t{i} + 1),
                               &hdLine, host_.tspiVersion, &lineEventProc);
      Say("-> TSPI_lineOpen(" + std::to_string(host_.lineDeviceIdBase + i) + ") = " + resultText(rc));
      if (rc != 0) return false;
      lines_.emplace_back(static_cast<int>(i), hdLine);
    }
    if (lines_.empty()) return false;
    host_.hdLine = lines_.front().second;
    host_.lineOpen = true;
    Say("commands act on line " + std::to_string(lines_.front().first) + "; 'line <n>' picks another");
    return true;
  }
  // All but the line teardown closes.
  void CloseOtherLines() {
    auto lineClose = host_.get<decltype(&TSPI_lineClose)>("TSPI_lineClose");
    for (const auto& [number, hdLine] : lines_) {
      if (hdLine != lines_.front().second && lineClose != nullptr)
        Say("-> TSPI_lineClose(line " + std::to_string(number) + ") = " + resultText(lineClose(hdLine)));
    }
  }

 private:
  void PrintLoop();
  void Print(const LineMessage& m);
  void PrintCallInfo(const std::string& head, HDRVCALL hdCall);
  void PrintStatus(int number, HDRVCALL hdCall);
  // LINEADDRESSSTATUS of the current line: call counts, forwarding, DND.
  void PrintForwarding();
  void Say(const std::string& text) {
    std::lock_guard guard(printLock_);
    std::printf("%s\n", text.c_str());
    std::fflush(stdout);
  }
  // The call a command names ("#2" or "2"), or the newest one.
  bool PickCall(std::istringstream& words, int& number, HDRVCALL& hdCall, std::string& rest);
  DRV_REQUESTID NextRequest() { return nextRequest_++; }
  // what: "TSPI_lineHold(call #1)"; remembered to name the completion.
  void Report(const std::string& what, LONG rc, DRV_REQUESTID request) {
    if (rc == static_cast<LONG>(request)) {
      std::lock_guard guard(lock_);
      requests_[request] = what;
    }
    Say("-> " + what + " request " + std::to_string(request) + " = " + resultText(rc) +
        (rc == static_cast<LONG>(request) ? " (completion follows)" : ""));
  }

  // The line commands act on.
  HDRVLINE CurrentLine() const { return lines_.empty() ? host_.hdLine : lines_[current_].second; }

  Host& host_;
  std::vector<std::pair<int, HDRVLINE>> lines_;  // device offset, handle (several lines)
  std::size_t current_ = 0;
  bool many_ = false;
  std::mutex lock_;  // calls_, queue_, numbers
  std::condition_variable wake_;
  std::deque<LineMessage> queue_;
  std::map<int, MonitoredCall> calls_;
  std::map<DRV_REQUESTID, std::string> requests_;
  int nextNumber_ = 1;
  bool stopping_ = false;
  std::thread printer_;
  // Held by a command across its TSPI call and its report line, so events
  // that call causes print after it. Callbacks never take it.
  std::recursive_mutex printLock_;
  DRV_REQUESTID nextRequest_ = 100;
};

std::string partyText(const LINECALLINFO* info, DWORD flags, DWORD size, DWORD offset, DWORD nameSize,
                      DWORD nameOffset) {
  auto text = [info](DWORD bytes, DWORD at) {
    if (bytes < 2 || at + bytes > info->dwUsedSize) return std::string();
    std::vector<WCHAR> units(bytes / 2 + 1, 0);
    std::memcpy(units.data(), reinterpret_cast<const char*>(info) + at, bytes);
    return narrow(units.data());
  };
  std::string out = partyIdFlagNames(flags);
  if (out.empty()) out = "-";
  std::string number = text(size, offset);
  std::string name = text(nameSize, nameOffset);
  if (!number.empty()) out += " \"" + number + "\"";
  if (!name.empty()) out += " (" + name + ")";
  return out;
}

void Monitor::PrintCallInfo(const std::string& head, HDRVCALL hdCall) {
  auto getInfo = host_.get<decltype(&TSPI_lineGetCallInfo)>("TSPI_lineGetCallInfo");
  std::vector<std::uint64_t> storage(1024);  // 8 KiB, aligned
  auto* info = reinterpret_cast<LINECALLINFO*>(storage.data());
  info->dwTotalSize = static_cast<DWORD>(storage.size() * sizeof(std::uint64_t));
  LONG rc = getInfo != nullptr ? getInfo(hdCall, info) : -1;
  if (rc != 0) {
    Say(head + ": TSPI_lineGetCallInfo = " + resultText(rc));
    return;
  }
  Say(head + "\n     origin " + callOriginNames(info->dwOrigin) + ", reason " +
      callReasonNames(info->dwReason) + ", call id " + std::to_string(info->dwCallID) + "\n     caller    " +
      partyText(info, info->dwCallerIDFlags, info->dwCallerIDSize, info->dwCallerIDOffset,
                info->dwCallerIDNameSize, info->dwCallerIDNameOffset) +
      "\n     called    " +
      partyText(info, info->dwCalledIDFlags, info->dwCalledIDSize, info->dwCalledIDOffset,
                info->dwCalledIDNameSize, info->dwCalledIDNameOffset) +
      "\n     connected " +
      partyText(info, info->dwConnectedIDFlags, info->dwConnectedIDSize, info->dwConnectedIDOffset,
                info->dwConnectedIDNameSize, info->dwConnectedIDNameOffset));
}

void Monitor::PrintForwarding() {
  auto getStatus = host_.get<decltype(&TSPI_lineGetAddressStatus)>("TSPI_lineGetAddressStatus");
  std::vector<std::uint64_t> storage(256);
  auto* status = reinterpret_cast<LINEADDRESSSTATUS*>(storage.data());
  status->dwTotalSize = static_cast<DWORD>(storage.size() * sizeof(std::uint64_t));
  const LONG rc = getStatus != nullptr ? getStatus(CurrentLine(), 0, status) : -1;
  if (rc != 0) {
    Say("-> TSPI_lineGetAddressStatus = " + resultText(rc));
    return;
  }
  // Entries of the negotiated version: six DWORDs each.
  const auto* base = reinterpret_cast<const unsigned char*>(status);
  auto word = [&](std::size_t at) {
    DWORD v;
    std::memcpy(&v, base + at, sizeof v);
    return v;
  };
  std::string entries;
  for (DWORD i = 0; i < status->dwForwardNumEntries; ++i) {
    const std::size_t e = status->dwForwardOffset + i * 24u;
    const DWORD mode = word(e);
    const DWORD size = word(e + 16), offset = word(e + 20);
    std::u16string to;
    for (DWORD k = 0; k + 3 < size && offset + k + 1 < status->dwUsedSize; k += 2)
      to.push_back(static_cast<char16_t>(base[offset + k] | base[offset + k + 1] << 8));
    const std::string name = mode == LINEFORWARDMODE_UNCOND   ? "UNCOND"
                             : mode == LINEFORWARDMODE_BUSY   ? "BUSY"
                             : mode == LINEFORWARDMODE_NOANSW ? "NOANSW"
                             : mode == LINEFORWARDMODE_BUSYNA ? "BUSYNA"
                                                              : hex32(mode);
    entries += (entries.empty() ? "" : ", ") +
               (to.empty() && mode == LINEFORWARDMODE_UNCOND
                    ? std::string("do-not-disturb")
                    : name + " to " + narrow(reinterpret_cast<const WCHAR*>(to.c_str())));
  }
  Say("   calls: " + std::to_string(status->dwNumActiveCalls) + " active, " +
      std::to_string(status->dwNumOnHoldCalls) + " on hold, " + std::to_string(status->dwNumOnHoldPendCalls) +
      " on hold pending; forwarding: " + (entries.empty() ? "none" : entries));
}

void Monitor::PrintStatus(int number, HDRVCALL hdCall) {
  auto getStatus = host_.get<decltype(&TSPI_lineGetCallStatus)>("TSPI_lineGetCallStatus");
  std::vector<std::uint64_t> storage(128);
  auto* status = reinterpret_cast<LINECALLSTATUS*>(storage.data());
  status->dwTotalSize = static_cast<DWORD>(storage.size() * sizeof(std::uint64_t));
  LONG rc = getStatus != nullptr ? getStatus(hdCall, status) : -1;
  if (rc != 0) {
    Say("-> TSPI_lineGetCallStatus(call #" + std::to_string(number) + ") = " + resultText(rc));
    return;
  }
  std::string mode = callStateModeNames(status->dwCallState, status->dwCallStateMode);
  Say("   call #" + std::to_string(number) + ": " + callStateName(status->dwCallState) +
      (mode.empty() ? "" : " (" + mode + ")") + ", features " + callFeatureNames(status->dwCallFeatures));
}

void Monitor::Print(const LineMessage& m) {
  HDRVCALL hdCall = nullptr;
  {
    std::lock_guard guard(lock_);
    auto it = calls_.find(m.call);
    if (it != calls_.end()) {
      hdCall = it->second.hdCall;
      if (m.message == LINE_CALLSTATE) it->second.state = static_cast<DWORD>(m.param1);
    }
  }
  const std::string call =
      "call #" + std::to_string(m.call) + (many_ ? " on line " + std::to_string(m.line) : "");
  switch (m.message) {
    case kCompletion: {
      // A command names its request once its TSPI call returned; it holds
      // printLock_ until then.
      std::lock_guard ordered(printLock_);
      std::string what;
      {
        std::lock_guard guard(lock_);
        auto it = requests_.find(static_cast<DRV_REQUESTID>(m.param1));
        if (it != requests_.end()) {
          what = " " + it->second;
          requests_.erase(it);
        }
      }
      Say("<- completion of request " + std::to_string(m.param1) + what + ": " +
          resultText(static_cast<LONG>(static_cast<DWORD>(m.param2))));
      return;
    }
    case LINE_NEWCALL:
      // An application looks at a new call's parties at once.
      if (hdCall != nullptr)
        PrintCallInfo("<- LINE_NEWCALL " + call, hdCall);
      else
        Say("<- LINE_NEWCALL " + call + " without a call handle");
      return;
    case LINE_CALLSTATE: {
      auto state = static_cast<std::uint32_t>(m.param1);
      std::string mode = callStateModeNames(state, static_cast<std::uint32_t>(m.param2));
      Say("<- LINE_CALLSTATE " + call + " " + callStateName(state) + (mode.empty() ? "" : " (" + mode + ")"));
      if (state == LINECALLSTATE_IDLE && hdCall != nullptr) {
        // An application deallocates an idle call; TAPI then closes it.
        auto closeCall = host_.get<decltype(&TSPI_lineCloseCall)>("TSPI_lineCloseCall");
        LONG rc = closeCall != nullptr ? closeCall(hdCall) : -1;
        Say("-> TSPI_lineCloseCall(" + call + ") = " + resultText(rc));
        std::lock_guard guard(lock_);
        calls_.erase(m.call);
      }
      return;
    }
    case LINE_GENERATE:
      Say("<- LINE_GENERATE " + call +
          (m.param1 == LINEGENERATETERM_DONE     ? " DONE"
           : m.param1 == LINEGENERATETERM_CANCEL ? " CANCEL"
                                                 : " " + std::to_string(m.param1)) +
          " (digits of request " + std::to_string(m.param2) + ")");
      return;
    case LINE_CALLINFO:
      if (hdCall != nullptr)
        PrintCallInfo("<- LINE_CALLINFO " + call + " " + callInfoStateNames(static_cast<DWORD>(m.param1)),
                      hdCall);
      return;
    default: {
      char text[160];
      std::snprintf(text, sizeof text, "<- line message %u %s params 0x%llx 0x%llx 0x%llx",
                    static_cast<unsigned>(m.message), call.c_str(), static_cast<unsigned long long>(m.param1),
                    static_cast<unsigned long long>(m.param2), static_cast<unsigned long long>(m.param3));
      Say(text);
    }
  }
}

void Monitor::PrintLoop() {
  for (;;) {
    LineMessage m;
    {
      std::unique_lock guard(lock_);
      wake_.wait(guard, [this] { return stopping_ || !queue_.empty(); });
      if (queue_.empty()) return;
      m = queue_.front();
      queue_.pop_front();
    }
    Print(m);
  }
}

bool Monitor::PickCall(std::istringstream& words, int& number, HDRVCALL& hdCall, std::string& rest) {
  std::string first;
  words >> first;
  std::lock_guard guard(lock_);
  number = calls_.empty() ? 0 : calls_.rbegin()->first;
  if (!first.empty() &&
      (first[0] == '#' || (first[0] >= '0' && first[0] <= '9' && calls_.count(std::atoi(first.c_str()))))) {
    number = std::atoi(first.c_str() + (first[0] == '#' ? 1 : 0));
  } else {
    rest = first;
  }
  std::string more;
  if (words >> more) rest = more;
  auto it = calls_.find(number);
  if (it == calls_.end()) return false;
  hdCall = it->second.hdCall;
  return true;
}

bool Monitor::Execute(const std::string& line) {
  std::istringstream words(line);
  std::string command;
  if (!(words >> command)) return true;
  if (command == "quit" || command == "exit") return false;
  if (command == "help") {
    Say(kHelp);
    return true;
  }
  if (command == "wait") {
    int ms = 0;
    words >> ms;
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
    return true;
  }
  if (command == "calls") {
    std::vector<std::pair<int, HDRVCALL>> known;
    {
      std::lock_guard guard(lock_);
      for (const auto& [number, call] : calls_) known.emplace_back(number, call.hdCall);
    }
    if (known.empty()) Say("   no calls");
    for (const auto& [number, hdCall] : known) PrintStatus(number, hdCall);
    return true;
  }
  if (command == "forward" || command == "dnd") {
    std::string mode;
    std::string number;
    words >> mode >> number;
    struct Mode {
      const char* name;
      DWORD mode;
    };
    static constexpr Mode kModes[] = {{"uncond", LINEFORWARDMODE_UNCOND},
                                      {"busy", LINEFORWARDMODE_BUSY},
                                      {"noanswer", LINEFORWARDMODE_NOANSW},
                                      {"busyna", LINEFORWARDMODE_BUSYNA}};
    DWORD forwardMode = 0;
    for (const Mode& m : kModes) forwardMode = mode == m.name ? m.mode : forwardMode;
    const bool cancel = (command == "forward" && mode == "off") || (command == "dnd" && mode == "off");
    if (!cancel && (command == "dnd" ? mode != "on" : forwardMode == 0 || number.empty())) {
      Say("usage: forward uncond|busy|noanswer|busyna <number> | forward off | dnd on|off");
      return true;
    }
    // One entry of six DWORDs (the 0x00020002 layout), its destination after it.
    std::vector<unsigned char> list(8 + 24 + 2 * (number.size() + 1), 0);
    auto put = [&](std::size_t at, DWORD v) { std::memcpy(list.data() + at, &v, sizeof v); };
    put(0, static_cast<DWORD>(list.size()));
    put(4, cancel ? 0 : 1);
    put(8, command == "dnd" ? LINEFORWARDMODE_UNCOND : forwardMode);
    if (command == "forward" && !cancel) {
      put(8 + 16, static_cast<DWORD>(2 * (number.size() + 1)));
      put(8 + 20, 32);
      for (std::size_t i = 0; i < number.size(); ++i)
        list[32 + 2 * i] = static_cast<unsigned char>(number[i]);
    }
    auto forward = host_.get<decltype(&TSPI_lineForward)>("TSPI_lineForward");
    if (forward == nullptr) return true;
    HDRVCALL consult = nullptr;
    DRV_REQUESTID request = NextRequest();
    std::lock_guard ordered(printLock_);
    Report("TSPI_lineForward(" + line + ")",
           forward(request, CurrentLine(), 0, 0, reinterpret_cast<LPLINEFORWARDLIST>(list.data()), 0, nullptr,
                   &consult, nullptr),
           request);
    return true;
  }
  if (command == "pickup") {
    std::string first;
    std::string group;
    words >> first >> group;
    const bool byGroup = first == "group";
    std::u16string target = widen(byGroup ? group : first);
    auto pickup = host_.get<decltype(&TSPI_linePickup)>("TSPI_linePickup");
    if (target.empty() || pickup == nullptr) {
      Say("usage: pickup <number> | pickup group <id>");
      return true;
    }
    int ours = 0;
    {
      std::lock_guard guard(lock_);
      ours = nextNumber_++;
    }
    HDRVCALL hdCall = nullptr;
    auto text = reinterpret_cast<LPCWSTR>(target.c_str());
    DRV_REQUESTID request = NextRequest();
    std::lock_guard ordered(printLock_);
    LONG rc = pickup(request, CurrentLine(), 0, reinterpret_cast<HTAPICALL>(std::uintptr_t(ours)), &hdCall,
                     byGroup ? nullptr : text, byGroup ? text : nullptr);
    if (rc == static_cast<LONG>(request)) {
      std::lock_guard guard(lock_);
      calls_[ours].hdCall = hdCall;
    }
    Report(
        "TSPI_linePickup(call #" + std::to_string(ours) + ", " + (byGroup ? "group " + group : first) + ")",
        rc, request);
    return true;
  }
  if (command == "dial" && words.peek() != EOF && (words >> std::ws).peek() == '#') {
    // Dialling on a call TAPI already has: the consultation call.
    std::string which;
    std::string number;
    words >> which;
    std::getline(words >> std::ws, number);
    const int ours = std::atoi(which.c_str() + 1);
    HDRVCALL hdCall = nullptr;
    {
      std::lock_guard guard(lock_);
      auto it = calls_.find(ours);
      if (it != calls_.end()) hdCall = it->second.hdCall;
    }
    auto dial = host_.get<decltype(&TSPI_lineDial)>("TSPI_lineDial");
    if (hdCall == nullptr || number.empty() || dial == nullptr) {
      Say("usage: dial #n <number>");
      return true;
    }
    std::u16string destination = widen(number);
    DRV_REQUESTID request = NextRequest();
    std::lock_guard ordered(printLock_);
    Report("TSPI_lineDial(call #" + std::to_string(ours) + ", \"" + number + "\")",
           dial(request, hdCall, reinterpret_cast<LPCWSTR>(destination.c_str()), 0), request);
    return true;
  }
  if (command == "forwarding") {
    PrintForwarding();
    return true;
  }
  if (command == "line") {
    int wanted = -1;
    words >> wanted;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
      if (lines_[i].first != wanted) continue;
      current_ = i;
      Say("commands act on line " + std::to_string(wanted));
      return true;
    }
    Say("!! no such line open");
    return true;
  }
  if (command == "dial") {
    std::string number;
    std::getline(words >> std::ws, number);
    auto makeCall = host_.get<decltype(&TSPI_lineMakeCall)>("TSPI_lineMakeCall");
    if (number.empty() || makeCall == nullptr) {
      Say("usage: dial <number>");
      return true;
    }
    int ours = 0;
    {
      std::lock_guard guard(lock_);
      ours = nextNumber_++;
    }
    HDRVCALL hdCall = nullptr;
    std::u16string destination = widen(number);
    DRV_REQUESTID request = NextRequest();
    std::lock_guard ordered(printLock_);
    LONG rc = makeCall(request, CurrentLine(), reinterpret_cast<HTAPICALL>(std::uintptr_t(ours)), &hdCall,
                       reinterpret_cast<LPCWSTR>(destination.c_str()), 0, nullptr);
    if (rc == static_cast<LONG>(request)) {
      std::lock_guard guard(lock_);
      calls_[ours].hdCall = hdCall;
    }
    Report("TSPI_lineMakeCall(call #" + std::to_string(ours) + ", \"" + number + "\")", rc, request);
    return true;
  }

  int number = 0;
  HDRVCALL hdCall = nullptr;
  std::string argument;
  if (!PickCall(words, number, hdCall, argument)) {
    Say("!! no such call; 'calls' lists them");
    return true;
  }
  const std::string call = "call #" + std::to_string(number);
  DRV_REQUESTID request = NextRequest();
  std::lock_guard ordered(printLock_);
  if (command == "answer") {
    auto answer = host_.get<decltype(&TSPI_lineAnswer)>("TSPI_lineAnswer");
    if (answer != nullptr)
      Report("TSPI_lineAnswer(" + call + ")", answer(request, hdCall, nullptr, 0), request);
  } else if (command == "drop") {
    auto drop = host_.get<decltype(&TSPI_lineDrop)>("TSPI_lineDrop");
    if (drop != nullptr) Report("TSPI_lineDrop(" + call + ")", drop(request, hdCall, nullptr, 0), request);
  } else if (command == "hold") {
    auto hold = host_.get<decltype(&TSPI_lineHold)>("TSPI_lineHold");
    if (hold != nullptr) Report("TSPI_lineHold(" + call + ")", hold(request, hdCall), request);
  } else if (command == "unhold") {
    auto unhold = host_.get<decltype(&TSPI_lineUnhold)>("TSPI_lineUnhold");
    if (unhold != nullptr) Report("TSPI_lineUnhold(" + call + ")", unhold(request, hdCall), request);
  } else if (command == "transfer" || command == "redirect") {
    if (argument.empty()) {
      Say("usage: " + command + " [#n] <number>");
      return true;
    }
    std::u16string destination = widen(argument);
    auto target = reinterpret_cast<LPCWSTR>(destination.c_str());
    if (command == "transfer") {
      auto transfer = host_.get<decltype(&TSPI_lineBlindTransfer)>("TSPI_lineBlindTransfer");
      if (transfer != nullptr)
        Report("TSPI_lineBlindTransfer(" + call + ", \"" + argument + "\")",
               transfer(request, hdCall, target, 0), request);
    } else {
      auto redirect = host_.get<decltype(&TSPI_lineRedirect)>("TSPI_lineRedirect");
      if (redirect != nullptr)
        Report("TSPI_lineRedirect(" + call + ", \"" + argument + "\")", redirect(request, hdCall, target, 0),
               request);
    }
  } else if (command == "consult") {
    auto setup = host_.get<decltype(&TSPI_lineSetupTransfer)>("TSPI_lineSetupTransfer");
    if (setup == nullptr) return true;
    int consult = 0;
    {
      std::lock_guard guard(lock_);
      consult = nextNumber_++;
    }
    HDRVCALL hdConsult = nullptr;
    LONG rc =
        setup(request, hdCall, reinterpret_cast<HTAPICALL>(std::uintptr_t(consult)), &hdConsult, nullptr);
    if (rc == static_cast<LONG>(request)) {
      std::lock_guard guard(lock_);
      calls_[consult].hdCall = hdConsult;
      calls_[consult].partner = number;
      calls_[number].partner = consult;
    }
    Report("TSPI_lineSetupTransfer(" + call + ", consultation call #" + std::to_string(consult) + ")", rc,
           request);
  } else if (command == "swap" || command == "complete") {
    // The pair of a consultation: the call named and its partner.
    int other = 0;
    HDRVCALL hdOther = nullptr;
    bool namedIsHeld = false;
    {
      std::lock_guard guard(lock_);
      other = calls_[number].partner;
      auto it = calls_.find(other);
      if (it != calls_.end()) hdOther = it->second.hdCall;
      namedIsHeld = calls_[number].state == LINECALLSTATE_ONHOLDPENDTRANSFER;
    }
    if (hdOther == nullptr) {
      Say("!! call #" + std::to_string(number) + " has no consultation partner");
      return true;
    }
    const int held = namedIsHeld ? number : other;
    const int active = namedIsHeld ? other : number;
    HDRVCALL hdHeld = namedIsHeld ? hdCall : hdOther;
    HDRVCALL hdActive = namedIsHeld ? hdOther : hdCall;
    const std::string pair = "call #" + std::to_string(held) + ", call #" + std::to_string(active);
    if (command == "swap") {
      auto swap = host_.get<decltype(&TSPI_lineSwapHold)>("TSPI_lineSwapHold");
      if (swap != nullptr)
        Report("TSPI_lineSwapHold(call #" + std::to_string(active) + ", call #" + std::to_string(held) + ")",
               swap(request, hdActive, hdHeld), request);
    } else {
      auto complete = host_.get<decltype(&TSPI_lineCompleteTransfer)>("TSPI_lineCompleteTransfer");
      if (complete == nullptr) return true;
      const bool conference = argument == "conference";
      int conf = 0;
      HDRVCALL hdConf = nullptr;
      if (conference) {
        std::lock_guard guard(lock_);
        conf = nextNumber_++;
      }
      LONG rc = complete(request, hdHeld, hdActive, reinterpret_cast<HTAPICALL>(std::uintptr_t(conf)),
                         conference ? &hdConf : nullptr,
                         conference ? LINETRANSFERMODE_CONFERENCE : LINETRANSFERMODE_TRANSFER);
      if (conference && rc == static_cast<LONG>(request)) {
        std::lock_guard guard(lock_);
        calls_[conf].hdCall = hdConf;
      }
      Report("TSPI_lineCompleteTransfer(" + pair +
                 (conference ? ", CONFERENCE, conference call #" + std::to_string(conf) : ", TRANSFER") + ")",
             rc, request);
    }
  } else if (command == "conference" || command == "add") {
    Conference(command, number, hdCall, call, request);
  } else if (command == "remove") {
    auto remove = host_.get<decltype(&TSPI_lineRemoveFromConference)>("TSPI_lineRemoveFromConference");
    if (remove != nullptr)
      Report("TSPI_lineRemoveFromConference(" + call + ")", remove(request, hdCall), request);
  } else if (command == "digits") {
    auto generate = host_.get<decltype(&TSPI_lineGenerateDigits)>("TSPI_lineGenerateDigits");
    if (argument.empty() || generate == nullptr) {
      Say("usage: digits [#n] <digits>");
      return true;
    }
    std::u16string digits = widen(argument);
    // Synchronous: LINE_GENERATE (with request as its end-to-end id) follows.
    Say("-> TSPI_lineGenerateDigits(" + call + ", \"" + argument + "\") = " +
        resultText(
            generate(hdCall, request, LINEDIGITMODE_DTMF, reinterpret_cast<LPCWSTR>(digits.c_str()), 0)));
  } else if (command == "close") {
    auto closeCall = host_.get<decltype(&TSPI_lineCloseCall)>("TSPI_lineCloseCall");
    if (closeCall != nullptr) {
      Say("-> TSPI_lineCloseCall(" + call + ") = " + resultText(closeCall(hdCall)));
      std::lock_guard guard(lock_);
      calls_.erase(number);
    }
  } else if (command == "status") {
    PrintStatus(number, hdCall);
  } else {
    Say(std::string("!! unknown command; ") + kHelp);
  }
  return true;
}

// The completion procedure handed to the provider: completions go through
// the monitor's queue, so they print in order with the line events.
std::atomic<Monitor*> activeMonitor{nullptr};

void TSPIAPI monitorCompletion(DRV_REQUESTID request, LONG result) {
  if (Monitor* monitor = activeMonitor.load()) monitor->OnCompletion(request, result);
}

bool initMonitored(Host& host) {
  auto init = host.get<decltype(&TSPI_providerInit)>("TSPI_providerInit");
  if (init == nullptr) return false;
  DWORD options = 0;
  LONG rc = init(host.tspiVersion, host.permanentProviderId, host.lineDeviceIdBase, host.phoneDeviceIdBase,
                 host.numLines > 0 ? host.numLines : 1, 1, &monitorCompletion, &options);
  std::printf("-> TSPI_providerInit(%s, %u, line base %u, phone base %u) = %s\n",
              hex32(host.tspiVersion).c_str(), static_cast<unsigned>(host.permanentProviderId),
              static_cast<unsigned>(host.lineDeviceIdBase), static_cast<unsigned>(host.phoneDeviceIdBase),
              resultText(rc).c_str());
  host.initialised = rc == 0;
  return rc == 0;
}

}  // namespace

int runMonitor(const std::vector<std::string>& args) {
  // --line N: only that line of a list of lines; otherwise all of them.
  std::vector<std::string> rest;
  int only = -1;
  for (std::size_t i = 0; i < args.size(); ++i) {
    if (args[i] == "--line" && i + 1 < args.size()) {
      only = std::atoi(args[++i].c_str());
    } else {
      rest.push_back(args[i]);
    }
  }
  const std::vector<std::string> providers = chooseProviders(rest);
  if (providers.empty()) {
    std::printf("usage: tsphost monitor [provider file] [--line N]   (commands on standard input)\n");
    return 2;
  }
  Host host;
  Monitor monitor(host);
  setLineEventObserver(
      [&monitor](HTAPILINE htLine, HTAPICALL htCall, DWORD message, DWORD_PTR p1, DWORD_PTR p2,
                 DWORD_PTR p3) { monitor.OnLineEvent(htLine, htCall, message, p1, p2, p3); });
  activeMonitor = &monitor;
  monitor.Start();
  bool ok = loadProvider(host, providers.front()) && negotiate(host) && enumerateDevices(host) &&
            initMonitored(host) && monitor.OpenLines(only);
  if (ok) {
    std::printf("%s", kHelp);
    std::fflush(stdout);
    std::string line;
    while (std::getline(std::cin, line)) {
      if (!line.empty() && line.back() == '\r') line.pop_back();
      if (!monitor.Execute(line)) break;
    }
  }
  monitor.CloseOtherLines();
  ok = tearDown(host) && ok;
  activeMonitor = nullptr;  // no completion comes after TSPI_providerShutdown
  monitor.Stop();
  setLineEventObserver({});
  return ok ? 0 : 1;
}

}  // namespace qv::tsphost
