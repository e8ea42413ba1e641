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
  // Values added after the first release. They have no dialog control except
  // callevents and lines, are read only when present (a missing one is not logged) and
  // their defaults keep the first release's behaviour.
  std::int32_t logrotate = 0;       // files kept beside the log; 0 = stop logging when full
  bool callevents = false;          // report call states and calls not placed by TAPI
  std::string certpin;              // SHA-256 fingerprints the PBX certificate must match
  bool verifycert = false;          // the PBX chain must lead to a trusted root and name the PBX
  std::string cafile;               // PEM file of further trusted roots
  std::string tlsversion = "1.0";   // "1.0", "1.2" or "auto"
  std::string invokeid = "binary";  // "binary" or "ascii" (csta_profile.h)
  std::string lines;                // extensions shown as lines; empty = the one line of `username`
};

// The process-wide record is guarded by its own lock: readers take a copy,
// writers replace it whole. The lock is a leaf: nothing is logged or locked
// while it is held.
ProviderSettings SettingsSnapshot();
void ReplaceSettings(const ProviderSettings& settings);

// What the log consults on every call, without copying the whole record.
std::int32_t currentLogLevel();
std::int32_t currentLogLength();
std::int32_t currentLogRotate();
std::string currentLogFile();

// The standard decimal conversion of a stored number: leading white space,
// optional sign, digits up to the first other character. False when the text
// holds no digits there or the number does not fit 32 bits.
bool parseStoredNumber(const std::string& text, std::int32_t& value);

// Registry text of one value, or empty text when the key or value cannot be read.
std::string ReadSetting(const std::string& name);
// As ReadSetting, but a value that is not there is not reported: for values
// an older installation never stored.
std::string ReadOptionalSetting(const std::string& name);
// Stores one value as REG_SZ.
void WriteSetting(const std::string& name, const std::string& value);
// Fills the process-wide record from the registry. A numeric value that is
// not a 32-bit number keeps the field's current value and is reported.
void ReadSettings();
// Stores every field of the process-wide record that the dialog edits.
void WriteSettings();
// A new random identifier, 8-4-4-4-12 lower-case hex (version 4 layout),
// drawn from the secure random source.
std::string MakeGuid();

}  // namespace qv
