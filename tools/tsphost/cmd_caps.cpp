#include <cstdio>

#include "tools/tsphost/tsphost.h"

namespace qv::tsphost {

int runCaps(const std::vector<std::string>& /*args*/) {
  std::printf("tsphost caps: not available yet\n");
  return 2;
}

}  // namespace qv::tsphost
