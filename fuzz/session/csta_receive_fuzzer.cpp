// Hostile PBX bytes through the receive path: cut into chunks as the reader
// would deliver them, then framed, traced, parsed and dispatched.
#include <cstddef>
#include <cstdint>
#include <string>

#include "session/csta_profile.h"
#include "session/csta_responses.h"
#include "session/settings.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool configured = [] {
    qv::ProviderSettings s = qv::SettingsSnapshot();
    s.loglevel = 0;
    s.logfile.clear();
    qv::ReplaceSettings(s);
    return true;
  }();
  (void)configured;
  if (size == 0) return 0;
  // The first byte picks the receive size, so frames split at every place,
  // and its top bit the header's invoke-id format.
  std::size_t chunk = 1 + data[0] % 64;
  qv::SessionState state;
  state.messageBuffer.setFormat((data[0] & 0x80) != 0 ? qv::InvokeIdFormat::kAscii
                                                      : qv::InvokeIdFormat::kBinary);
  std::string bytes(reinterpret_cast<const char*>(data + 1), size - 1);
  for (std::size_t at = 0; at < bytes.size(); at += chunk) {
    state.receiveBuffer.append(bytes, at, chunk);
    qv::ProcessReceivedData(state);
  }
  return 0;
}
