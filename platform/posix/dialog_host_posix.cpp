// The configuration dialog as a form on the controlling terminal: every field
// shown with its current value, Enter keeps it, passwords read without echo.
#include <fcntl.h>
#include <termios.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <string_view>
#include <vector>

#include "platform/dialog_host.h"

namespace qv {

namespace {

// Longer input is cut here; the dialog itself keeps at most 255 characters.
constexpr std::size_t kMaxLine = 4096;

class Terminal {
 public:
  Terminal() : fd_(::open("/dev/tty", O_RDWR | O_NOCTTY | O_CLOEXEC)) {}
  ~Terminal() {
    if (fd_ >= 0) ::close(fd_);
  }
  Terminal(const Terminal&) = delete;
  Terminal& operator=(const Terminal&) = delete;

  // Only the terminal's foreground process may talk to it; a background
  // process would be stopped by the first read or mode change.
  bool usable() const { return fd_ >= 0 && ::tcgetpgrp(fd_) == ::getpgrp(); }

  void write(std::string_view text) {
    while (!text.empty()) {
      ssize_t n = ::write(fd_, text.data(), text.size());
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) return;
      text.remove_prefix(static_cast<std::size_t>(n));
    }
  }

  // Shows the prompt and reads one line without its end; nothing at end of
  // input. Echo goes off before the prompt appears, so nothing typed after
  // it is shown, and typed-ahead input is kept.
  std::optional<std::string> ask(std::string_view prompt, bool echo) {
    termios saved{};
    bool restore = false;
    if (!echo && ::tcgetattr(fd_, &saved) == 0) {
      termios quiet = saved;
      quiet.c_lflag &= ~static_cast<tcflag_t>(ECHO);
      quiet.c_lflag |= ECHONL;
      restore = ::tcsetattr(fd_, TCSANOW, &quiet) == 0;
    }
    write(prompt);
    std::string line;
    bool ended = false;
    for (;;) {
      char c = 0;
      ssize_t n = ::read(fd_, &c, 1);
      if (n < 0 && errno == EINTR) continue;
      if (n <= 0) {
        ended = line.empty();
        break;
      }
      if (c == '\n') break;
      if (c != '\r' && line.size() < kMaxLine) line.push_back(c);
    }
    if (restore) ::tcsetattr(fd_, TCSANOW, &saved);
    if (ended) return std::nullopt;
    return line;
  }

 private:
  int fd_;
};

std::string lowered(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

// Asks for one text; Enter keeps `value`. False at end of input.
bool askText(Terminal& tty, std::string_view label, std::string& value, bool secret) {
  std::string prompt(label);
  if (secret) {
    prompt += value.empty() ? " [empty]: " : " [unchanged]: ";
  } else {
    prompt += " [" + value + "]: ";
  }
  auto line = tty.ask(prompt, !secret);
  if (!line) return false;
  if (!line->empty()) value = *line;
  return true;
}

bool askSwitch(Terminal& tty, std::string_view label, bool& value) {
  for (;;) {
    auto line = tty.ask(std::string(label) + " (yes/no) [" + (value ? "yes" : "no") + "]: ", true);
    if (!line) return false;
    std::string answer = lowered(*line);
    if (answer.empty()) return true;
    if (answer == "y" || answer == "yes") {
      value = true;
      return true;
    }
    if (answer == "n" || answer == "no") {
      value = false;
      return true;
    }
    tty.write("Please answer yes or no.\n");
  }
}

// A drop-down list as a numbered list: the number or the text picks one,
// Enter keeps the current one.
bool askChoice(Terminal& tty, std::string_view label, const std::vector<std::string>& choices,
               std::size_t& chosen) {
  if (choices.empty()) return true;
  if (chosen >= choices.size()) chosen = 0;
  std::string list = std::string(label) + ":";
  for (std::size_t i = 0; i < choices.size(); ++i)
    list += " " + std::to_string(i + 1) + " = " + choices[i] + ";";
  list.back() = '\n';
  tty.write(list);
  for (;;) {
    auto line = tty.ask(
        std::string(label) + " (1-" + std::to_string(choices.size()) + ") [" + choices[chosen] + "]: ", true);
    if (!line) return false;
    if (line->empty()) return true;
    std::string answer = lowered(*line);
    for (std::size_t i = 0; i < choices.size(); ++i) {
      if (answer == std::to_string(i + 1) || answer == lowered(choices[i])) {
        chosen = i;
        return true;
      }
    }
    tty.write("Please answer a number from 1 to " + std::to_string(choices.size()) + ".\n");
  }
}

enum class Choice { Ok, Cancel, Ended };

Choice askOkCancel(Terminal& tty) {
  for (;;) {
    auto line = tty.ask("OK or Cancel? [OK]: ", true);
    if (!line) return Choice::Ended;
    std::string answer = lowered(*line);
    if (answer.empty() || answer == "ok" || answer == "o") return Choice::Ok;
    if (answer == "cancel" || answer == "c") return Choice::Cancel;
    tty.write("Please answer OK or Cancel.\n");
  }
}

// Fills the form once; false when the terminal closed.
bool askFields(Terminal& tty, DialogFields& f) {
  return askText(tty, "Username (e.g. \"40\")", f.username, false) &&
         askText(tty, "Extensions (e.g. \"202; 300-349\")", f.extensions, false) &&
         askText(tty, "Password", f.password, true) &&
         askText(tty, "Password (repeat)", f.passwordRepeat, true) &&
         askText(tty, "Domain (e.g. \"example.com\")", f.domain, false) &&
         askText(tty, "Address (e.g. \"pbx.example.com\")", f.address, false) &&
         askText(tty, "Port (e.g. \"443\")", f.port, false) &&
         askSwitch(tty, "Use encryption for CSTA", f.encrypt) &&
         askChoice(tty, "TLS version", f.tlsVersionChoices, f.tlsVersion) &&
         askText(tty, "Client certificate", f.clientcert, false) &&
         askSwitch(tty, "Auto originate outbound calls", f.autooriginate) &&
         askSwitch(tty, "Report calls to applications", f.callevents);
}

}  // namespace

DialogOutcome ShowConfigDialog(void* module, void* /*owner*/, const DialogCallbacks& callbacks) {
  if (module == nullptr) return DialogOutcome::NotShown;
  Terminal tty;
  if (!tty.usable()) return DialogOutcome::NotShown;

  DialogFields fields = callbacks.load();
  tty.write("Quorvel ONE TAPI service provider " + fields.versionText + "\nPress Enter to keep a value.\n");
  for (;;) {
    if (!askFields(tty, fields)) return DialogOutcome::Cancel;
    Choice choice = askOkCancel(tty);
    if (choice != Choice::Ok) {
      tty.write("Cancelled.\n");
      return DialogOutcome::Cancel;
    }
    auto refusal = callbacks.accept(fields);
    if (!refusal) {
      tty.write("Saved.\n");
      return DialogOutcome::Ok;
    }
    // The form stays open with everything as typed.
    tty.write(refusal->caption + ": " + refusal->message + "\n");
  }
}

}  // namespace qv
