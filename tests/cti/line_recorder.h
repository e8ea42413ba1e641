#pragma once
// What TAPI's completion and line-event procedures received, in order, for
// the call-control tests (natively and under wine). LINE_NEWCALL is given a
// handle as TAPI would give it.
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/tapi.h"

namespace qv {

using namespace std::chrono_literals;

struct LineMessage {
  HTAPILINE htLine;
  HTAPICALL htCall;
  DWORD msg;
  DWORD_PTR p1, p2, p3;
};

// What TAPI's procedures received, in order.
class Recorder {
 public:
  void Event(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2, DWORD_PTR p3) {
    std::lock_guard lock(lock_);
    if (msg == LINE_NEWCALL) {
      // TAPI hands out its handle for the new call.
      auto given = reinterpret_cast<HTAPICALL>(std::uintptr_t{0x7000} + newCalls_.size());
      *reinterpret_cast<HTAPICALL*>(p2) = given;
      newCalls_.push_back({given, reinterpret_cast<HDRVCALL>(p1)});
    }
    events_.push_back({htLine, htCall, msg, p1, p2, p3});
    changed_.notify_all();
  }
  void Completion(DRV_REQUESTID id, LONG result) {
    std::lock_guard lock(lock_);
    completions_.emplace_back(id, result);
    changed_.notify_all();
  }
  // The states reported for a call, in order.
  std::vector<DWORD> States(HTAPICALL ht) {
    std::lock_guard lock(lock_);
    std::vector<DWORD> out;
    for (const LineMessage& m : events_) {
      if (m.msg == LINE_CALLSTATE && m.htCall == ht) out.push_back(static_cast<DWORD>(m.p1));
    }
    return out;
  }
  bool WaitState(HTAPICALL ht, DWORD state, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const LineMessage& m : events_) {
        if (m.msg == LINE_CALLSTATE && m.htCall == ht && m.p1 == state) return true;
      }
      return false;
    });
  }
  // Waits until the call has had `count` state messages.
  bool WaitStates(HTAPICALL ht, std::size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
      std::size_t n = 0;
      for (const LineMessage& m : events_) n += m.msg == LINE_CALLSTATE && m.htCall == ht ? 1 : 0;
      return n >= count;
    });
  }
  DWORD ModeOf(HTAPICALL ht, DWORD state) {
    std::lock_guard lock(lock_);
    for (const LineMessage& m : events_) {
      if (m.msg == LINE_CALLSTATE && m.htCall == ht && m.p1 == state) return static_cast<DWORD>(m.p2);
    }
    return 0xFFFFFFFF;
  }
  bool WaitNewCall(std::size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] { return newCalls_.size() >= count; });
  }
  std::pair<HTAPICALL, HDRVCALL> NewCall(std::size_t i) {
    std::lock_guard lock(lock_);
    return newCalls_.at(i);
  }
  bool WaitCompletion(DRV_REQUESTID id, LONG& result, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const auto& c : completions_) {
        if (c.first == id) {
          result = c.second;
          return true;
        }
      }
      return false;
    });
  }
  int CompletionCount(DRV_REQUESTID id) {
    std::lock_guard lock(lock_);
    int n = 0;
    for (const auto& c : completions_) n += c.first == id ? 1 : 0;
    return n;
  }
  std::size_t NewCallCount() {
    std::lock_guard lock(lock_);
    return newCalls_.size();
  }
  std::size_t EventCount() {
    std::lock_guard lock(lock_);
    return events_.size();
  }
  // Waits for a line message (no call) with this first parameter.
  bool WaitLineMessage(DWORD msg, DWORD_PTR param, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
      for (const LineMessage& m : events_) {
        if (m.msg == msg && m.htCall == nullptr && (m.p1 == param || m.p2 == param)) return true;
      }
      return false;
    });
  }
  // The (p1, p2) of a call's messages of one kind, in order.
  std::vector<std::pair<DWORD_PTR, DWORD_PTR>> CallMessages(HTAPICALL ht, DWORD msg) {
    std::lock_guard lock(lock_);
    std::vector<std::pair<DWORD_PTR, DWORD_PTR>> out;
    for (const LineMessage& m : events_) {
      if (m.msg == msg && m.htCall == ht) out.emplace_back(m.p1, m.p2);
    }
    return out;
  }
  bool WaitCallMessages(HTAPICALL ht, DWORD msg, std::size_t count, std::chrono::milliseconds timeout = 5s) {
    std::unique_lock lock(lock_);
    return changed_.wait_for(lock, timeout, [&] {
      std::size_t n = 0;
      for (const LineMessage& m : events_) n += m.msg == msg && m.htCall == ht ? 1 : 0;
      return n >= count;
    });
  }
  std::size_t CountFor(HTAPICALL ht) {
    std::lock_guard lock(lock_);
    std::size_t n = 0;
    for (const LineMessage& m : events_) n += m.htCall == ht ? 1 : 0;
    return n;
  }
  // The lines a call's messages came for, in order, without repeats.
  std::vector<HTAPILINE> LinesOf(HTAPICALL ht) {
    std::lock_guard lock(lock_);
    std::vector<HTAPILINE> out;
    for (const LineMessage& m : events_) {
      if (m.htCall == ht && (out.empty() || out.back() != m.htLine)) out.push_back(m.htLine);
    }
    return out;
  }
  // The line messages (no call) of one kind that came for a line.
  std::size_t CountLineMessages(HTAPILINE line, DWORD msg) {
    std::lock_guard lock(lock_);
    std::size_t n = 0;
    for (const LineMessage& m : events_) n += m.htLine == line && m.htCall == nullptr && m.msg == msg ? 1 : 0;
    return n;
  }
  void Clear() {
    std::lock_guard lock(lock_);
    events_.clear();
    completions_.clear();
    newCalls_.clear();
  }

 private:
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<LineMessage> events_;
  std::vector<std::pair<DRV_REQUESTID, LONG>> completions_;
  std::vector<std::pair<HTAPICALL, HDRVCALL>> newCalls_;
};

inline Recorder& recorder() {
  static Recorder r;
  return r;
}

inline void TSPIAPI onEvent(HTAPILINE htLine, HTAPICALL htCall, DWORD msg, DWORD_PTR p1, DWORD_PTR p2,
                            DWORD_PTR p3) {
  recorder().Event(htLine, htCall, msg, p1, p2, p3);
}
inline void TSPIAPI onCompletion(DRV_REQUESTID id, LONG result) { recorder().Completion(id, result); }

}  // namespace qv
