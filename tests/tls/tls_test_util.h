#pragma once
// Helpers shared by the TLS engine tests: fixtures, an in-memory link
// between two connections, and a view of the log file.
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "session/log.h"
#include "session/settings.h"
#include "tests/tls/test_certificates.h"
#include "tests/tls/tls_connection_test_peer.h"
#include "tls/certificate.h"
#include "tls/tls_connection.h"
#include "tls/tls_log.h"
#include "xml/byte_string.h"

namespace qv::test {

inline Bytes hexDecode(std::string_view hex) {
  Bytes out;
  for (std::size_t k = 0; k + 1 < hex.size(); k += 2) {
    out += static_cast<char>(std::stoi(std::string(hex.substr(k, 2)), nullptr, 16));
  }
  return out;
}

inline Bytes derOf(const char* hex) { return hexDecode(hex); }

// The engine's lines into the program's log file, as the CSTA connection
// passes them.
inline TlsLog testLog(std::string prefix = {}) {
  TlsLog log;
  log.enabled = [](int level) { return level <= currentLogLevel(); };
  log.write = [](int level, std::string_view text) { writeLog(level, text); };
  log.prefix = std::move(prefix);
  return log;
}

// A connection's handshake state (transcript, secrets, session id).
inline HandshakeState& handshakeOf(TlsConnection& connection) {
  return TlsConnectionTestPeer(connection).Handshake();
}

// The server certificate signed by the test CA, with its key, as own identity.
inline void loadServerIdentity() {
  LoadOwnIdentity({derOf(kServerHex), derOf(kCaHex)}, derOf(kServerKeyHex), testLog());
}

// Moves bytes between the two ends until neither has anything to say.
// Returns the application data each side received.
struct PumpResult {
  Bytes clientReceived;
  Bytes serverReceived;
};

inline PumpResult pump(TlsConnection& client, TlsConnection& server, std::string_view clientData = {},
                       std::string_view serverData = {}) {
  PumpResult result;
  Bytes toServer = client.SendApplicationData(clientData);
  Bytes toClient = server.SendApplicationData(serverData);
  for (int round = 0; round < 20 && (!toServer.empty() || !toClient.empty()); ++round) {
    result.serverReceived += server.ReceiveBytes(toServer);
    result.clientReceived += client.ReceiveBytes(toClient);
    toServer = client.SendApplicationData("");
    toClient = server.SendApplicationData("");
  }
  return result;
}

// The log lines written from construction on. The log file is opened once
// per process, so every test program logs to one file at level 9.
class LogCapture {
  static std::error_code& ignoredError() {
    static std::error_code error;
    return error;
  }

 public:
  LogCapture() {
    static const std::string path = [] {
      ProviderSettings settings = SettingsSnapshot();
      settings.logfile =
          (std::filesystem::temp_directory_path() / ("qv-tls-test-" + hexEncode(randomBytes(6)) + ".log"))
              .string();
      settings.loglevel = 9;
      settings.loglength = 0x7FFFFFFF;
      ReplaceSettings(settings);
      writeLog(1, "test log opened");
      return settings.logfile;
    }();
    // Not left behind in the temporary folder once the program ends.
    static const bool cleanup = std::atexit([] { std::filesystem::remove(path, ignoredError()); }) == 0;
    (void)cleanup;
    path_ = path;
    start_ = contents().size();
  }
  std::string text() const { return contents().substr(start_); }
  bool contains(std::string_view needle) const { return text().find(needle) != std::string::npos; }
  std::size_t count(std::string_view needle) const {
    const std::string all = text();
    std::size_t n = 0;
    for (std::size_t at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
  }

 private:
  std::string contents() const {
    std::ifstream in(path_, std::ios::binary);
    std::stringstream buffer;
    buffer << in.rdbuf();
    return buffer.str();
  }
  std::string path_;
  std::size_t start_ = 0;
};

// Record framing helpers.
inline Bytes record(std::uint8_t type, std::string_view fragment,
                    std::string_view version = {"\x03\x01", 2}) {
  Bytes out(1, static_cast<char>(type));
  out.append(version);
  out += uintToBytes(static_cast<std::uint32_t>(fragment.size()), 2);
  out.append(fragment);
  return out;
}

inline Bytes handshakeMessage(std::uint8_t type, std::string_view body) {
  return Bytes(1, static_cast<char>(type)) + uintToBytes(static_cast<std::uint32_t>(body.size()), 3) +
         Bytes(body);
}

struct ParsedRecord {
  std::uint8_t type = 0;
  Bytes version;
  Bytes fragment;
};

inline std::vector<ParsedRecord> splitRecords(std::string_view bytes) {
  std::vector<ParsedRecord> records;
  while (bytes.size() >= 5) {
    const std::size_t length = bytesToUInt(bytes.substr(3, 2));
    if (bytes.size() < 5 + length) break;
    records.push_back(
        {static_cast<std::uint8_t>(bytes[0]), Bytes(bytes.substr(1, 2)), Bytes(bytes.substr(5, length))});
    bytes.remove_prefix(5 + length);
  }
  return records;
}

}  // namespace qv::test
