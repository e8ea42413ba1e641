#include "tls/session_cache.h"

#include <ctime>
#include <map>
#include <mutex>

namespace qv {

namespace {

std::int64_t systemSeconds() { return static_cast<std::int64_t>(std::time(nullptr)); }

struct SessionCache {
  std::mutex lock;
  std::map<Bytes, SessionEntry> entries;
  SessionClock clock = &systemSeconds;
};

SessionCache& cache() {
  static SessionCache instance;
  return instance;
}

std::int64_t lifetime(std::size_t entries) { return 5 + 12000 / (static_cast<std::int64_t>(entries) + 10); }

// Makes room for one more entry: expired ones first, then the one that
// would expire soonest.
void makeRoom(SessionCache& state, std::int64_t now) {
  if (state.entries.size() < kMaxCachedSessions) return;
  for (auto it = state.entries.begin(); it != state.entries.end();) {
    it = it->second.expiry <= now ? state.entries.erase(it) : std::next(it);
  }
  if (state.entries.size() < kMaxCachedSessions) return;
  auto oldest = state.entries.begin();
  for (auto it = state.entries.begin(); it != state.entries.end(); ++it) {
    if (it->second.expiry < oldest->second.expiry) oldest = it;
  }
  state.entries.erase(oldest);
}

}  // namespace

void StoreSession(const Bytes& id, const Bytes& suite, const Bytes& master) {
  SessionCache& state = cache();
  std::lock_guard<std::mutex> guard(state.lock);
  const std::int64_t now = state.clock();
  if (state.entries.find(id) == state.entries.end()) makeRoom(state, now);
  SessionEntry& entry = state.entries[id];
  entry.suite = suite;
  entry.master = master;
  entry.expiry = now + lifetime(state.entries.size());
}

std::optional<SessionEntry> ResumeSession(const Bytes& id) {
  SessionCache& state = cache();
  std::lock_guard<std::mutex> guard(state.lock);
  const auto it = state.entries.find(id);
  if (it == state.entries.end()) return std::nullopt;
  const std::int64_t now = state.clock();
  if (it->second.expiry <= now) {
    state.entries.erase(it);
    return std::nullopt;
  }
  it->second.expiry = now + lifetime(state.entries.size());
  return it->second;
}

std::size_t CachedSessionCount() {
  SessionCache& state = cache();
  std::lock_guard<std::mutex> guard(state.lock);
  return state.entries.size();
}

void ClearSessionCache() {
  SessionCache& state = cache();
  std::lock_guard<std::mutex> guard(state.lock);
  state.entries.clear();
}

void SetSessionClock(SessionClock clock) {
  SessionCache& state = cache();
  std::lock_guard<std::mutex> guard(state.lock);
  state.clock = clock ? clock : &systemSeconds;
}

}  // namespace qv
