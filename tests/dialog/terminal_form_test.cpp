// The Linux form on a pseudo-terminal: a child process opens the dialog
// through the provider's entry point, the test types into the terminal.
#include <gtest/gtest.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <functional>
#include <string>

#include "platform/module.h"
#include "platform/tapi.h"
#include "provider/provider_state.h"
#include "session/settings.h"
#include "tests/dialog/registry_sandbox.h"

namespace qv {
namespace {

using namespace std::chrono_literals;

// Opens the dialog in a child whose controlling terminal is a new pty.
class TerminalSession {
 public:
  explicit TerminalSession(bool lineDialog = false)
      : TerminalSession([lineDialog] {
          providerState.moduleHandle = ownModuleHandle();
          LONG rc = lineDialog ? TUISPI_lineConfigDialog(nullptr, 0, nullptr, nullptr)
                               : TUISPI_providerConfig(nullptr, nullptr, 1);
          return rc == 0 ? 0 : 1;
        }) {}
  // Runs `child` in the child process; its result is the exit code.
  explicit TerminalSession(const std::function<int()>& child) {
    pid_ = forkpty(&master_, nullptr, nullptr, nullptr);
    if (pid_ == 0) _exit(child());
  }
  ~TerminalSession() {
    if (pid_ > 0 && !reaped_) {
      kill(pid_, SIGKILL);
      waitpid(pid_, nullptr, 0);
    }
    if (master_ >= 0) close(master_);
  }
  bool started() const { return pid_ > 0; }

  // Reads until `text` has appeared after the last match; false on time-out.
  bool expect(const std::string& text, std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
      std::size_t at = output_.find(text, consumed_);
      if (at != std::string::npos) {
        consumed_ = at + text.size();
        return true;
      }
      auto left =
          std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
      if (left.count() <= 0) return false;
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, static_cast<int>(left.count())) <= 0) continue;
      char buffer[512];
      ssize_t n = read(master_, buffer, sizeof buffer);
      if (n <= 0) return false;
      output_.append(buffer, static_cast<std::size_t>(n));
    }
  }
  void type(const std::string& line) {
    std::string text = line + "\n";
    ASSERT_EQ(write(master_, text.data(), text.size()), static_cast<ssize_t>(text.size()));
  }
  // The child's exit code once it has ended, -1 on time-out.
  int finish(std::chrono::milliseconds timeout = 5000ms) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (std::chrono::steady_clock::now() < deadline) {
      int status = 0;
      if (waitpid(pid_, &status, WNOHANG) == pid_) {
        reaped_ = true;
        // Whatever is left on the terminal belongs to the transcript.
        char buffer[512];
        pollfd p{master_, POLLIN, 0};
        while (poll(&p, 1, 0) > 0) {
          ssize_t n = read(master_, buffer, sizeof buffer);
          if (n <= 0) break;
          output_.append(buffer, static_cast<std::size_t>(n));
        }
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
      }
      pollfd p{master_, POLLIN, 0};
      if (poll(&p, 1, 20) > 0) {
        char buffer[512];
        ssize_t n = read(master_, buffer, sizeof buffer);
        if (n > 0) output_.append(buffer, static_cast<std::size_t>(n));
      }
    }
    return -1;
  }
  const std::string& transcript() const { return output_; }

 private:
  pid_t pid_ = -1;
  int master_ = -1;
  bool reaped_ = false;
  std::string output_;
  std::size_t consumed_ = 0;
};

using TerminalFormTest = test::RegistrySandbox;

