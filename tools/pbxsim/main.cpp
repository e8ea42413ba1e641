// pbxsim: a CSTA PBX for tests and the demo.
//   pbxsim [--port N] [--host H] [--tls | --tls-modern] [--password P] [--duration TEXT|none]
//          [--keepalive-duration TEXT|none] [--record FILE] [--makecall-error]
//          [--silent-makecall] [--silent-keepalive] [--split] [--coalesce]
//          [--flood N] [--cert PEM --key PEM] [--client-ca PEM] [--verbose]
//          [--silent] [--no-read] [--close-on-accept] [--alert-silent] [--alert-close]
//          [--stall] [--garbage] [--calls [--answer-delay MS] [--fail CAUSE] [--refuse-reconnect]]
//          [--devices FIRST-LAST] [--invoke-id binary|ascii] [--traffic CALLS_PER_SECOND]
// With --tls prints "pbxsim certificate sha256 AB:CD:..." (the fingerprint
// of its certificate), then "pbxsim listening on HOST:PORT" once ready.
// Commands on standard input, one a line: drop, refuse, listen, restart,
// badframe, quit; with --calls also: incoming NUMBER [NAME], desk NUMBER,
// failed NUMBER CAUSE, answer [CALLID], hangup [CALLID], unknown, malformed,
// device NUMBER (where the next calls start), leave CONFERENCE PARTY; and
// stamps ROOT (when each frame of that root was read, in steady-clock ns);
// with --calls, traffic CALLS_PER_SECOND (0 stops) and traffic (prints the
// calls started so far).
#include <iostream>
#include <memory>
#include <string>
#include <thread>

#include "tools/pbxsim/call_model.h"
#include "tools/pbxsim/pbx_messages.h"
#include "tools/pbxsim/pbx_simulator.h"
#include "tools/pbxsim/traffic.h"

namespace {

int usage() {
  std::cerr
      << "usage: pbxsim [--port N] [--host H] [--tls | --tls-modern] [--password P] [--duration TEXT|none]\n"
         "              [--keepalive-duration TEXT|none] [--record FILE] [--makecall-error]\n"
         "              [--silent-makecall] [--silent-keepalive] [--split] [--coalesce]\n"
         "              [--flood N] [--cert PEM --key PEM] [--client-ca PEM] [--verbose]\n"
         "              [--silent] [--no-read] [--close-on-accept] [--alert-silent] [--alert-close]\n"
         "              [--stall] [--garbage] [--calls [--answer-delay MS] [--fail CAUSE] "
         "[--refuse-reconnect]]\n"
         "              [--devices FIRST-LAST] [--invoke-id binary|ascii] [--traffic CALLS_PER_SECOND]\n";
  return 2;
}

std::optional<std::string> durationArgument(const std::string& value) {
  if (value == "none") return std::nullopt;
  return value;
}

}  // namespace

