#include <cstdio>

#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

int runConfig(const std::vector<std::string>& /*args*/) {
  std::printf("tsphost config: not available yet\n");
  return 2;
}

}  // namespace qv::tsphost