TEST_F(TerminalFormTest, FillingEveryFieldAndOkStoresThem) {
  TerminalSession tty;
  ASSERT_TRUE(tty.started());
  ASSERT_TRUE(tty.expect("Username (e.g. \"40\") []: ")) << tty.transcript();
  tty.type("40");
  ASSERT_TRUE(tty.expect("Extensions (e.g. \"202; 300-349\") []: "));
  tty.type("202=Reception; 300-349");
  ASSERT_TRUE(tty.expect("Password [empty]: "));
  tty.type("pw-secret");
  ASSERT_TRUE(tty.expect("Password (repeat) [empty]: "));
  tty.type("pw-secret");
  ASSERT_TRUE(tty.expect("Domain (e.g. \"example.com\") []: "));
  tty.type("example.com");
  ASSERT_TRUE(tty.expect("Address (e.g. \"pbx.example.com\") []: "));
  tty.type("pbx.example.com");
  ASSERT_TRUE(tty.expect("Port (e.g. \"443\") [443]: "));
  tty.type("5061");
  ASSERT_TRUE(tty.expect("Use encryption for CSTA (yes/no) [yes]: "));
  tty.type("no");
  ASSERT_TRUE(
      tty.expect("TLS version: 1 = 1.0 as in the first release; 2 = 1.2; 3 = 1.3; 4 = best available\r\n"))
      << tty.transcript();
  ASSERT_TRUE(tty.expect("TLS version (1-4) [1.0 as in the first release]: "));
  tty.type("7");
  ASSERT_TRUE(tty.expect("Please answer a number from 1 to 4."));
  ASSERT_TRUE(tty.expect("TLS version (1-4) [1.0 as in the first release]: "));
  tty.type("Best Available");
  ASSERT_TRUE(tty.expect("Client certificate []: "));
  tty.type("/etc/quorvelone/client.pem");
  ASSERT_TRUE(tty.expect("Auto originate outbound calls (yes/no) [no]: "));
  tty.type("YES");
  ASSERT_TRUE(tty.expect("Report calls to applications (yes/no) [no]: "));
  tty.type("y");
  ASSERT_TRUE(tty.expect("OK or Cancel? [OK]: "));
  tty.type("ok");
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  // The password was read without echo.
  EXPECT_EQ(tty.transcript().find("pw-secret"), std::string::npos) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "40");
  EXPECT_EQ(ReadSetting("password"), "pw-secret");
  EXPECT_EQ(ReadSetting("domain"), "example.com");
  EXPECT_EQ(ReadSetting("address"), "pbx.example.com");
  EXPECT_EQ(ReadSetting("port"), "5061");
  EXPECT_EQ(ReadSetting("encrypt"), "0");
  EXPECT_EQ(ReadSetting("autooriginate"), "1");
  EXPECT_EQ(ReadSetting("callevents"), "1");
  EXPECT_EQ(ReadSetting("tlsversion"), "auto");
  EXPECT_EQ(ReadSetting("clientcert"), "/etc/quorvelone/client.pem");
  EXPECT_EQ(ReadSetting("lines"), "202=Reception; 300-349");
  EXPECT_EQ(ReadSetting("guid").size(), 36u);
}

TEST_F(TerminalFormTest, EnterKeepsEveryValue) {
  ProviderSettings stored;
  stored.username = "41";
  stored.password = "old";
  stored.port = 8443;
  stored.autooriginate = true;
  stored.tlsversion = "1.1";  // unknown: shown as 1.0, kept
  stored.clientcert = "/etc/quorvelone/client.pem";
  ReplaceSettings(stored);
  WriteSettings();

  TerminalSession tty(true);
  ASSERT_TRUE(tty.expect("Username (e.g. \"40\") [41]: ")) << tty.transcript();
  tty.type("");
  ASSERT_TRUE(tty.expect("Extensions (e.g. \"202; 300-349\") []: "));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password [unchanged]: "));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password (repeat) [unchanged]: "));
  tty.type("");
  for (const char* prompt :
       {"Domain", "Address",
        "Port (e.g. \"443\") [8443]: ", "[yes]: ", "TLS version (1-4) [1.0 as in the first release]: ",
        "Client certificate [/etc/quorvelone/client.pem]: ", "[yes]: ", "[no]: ", "[OK]: "}) {
    ASSERT_TRUE(tty.expect(prompt)) << prompt << "\n" << tty.transcript();
    tty.type("");
  }
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "41");
  EXPECT_EQ(ReadSetting("password"), "old");
  EXPECT_EQ(ReadSetting("port"), "8443");
  EXPECT_EQ(ReadSetting("encrypt"), "1");
  EXPECT_EQ(ReadSetting("autooriginate"), "1");
  EXPECT_EQ(ReadSetting("tlsversion"), "1.1");
  EXPECT_EQ(ReadSetting("clientcert"), "/etc/quorvelone/client.pem");
  // Never listed, never stored: the key stays as an older release left it.
  EXPECT_EQ(ReadOptionalSetting("lines"), "");
}

