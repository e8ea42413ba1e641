#include "session/settings.h"

#include <atomic>
#include <cstdint>
#include <limits>
#include <mutex>

#include "platform/random.h"
#include "platform/registry.h"
#include "session/decimal_text.h"
#include "session/log.h"

namespace qv {
namespace {

std::mutex settingsLock;

// Built on first use: the library's load hook logs before the static objects
// of other files are guaranteed to exist.
ProviderSettings& record() {
  static ProviderSettings settings;
  return settings;
}
// Mirrors of the log fields so the log's level test takes no lock.
// Constant-initialised, so usable before any dynamic initialisation.
constinit std::atomic<std::int32_t> logLevel{0};
constinit std::atomic<std::int32_t> logLength{1000};
constinit std::atomic<std::int32_t> logRotate{0};

const char kWriteFailure[] = "WriteSetting: Could not access registry: SOFTWARE\\quorvelone\\tapi";

// Keeps the field unless the registry holds a non-empty text for it; a text
// that is not a 32-bit number is reported and also keeps the field.
bool readNumber(const char* name, std::int32_t& field) {
  std::string text = ReadSetting(name);
  if (text.empty()) return false;
  std::int32_t value = 0;
  if (!parseStoredNumber(text, value)) {
    writeLog(1,
             std::string("Cannot read registry key ") + name + ": \"" + text + "\" is not a 32-bit number");
    return false;
  }
  field = value;
  return true;
}

void readSwitch(const char* name, bool& field) {
  std::int32_t value = 0;
  if (readNumber(name, value)) field = value > 0;
}

// A number added after the first release: missing means the default.
void readOptionalNumber(const char* name, std::int32_t& field) {
  std::string text = ReadOptionalSetting(name);
  if (text.empty()) return;
  std::int32_t value = 0;
  if (!parseStoredNumber(text, value)) {
    writeLog(1,
             std::string("Cannot read registry key ") + name + ": \"" + text + "\" is not a 32-bit number");
    return;
  }
  field = value;
}

void readOptionalSwitch(const char* name, bool& field) {
  std::int32_t value = field ? 1 : 0;
  readOptionalNumber(name, value);
  field = value > 0;
}

}  // namespace

ProviderSettings SettingsSnapshot() {
  std::lock_guard<std::mutex> guard(settingsLock);
  return record();
}

void ReplaceSettings(const ProviderSettings& replacement) {
  std::lock_guard<std::mutex> guard(settingsLock);
  record() = replacement;
  logLevel.store(replacement.loglevel);
  logLength.store(replacement.loglength);
  logRotate.store(replacement.logrotate);
}

std::int32_t currentLogLevel() { return logLevel.load(std::memory_order_relaxed); }
std::int32_t currentLogLength() { return logLength.load(std::memory_order_relaxed); }
std::int32_t currentLogRotate() { return logRotate.load(std::memory_order_relaxed); }

std::string currentLogFile() {
  std::lock_guard<std::mutex> guard(settingsLock);
  return record().logfile;
}

bool parseStoredNumber(const std::string& text, std::int32_t& value) {
  DecimalScan scan = scanDecimal(text);
  if (scan.digits == 0) return false;
  std::int64_t result = static_cast<std::int64_t>(scan.magnitude);
  if (scan.negative) result = -result;
  if (result < std::numeric_limits<std::int32_t>::min() || result > std::numeric_limits<std::int32_t>::max())
    return false;
  value = static_cast<std::int32_t>(result);
  return true;
}

std::string ReadSetting(const std::string& name) {
  RegistryValue value = readProviderValue(name);
  switch (value.status) {
    case RegistryStatus::keyUnavailable:
      writeLog(1, "Cannot open registry for reading");
      return {};
    case RegistryStatus::storeCorrupt:
      writeLog(1, "Cannot open registry for reading: " + value.problem);
      return {};
    case RegistryStatus::valueUnavailable:
      writeLog(1, "Cannot read registry key " + name);
      return {};
    case RegistryStatus::ok:
      break;
  }
  if (value.type == kRegMultiSz) return value.data;
  return value.data.substr(0, value.data.find('\0'));
}

std::string ReadOptionalSetting(const std::string& name) {
  RegistryValue value = readProviderValue(name);
  if (value.status != RegistryStatus::ok) return {};
  if (value.type == kRegMultiSz) return value.data;
  return value.data.substr(0, value.data.find('\0'));
}

void WriteSetting(const std::string& name, const std::string& value) {
  std::string data = value;
  data += '\0';
  switch (writeProviderValue(name, kRegSz, data)) {
    case RegistryWriteStatus::ok:
      break;
    case RegistryWriteStatus::keyUnavailable:
      writeLog(7, kWriteFailure);
      break;
    case RegistryWriteStatus::valueNotSet:
      writeLog(7, std::string(kWriteFailure) + "\\" + name);
      break;
  }
}

void ReadSettings() {
  // Each value is read through its own open and close of the key; the record
  // is updated field by field so a logged message sees the values read so far.
  ProviderSettings s = SettingsSnapshot();
  s.username = ReadSetting("username");
  s.password = ReadSetting("password");
  s.domain = ReadSetting("domain");
  s.address = ReadSetting("address");
  readNumber("port", s.port);
  readSwitch("encrypt", s.encrypt);
  readSwitch("autooriginate", s.autooriginate);
  readNumber("loglevel", s.loglevel);
  ReplaceSettings(s);
  readNumber("loglength", s.loglength);
  s.logfile = ReadSetting("logfile");
  ReplaceSettings(s);
  std::string guid = ReadSetting("guid");
  s.guid = guid.empty() ? MakeGuid() : guid;
  readOptionalNumber("logrotate", s.logrotate);
  readOptionalSwitch("callevents", s.callevents);
  s.certpin = ReadOptionalSetting("certpin");
  readOptionalSwitch("verifycert", s.verifycert);
  s.cafile = ReadOptionalSetting("cafile");
  std::string tlsversion = ReadOptionalSetting("tlsversion");
  s.tlsversion = tlsversion.empty() ? "1.0" : tlsversion;
  s.lines = ReadOptionalSetting("lines");
  std::string invokeid = ReadOptionalSetting("invokeid");
  s.invokeid = invokeid.empty() ? "binary" : invokeid;
  ReplaceSettings(s);
}

void WriteSettings() {
  ProviderSettings s = SettingsSnapshot();
  WriteSetting("username", s.username);
  WriteSetting("password", s.password);
  WriteSetting("domain", s.domain);
  WriteSetting("address", s.address);
  WriteSetting("port", std::to_string(s.port));
  WriteSetting("encrypt", s.encrypt ? "1" : "0");
  WriteSetting("autooriginate", s.autooriginate ? "1" : "0");
  WriteSetting("loglevel", std::to_string(s.loglevel));
  WriteSetting("loglength", std::to_string(s.loglength));
  WriteSetting("logfile", s.logfile);
  WriteSetting("guid", s.guid);
  WriteSetting("callevents", s.callevents ? "1" : "0");
  // An installation that never listed extensions keeps its key as it was.
  if (!s.lines.empty() || !ReadOptionalSetting("lines").empty()) WriteSetting("lines", s.lines);
}

std::string MakeGuid() {
  static const char digits[] = "0123456789abcdef";
  std::uint16_t groups[8];
  fillSecureRandom(groups, sizeof groups);
  groups[3] = static_cast<std::uint16_t>((groups[3] & 0x0FFF) | 0x4000);  // version 4
  groups[4] = static_cast<std::uint16_t>((groups[4] & 0x3FFF) | 0x8000);  // RFC 4122 variant
  std::string out;
  for (int g = 0; g < 8; ++g) {
    if (g == 2 || g == 3 || g == 4 || g == 5) out += '-';
    for (int shift = 12; shift >= 0; shift -= 4) out += digits[(groups[g] >> shift) & 15];
  }
  return out;
}

}  // namespace qv
