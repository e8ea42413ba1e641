#pragma once
// The provider's settings: one process-wide record, filled from the registry
// key HKLM\SOFTWARE\quorvelone\tapi at provider start and when the
// configuration dialog opens, written back only by the dialog's OK.
#include <cstdint>
#include <string>

namespace qv {

struct ProviderSettings {
  std::string username;
  std::string password;
  std::string domain;
  std::string address;
  std::int32_t port = 443;
  bool encrypt = true;
  bool autooriginate = false;
  std::int32_t loglevel = 0;
  std::int32_t loglength = 1000;
  std::string logfile;
  std::string guid;
};

// The process-wide record is guarded by its own lock: readers take a copy,
// writers replace it whole. The lock is a leaf: nothing is logged or locked
// while it is held.
ProviderSettings settingsSnapshot();
void replaceSettings(const ProviderSettings& settings);

// What the log consults on every call, without copying the whole record.
std::int32_t currentLogLevel();
std::int32_t currentLogLength();
std::string currentLogFile();

// The standard decimal conversion of a stored number: leading white space,
// optional sign, digits up to the first other character. False when the text
// holds no digits there or the number does not fit 32 bits.
bool parseStoredNumber(const std::string& text, std::int32_t& value);

// Registry text of one value, or empty text when the key or value cannot be read.
std::string ReadSetting(const std::string& name);
// Stores one value as REG_SZ.
void WriteSetting(const std::string& name, const std::string& value);
// Fills the process-wide record from the registry. A numeric value that is
// not a 32-bit number keeps the field's current value and is reported.
void ReadSettings();
// Stores every field of the process-wide record.
void WriteSettings();
// A new random identifier, 8-4-4-4-12 lower-case hex (version 4 layout),
// drawn from the secure random source.
std::string MakeGuid();

}  // namespace qv
