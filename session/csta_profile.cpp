#include "session/csta_profile.h"

#include <mutex>

#include "session/csta_requests.h"
#include "session/log.h"
#include "session/settings.h"

namespace qv {

namespace {

// A leaf lock: taken while building requests, under the link's lock too.
std::mutex profileLock;
InvokeIdFormat format = InvokeIdFormat::kBinary;  // guarded by profileLock
std::string negotiatedEdition;                    // guarded by profileLock; empty: edition 6

}  // namespace

std::optional<InvokeIdFormat> ParseInvokeIdFormat(std::string_view text) {
  if (text == "binary") return InvokeIdFormat::kBinary;
  if (text == "ascii") return InvokeIdFormat::kAscii;
  return std::nullopt;
}

InvokeIdFormat InvokeIdFormatOfSettings() {
  const std::string text = SettingsSnapshot().invokeid;
  std::optional<InvokeIdFormat> parsed = ParseInvokeIdFormat(text);
  if (!parsed) writeLog(1, "Unknown invokeid '" + text + "', using binary");
  return parsed.value_or(InvokeIdFormat::kBinary);
}

std::uint32_t NextInvokeId(InvokeIdFormat f, std::uint32_t id) {
  if (f == InvokeIdFormat::kBinary) return id + 1;
  return id + 1 >= kAsciiEventInvokeId || id == 0 ? 1 : id + 1;
}

void SetCstaProfile(InvokeIdFormat f) {
  std::lock_guard lock(profileLock);
  format = f;
  negotiatedEdition.clear();
}

InvokeIdFormat CurrentInvokeIdFormat() {
  std::lock_guard lock(profileLock);
  return format;
}

void SetNegotiatedProtocolVersion(std::string_view version) {
  std::lock_guard lock(profileLock);
  negotiatedEdition.clear();
  for (std::string_view edition : {kCstaEdition3, kCstaEdition4, kCstaEdition5}) {
    if (version == edition) negotiatedEdition = std::string(edition);
  }
}

std::string ApplicationSessionNamespace() {
  std::lock_guard lock(profileLock);
  std::string_view ns = kApplicationSessionNamespace;
  if (format == InvokeIdFormat::kAscii) ns.remove_suffix(1);
  return std::string(ns);
}

std::string CstaRequestNamespace() {
  std::lock_guard lock(profileLock);
  if (format == InvokeIdFormat::kAscii && !negotiatedEdition.empty()) return negotiatedEdition;
  return std::string(kCstaNamespace);
}

}  // namespace qv
