#include <cstdio>

#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

int runDial(const std::vector<std::string>& /*args*/) {
  std::printf("tsphost dial: not available yet\n");
  return 2;
}

}  // namespace qv::tsphost
