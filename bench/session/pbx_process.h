#pragma once
// pbxsim as a process of its own, for the benches and the soak: commands on
// its standard input, the port it listens on read from its output.
// QV_PBXSIM_CPU=N in the environment binds it to CPU N (a PBX that does not
// share the provider's cores, as on a machine of its own).
#include <sched.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

namespace qv::bench {

class PbxProcess {
 public:
  // options: pbxsim's command line after its name.
  explicit PbxProcess(const std::vector<std::string>& options) {
    int in[2], out[2];
    if (pipe(in) != 0 || pipe(out) != 0) return;
    pid_ = fork();
    if (pid_ == 0) {
      if (const char* cpu = std::getenv("QV_PBXSIM_CPU")) {
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(std::atoi(cpu), &one);
        sched_setaffinity(0, sizeof one, &one);
      }
      dup2(in[0], 0);
      dup2(out[1], 1);
      close(in[1]);
      close(out[0]);
      std::vector<char*> argv{const_cast<char*>("pbxsim")};
      for (const std::string& o : options) argv.push_back(const_cast<char*>(o.c_str()));
      argv.push_back(nullptr);
      execv(QV_PBXSIM_PATH, argv.data());
      _exit(127);
    }
    close(in[0]);
    close(out[1]);
    commands_ = fdopen(in[1], "w");
    output_ = fdopen(out[0], "r");
    char line[512];
    while (std::fgets(line, sizeof line, output_) != nullptr) {
      std::string text(line);
      const std::size_t at = text.find("pbxsim listening on ");
      if (at == std::string::npos) continue;
      port_ = static_cast<std::uint16_t>(std::stoi(text.substr(text.rfind(':') + 1)));
      break;
    }
  }
  ~PbxProcess() {
    if (commands_ != nullptr) std::fclose(commands_);
    if (pid_ > 0) {
      kill(pid_, SIGTERM);
      waitpid(pid_, nullptr, 0);
    }
    if (output_ != nullptr) std::fclose(output_);
  }
  std::uint16_t port() const { return port_; }
  void Command(const char* text) {
    std::fprintf(commands_, "%s\n", text);
    std::fflush(commands_);
  }
  // The lines a command printed, up to its "ok".
  std::vector<std::string> Output(const std::string& command) {
    Command(command.c_str());
    std::vector<std::string> lines;
    char line[512];
    while (std::fgets(line, sizeof line, output_) != nullptr) {
      std::string text(line);
      if (text == "ok " + command + "\n") break;
      lines.push_back(text);
    }
    return lines;
  }

 private:
  pid_t pid_ = -1;
  std::FILE* commands_ = nullptr;
  std::FILE* output_ = nullptr;
  std::uint16_t port_ = 0;
};

}  // namespace qv::bench