int main(int argc, char** argv) {
  qv::pbxsim::Options options;
  qv::pbxsim::Behaviour behaviour;
  qv::pbxsim::CallOptions callOptions;
  double traffic = 0;
  for (int i = 1; i < argc; ++i) {
    std::string arg = argv[i];
    auto value = [&]() -> std::string {
      if (i + 1 >= argc) throw std::invalid_argument(arg);
      return argv[++i];
    };
    try {
      if (arg == "--port")
        options.port = static_cast<std::uint16_t>(std::stoi(value()));
      else if (arg == "--host")
        options.host = value();
      else if (arg == "--tls")
        options.tls = true;
      else if (arg == "--tls-modern")
        options.tls = options.tlsModern = true;
      else if (arg == "--password")
        options.expectedPassword = value();
      else if (arg == "--record")
        options.recordPath = value();
      else if (arg == "--cert")
        options.certFile = value();
      else if (arg == "--key")
        options.keyFile = value();
      else if (arg == "--client-ca")
        options.clientCaFile = value();
      else if (arg == "--verbose")
        options.verbose = true;
      else if (arg == "--duration")
        behaviour.sessionDuration = durationArgument(value());
      else if (arg == "--keepalive-duration")
        behaviour.keepAliveDuration = durationArgument(value());
      else if (arg == "--makecall-error")
        behaviour.makeCallError = true;
      else if (arg == "--silent-makecall")
        behaviour.silentMakeCall = true;
      else if (arg == "--silent-keepalive")
        behaviour.silentKeepAlive = true;
      else if (arg == "--split")
        behaviour.splitAnswers = true;
      else if (arg == "--coalesce")
        behaviour.coalesceAnswers = true;
      else if (arg == "--calls")
        options.calls = true;
      else if (arg == "--invoke-id") {
        const std::string format = value();
        if (format != "ascii" && format != "binary") return usage();
        options.asciiInvokeIds = format == "ascii";
      } else if (arg == "--answer-delay")
        callOptions.answerDelayMs = std::stoi(value());
      else if (arg == "--fail")
        callOptions.failCause = value();
      else if (arg == "--refuse-reconnect")
        callOptions.refuseReconnect = true;
      else if (arg == "--flood")
        behaviour.floodEvents = std::stoi(value());
      else if (arg == "--silent")
        behaviour.silentAfterAccept = true;
      else if (arg == "--no-read")
        behaviour.stopReading = true;
      else if (arg == "--close-on-accept")
        behaviour.closeAfterAccept = true;
      else if (arg == "--alert-silent")
        behaviour.alertThenSilence = true;
      else if (arg == "--alert-close")
        behaviour.alertAndClose = true;
      else if (arg == "--stall")
        behaviour.stallMidFrame = true;
      else if (arg == "--garbage")
        behaviour.garbageAnswers = true;
      else if (arg == "--devices")
        options.devices = value();
      else if (arg == "--traffic")
        traffic = std::stod(value());
      else
        return usage();
    } catch (const std::exception&) {
      return usage();
    }
  }
  qv::pbxsim::Simulator simulator(options);
  simulator.SetBehaviour(behaviour);
  if (!simulator.Start()) {
    std::cerr << "pbxsim: cannot listen on " << options.host << ":" << options.port << "\n";
    return 1;
  }
  if (options.tls) std::cout << "pbxsim certificate sha256 " << simulator.CertificateFingerprint() << "\n";
  if (simulator.calls() != nullptr) simulator.calls()->SetOptions(callOptions);
  std::unique_ptr<qv::pbxsim::Traffic> generator;
  if (simulator.calls() != nullptr) {
    generator = std::make_unique<qv::pbxsim::Traffic>(*simulator.calls(),
                                                      qv::pbxsim::DevicesOfRange(options.devices));
    generator->SetRate(traffic);
  }
  std::cout << "pbxsim listening on " << options.host << ":" << simulator.port() << std::endl;
  std::string command;
  while (std::getline(std::cin, command)) {
    qv::pbxsim::CallSim* calls = simulator.calls();
    std::string word = command.substr(0, command.find(' '));
    std::string rest = word.size() < command.size() ? command.substr(word.size() + 1) : std::string();
    std::string first = rest.substr(0, rest.find(' '));
    std::string after = first.size() < rest.size() ? rest.substr(first.size() + 1) : std::string();
    if (calls != nullptr && word == "incoming")
      std::cout << "call " << calls->IncomingCall(first, after) << std::endl;
    else if (calls != nullptr && word == "offhook")
      std::cout << "call " << calls->DeskPhoneOffHook() << std::endl;
    else if (calls != nullptr && word == "desk")
      std::cout << "call " << calls->DeskPhoneCall(first) << std::endl;
    else if (calls != nullptr && word == "failed")
      std::cout << "call " << calls->FailedCall(first, after.empty() ? "busy" : after) << std::endl;
    else if (calls != nullptr && word == "answer")
      calls->FarEndAnswers(first);
    else if (calls != nullptr && word == "hangup")
      calls->FarEndHangsUp(first);
    else if (calls != nullptr && word == "forward")  // forward TYPE on|off [DEST], set on the phone
      calls->PhoneSetsForwarding(first, after.substr(0, 2) == "on",
                                 after.size() > 3 ? after.substr(after.find(' ') + 1) : std::string());
    else if (calls != nullptr && word == "colleague")  // colleague DEVICE GROUP FROM: rings there
      std::cout << "call "
                << calls->RingColleague(first, after.substr(0, after.find(' ')),
                                        after.find(' ') == std::string::npos
                                            ? std::string()
                                            : after.substr(after.find(' ') + 1))
                << std::endl;
    else if (calls != nullptr && word == "device")  // device NUMBER: where the next calls start
      calls->UseDevice(first);
    else if (calls != nullptr && word == "leave")  // leave CONFERENCE PARTY: a party hangs up
      calls->PartyLeaves(first, after);
    else if (calls != nullptr && word == "dnd")
      calls->PhoneSetsDoNotDisturb(first == "on");
    else if (calls != nullptr && word == "unknown")
      calls->SendUnknownEvent();
    else if (calls != nullptr && word == "malformed")
      calls->SendMalformedEvent();
    else if (generator != nullptr && word == "traffic") {
      if (!first.empty()) generator->SetRate(std::stod(first));
      const qv::pbxsim::TrafficCounts n = generator->counts();
      std::cout << "traffic incoming " << n.incoming << " outgoing " << n.outgoing << std::endl;
    } else if (word == "stamps") {  // stamps ROOT: when each such frame was read, steady clock ns
      for (const qv::pbxsim::ReceivedFrame& f : simulator.frames()) {
        if (f.root == first)
          std::cout << "stamp " << f.invokeId << " " << f.receivedAt.time_since_epoch().count() << "\n";
      }
    } else if (command == "drop")
      simulator.DropConnections();
    else if (command == "refuse")
      simulator.StopListening();
    else if (command == "listen")
      simulator.ResumeListening();
    else if (command == "restart")
      simulator.Restart();
    else if (command == "badframe")
      simulator.SendRaw(std::string("\0\0\0\5\0\0\0\1", 8));
    else if (command == "quit")
      break;
    else if (!command.empty())
      std::cerr << "pbxsim: unknown command " << command << "\n";
    std::cout << "ok " << command << std::endl;
  }
  // Without a command stream (background run) serve until killed.
  if (!std::cin) {
    for (;;) std::this_thread::sleep_for(std::chrono::hours(1));
  }
  generator.reset();
  simulator.Stop();
  return 0;
}
