#pragma once
// An external TLS peer (openssl, gnutls-serv, gnutls-cli) run through the
// shell, its output in a file. Every command is bounded by `timeout`.
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>

#include "xml/byte_string.h"

namespace qv::test {

inline std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream buffer;
  buffer << in.rdbuf();
  return buffer.str();
}

inline bool commandExists(const std::string& name) {
  return std::system(("command -v " + name + " >/dev/null 2>&1").c_str()) == 0;
}

// A scratch folder removed at the end of the test.
class ScratchDir {
 public:
  ScratchDir() : path_(std::filesystem::temp_directory_path() / ("qv-tls-" + hexEncode(randomBytes(6)))) {
    std::filesystem::create_directories(path_);
  }
  ~ScratchDir() {
    std::error_code ignored;
    std::filesystem::remove_all(path_, ignored);
  }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }
  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};

class PeerProcess {
 public:
  // Starts `command` (at most `seconds` long) with stdin on a pipe and
  // stdout/stderr in `output`.
  PeerProcess(const std::string& command, std::filesystem::path output, int seconds = 30)
      : output_(std::move(output)), pidFile_(output_.string() + ".pid") {
    // A free port may come round again within one test: an earlier peer's
    // output under the same name must not pass for this one's readiness.
    std::error_code ignored;
    std::filesystem::remove(output_, ignored);
    std::filesystem::remove(pidFile_, ignored);
    const std::string shell = "sh -c 'echo $$ > " + pidFile_ + "; exec timeout " + std::to_string(seconds) +
                              " " + command + " > " + output_.string() + " 2>&1'";
    pipe_ = popen(shell.c_str(), "w");
  }
  ~PeerProcess() {
    Stop();
    Wait();
  }
  PeerProcess(const PeerProcess&) = delete;
  PeerProcess& operator=(const PeerProcess&) = delete;

  bool Started() const { return pipe_ != nullptr; }
  void Write(const std::string& text) {
    if (pipe_ == nullptr) return;
    std::fwrite(text.data(), 1, text.size(), pipe_);
    std::fflush(pipe_);
  }
  // Closes stdin and waits for the process to end.
  void Wait() {
    if (pipe_ != nullptr) pclose(pipe_);
    pipe_ = nullptr;
  }
  void Stop() {
    const std::string pid = readFile(pidFile_);
    // The shell exec'd timeout; ending it ends the peer.
    if (!pid.empty() && pipe_ != nullptr)
      std::system(("kill " + pid.substr(0, pid.find('\n')) + " 2>/dev/null").c_str());
  }
  std::string Output() const { return readFile(output_); }
  // Polls the output for a text (bounded); the peer's own readiness line.
  bool WaitForOutput(const std::string& text,
                     std::chrono::milliseconds limit = std::chrono::seconds(15)) const {
    const auto deadline = std::chrono::steady_clock::now() + limit;
    while (std::chrono::steady_clock::now() < deadline) {
      if (Output().find(text) != std::string::npos) return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return false;
  }

 private:
  std::filesystem::path output_;
  std::string pidFile_;
  FILE* pipe_ = nullptr;
};

}  // namespace qv::test
