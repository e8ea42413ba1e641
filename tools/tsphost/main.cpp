// tsphost: drives a telephony service provider the way the telephony
// service does, printing every call and what comes back.
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "tools/tsphost/tsphost.h"

namespace {

struct Command {
  const char* name;
  const char* help;
  int (*run)(const std::vector<std::string>&);
};

const Command commands[] = {
    {"lifecycle", "<provider>  negotiate, enumerate, init, open the line, query, close, shut down",
     qv::tsphost::runLifecycle},
    {"exports", "<provider>  check that the provider exports exactly its 117 entry points",
     qv::tsphost::runExports},
    {"identify", "<provider>  ask the provider for its user-interface module", qv::tsphost::runIdentify},
    {"dial", "<provider> ...  place a call through the provider", qv::tsphost::runDial},
    {"caps", "<provider> ...  show the line's capabilities and status", qv::tsphost::runCaps},
    {"config", "<provider> ...  open the provider's configuration dialog", qv::tsphost::runConfig},
    {"monitor", "[provider]  open the line, show its calls live and control them from typed commands",
     qv::tsphost::runMonitor},
    {"lines", "[provider]  list the provider's lines: device ID, name, address, permanent ID and GUID",
     qv::tsphost::runLines},
    {"pbxcert", "[provider]  show the PBX's certificate chain and what certpin/verifycert make of it",
     qv::tsphost::runPbxcert},
};

int usage() {
  std::printf("usage: tsphost <command> [arguments]\n\ncommands:\n");
  for (const auto& c : commands) std::printf("  %-10s %s\n", c.name, c.help);
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) return usage();
  std::vector<std::string> args(argv + 2, argv + argc);
  for (const auto& c : commands) {
    if (std::strcmp(argv[1], c.name) == 0) return c.run(args);
  }
  return usage();
}
