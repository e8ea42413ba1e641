#pragma once
// Time limits of the PBX session. Fixed in the product; tests shorten them.
#include <chrono>
#include <cstdint>

namespace qv {

struct SessionTiming {
  std::chrono::milliseconds completionTimeout{30000};       // MakeCall without an answer
  std::chrono::milliseconds keepAliveAnswerTimeout{30000};  // keep-alive without a positive answer
  std::chrono::milliseconds firstRetryDelay{1000};          // reconnect back-off, doubling...
  std::chrono::milliseconds maxRetryDelay{60000};           // ...up to this
  std::chrono::milliseconds loginTimeout{30000};            // connect to login answer, TLS handshake included
  std::chrono::milliseconds requestTimeout{30000};          // any request without an answer: the link is dead
  std::chrono::milliseconds connectTimeout{10000};          // name lookup and TCP connect of one attempt
};

SessionTiming CurrentSessionTiming();
void SetSessionTiming(const SessionTiming& timing);

}  // namespace qv
