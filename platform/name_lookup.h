#pragma once
// Name lookups for the portable socket code. The system's resolver cannot be
// cancelled and a dead DNS server can hold it for minutes, so a lookup that
// may go to the network runs on a thread of its own that the caller can stop
// waiting for. Only platform/ includes this.
#include <atomic>
#include <string>
#include <vector>

#include "platform/socket_os.h"

namespace qv::os {

// Stream addresses of host:service in the resolver's order; 0 or the
// resolver's error. passive: for listening (an empty host means any). Blocks
// for as long as the resolver does.
int resolveStream(const std::string& host, const std::string& service, bool passive,
                  std::vector<SocketAddress>& out);

enum class LookupEnd { kAnswered, kUnfinished };

// Resolves host:service for a connect, waiting at most timeoutMs (negative:
// no limit) and only while `cancel` is false. A numeric address is answered
// at once. kUnfinished when the wait ended first or too many earlier lookups
// still hang; the lookup then finishes unobserved on its own thread.
LookupEnd resolveForConnect(const std::string& host, const std::string& service,
                            const std::atomic<bool>& cancel, int timeoutMs, int& status,
                            std::vector<SocketAddress>& out);

}  // namespace qv::os