// Enter on the encryption switch, the TLS version, the client certificate
// and the two later switches.
void keepSwitchesAndTls(TerminalSession& tty) {
  ASSERT_TRUE(tty.expect("(yes/no)"));
  tty.type("");
  ASSERT_TRUE(tty.expect("TLS version (1-4)"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Client certificate ["));
  tty.type("");
  for (int i = 0; i < 2; ++i) {
    ASSERT_TRUE(tty.expect("(yes/no)"));
    tty.type("");
  }
}

// Types the whole form: username, both passwords, port, then the choice.
void fillForm(TerminalSession& tty, const std::string& user, const std::string& pw1, const std::string& pw2,
              const std::string& port, const std::string& choice) {
  ASSERT_TRUE(tty.expect("Username")) << tty.transcript();
  tty.type(user);
  ASSERT_TRUE(tty.expect("Extensions"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password ["));
  tty.type(pw1);
  ASSERT_TRUE(tty.expect("Password (repeat) ["));
  tty.type(pw2);
  ASSERT_TRUE(tty.expect("Domain"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Address"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Port"));
  tty.type(port);
  keepSwitchesAndTls(tty);
  ASSERT_TRUE(tty.expect("OK or Cancel?"));
  tty.type(choice);
}

TEST_F(TerminalFormTest, RefusedOkKeepsTheFormOpenWithWhatWasTyped) {
  TerminalSession tty;
  fillForm(tty, "40", "one", "two", "", "");
  ASSERT_TRUE(tty.expect("Error: The passwords do not match!")) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "");
  // The form comes back with the typed values as defaults.
  ASSERT_TRUE(tty.expect("Username (e.g. \"40\") [40]: ")) << tty.transcript();
  tty.type("");
  ASSERT_TRUE(tty.expect("Extensions"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password [unchanged]: "));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password (repeat) [unchanged]: "));
  tty.type("one");
  for (const char* prompt : {"Domain", "Address"}) {
    ASSERT_TRUE(tty.expect(prompt));
    tty.type("");
  }
  ASSERT_TRUE(tty.expect("Port (e.g. \"443\") [443]: "));
  tty.type("70000");
  keepSwitchesAndTls(tty);
  ASSERT_TRUE(tty.expect("OK or Cancel?"));
  tty.type("OK");
  ASSERT_TRUE(tty.expect("Error: The port must be a number from 1 to 65535.")) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "");
  fillForm(tty, "", "", "", "443", "");
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "40");
  EXPECT_EQ(ReadSetting("password"), "one");
  EXPECT_EQ(ReadSetting("port"), "443");
}

TEST_F(TerminalFormTest, CancelAfterEditsStoresNothing) {
  TerminalSession tty;
  fillForm(tty, "40", "a", "a", "5060", "Cancel");
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "");
  EXPECT_EQ(ReadSetting("guid"), "");
}

TEST_F(TerminalFormTest, ClosedTerminalCancels) {
  TerminalSession tty;
  ASSERT_TRUE(tty.expect("Username"));
  tty.type("40");
  ASSERT_TRUE(tty.expect("Extensions"));
  tty.type("");
  ASSERT_TRUE(tty.expect("Password ["));
  tty.type("\x04");  // end of input on the terminal
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "");
}

TEST_F(TerminalFormTest, WithoutTerminalOrModuleNothingIsShown) {
  {
    SCOPED_TRACE("no controlling terminal");
    pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      setsid();  // a new session has no controlling terminal
      providerState.moduleHandle = ownModuleHandle();
      _exit(TUISPI_providerConfig(nullptr, nullptr, 1) == 0 ? 0 : 1);
    }
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  }
  HINSTANCE saved = providerState.moduleHandle;
  providerState.moduleHandle = nullptr;
  EXPECT_EQ(TUISPI_providerConfig(nullptr, nullptr, 1), 0);
  EXPECT_EQ(TUISPI_lineConfigDialog(nullptr, 0, nullptr, nullptr), 0);
  providerState.moduleHandle = saved;
  EXPECT_EQ(ReadSetting("guid"), "");
}

TEST_F(TerminalFormTest, BackgroundProcessLeavesTheTerminalAlone) {
  TerminalSession tty(std::function<int()>([] {
    pid_t child = fork();
    if (child == 0) {
      setpgid(0, 0);  // its own process group: not the terminal's foreground
      providerState.moduleHandle = ownModuleHandle();
      _exit(TUISPI_providerConfig(nullptr, nullptr, 1) == 0 ? 0 : 1);
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : 2;
  }));
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(tty.transcript().find("Username"), std::string::npos) << tty.transcript();
  EXPECT_EQ(ReadSetting("guid"), "");
}

TEST_F(TerminalFormTest, TsphostOpensTheFormThroughTheProvider) {
  TerminalSession tty(std::function<int()>([] {
    execl(QV_TSPHOST_PATH, QV_TSPHOST_PATH, "config", QV_PROVIDER_PATH, static_cast<char*>(nullptr));
    return 127;
  }));
  fillForm(tty, "43", "pw", "pw", "5062", "");
  ASSERT_TRUE(tty.expect("-> TUISPI_providerConfig(1) = 0")) << tty.transcript();
  ASSERT_EQ(tty.finish(), 0) << tty.transcript();
  EXPECT_EQ(ReadSetting("username"), "43");
  EXPECT_EQ(ReadSetting("port"), "5062");
}

}  // namespace
}  // namespace qv
