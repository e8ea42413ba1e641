#pragma once
// Process-wide cache of resumable server sessions, keyed by session id.
// Entries live shorter the fuller the cache is.
#include <cstddef>
#include <cstdint>
#include <optional>

#include "xml/byte_string.h"

namespace qv {

struct SessionEntry {
  // Seconds since 1970 after which the entry is no longer resumable.
  std::int64_t expiry = 0;
  Bytes suite;
  Bytes master;
};

// Far more sessions than any PBX link needs; keeps a flood of handshakes
// from growing the cache without end.
inline constexpr std::size_t kMaxCachedSessions = 4096;

// Creates or overwrites the entry; its expiry becomes now + 5 + 12000 / (n + 10)
// seconds, n = entries including this one.
void StoreSession(const Bytes& id, const Bytes& suite, const Bytes& master);
// The entry for id when it is still valid (its expiry renewed); an expired
// entry is removed. Empty when there is nothing to resume.
std::optional<SessionEntry> ResumeSession(const Bytes& id);
std::size_t CachedSessionCount();
void ClearSessionCache();

// The cache's clock (C library time by default); tests replace it.
using SessionClock = std::int64_t (*)();
void SetSessionClock(SessionClock clock);

}  // namespace qv
