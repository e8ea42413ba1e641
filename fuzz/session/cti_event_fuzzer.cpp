// Any sequence of PBX frames and TAPI actions on a live call model: no
// crash, bounded state, and no message for a call TAPI has closed (every
// message belongs to a call announced to, or placed by, TAPI in its slot's
// current life).
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "provider/call_model.h"
#include "session/csta_events.h"
#include "session/settings.h"

namespace {

struct Tracker {
  std::uint32_t known[qv::kCallTableSize] = {};
  bool live[qv::kCallTableSize] = {};
  bool taken[qv::kCallTableSize] = {};
};

void check(qv::CallModel& model, Tracker& t, const std::vector<qv::CtiMessage>& messages) {
  for (const qv::CtiMessage& m : messages) {
    if (m.slot < 0 || m.slot >= qv::kCallTableSize) std::abort();
    if (m.kind == qv::CtiMessage::Kind::kNewCall) {
      t.known[m.slot] = m.generation;
      t.live[m.slot] = true;
      continue;
    }
    if (!t.live[m.slot] || t.known[m.slot] != m.generation) std::abort();
  }
  if (model.WaitingEvents() > qv::CallModel::kMaxWaitingEvents) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  static bool configured = [] {
    qv::ProviderSettings s = qv::SettingsSnapshot();
    s.loglevel = 0;
    s.logfile.clear();
    qv::ReplaceSettings(s);
    return true;
  }();
  (void)configured;
  qv::CallModel model;
  model.Reset("201", "office");
  Tracker t;
  auto claim = [&]() -> int {
    for (int i = 0; i < qv::kCallTableSize; ++i) {
      if (!t.taken[i] && !model.Call(i).used) {
        t.taken[i] = true;
        return i;
      }
    }
    return -1;
  };
  // Records separated by NUL: a record starting with '!' is a TAPI action
  // (next byte: what, the one after: which slot), anything else a frame.
  std::string_view input(reinterpret_cast<const char*>(data), size);
  while (!input.empty()) {
    std::size_t end = input.find('\0');
    std::string_view record = input.substr(0, end);
    input = end == std::string_view::npos ? std::string_view() : input.substr(end + 1);
    if (record.size() >= 3 && record[0] == '!') {
      const int slot = static_cast<unsigned char>(record[2]) % qv::kCallTableSize;
      switch (record[1] % 5) {
        case 0:  // TAPI closes the call
          model.OnClosed(slot);
          t.live[slot] = false;
          t.taken[slot] = false;
          break;
        case 1:  // TAPI places a call in a free slot
          if (!t.taken[slot] && !model.Call(slot).used) {
            model.OnCallPlaced(slot);
            t.taken[slot] = true;
            t.live[slot] = true;
            t.known[slot] = model.Call(slot).generation;
          }
          break;
        case 2:
          model.OnCallIdentified(slot, std::string(record.substr(3)), "201");
          break;
        case 3:
          check(model, t, model.OnMakeCallCompleted(slot, (record[1] & 8) != 0, claim));
          break;
        case 4:
          check(model, t, model.OnLinkDown());
          break;
      }
      continue;
    }
    qv::ParsedCallEvent parsed = qv::ParseCallEvent(qv::parseXml(record, true));
    if (parsed.isEvent && parsed.valid) check(model, t, model.OnEvent(parsed.event, claim));
  }
  return 0;
}
