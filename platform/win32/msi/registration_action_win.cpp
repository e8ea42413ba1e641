// Windows Installer custom actions of the packages: run installer.exe to add
// the provider to TAPI's list (install) or take it off again (removal), and
// copy what it printed and its exit code into the installer's log. The
// installer reports TAPI's refusals on stderr with exit code 0, so the text
// decides whether the registration worked.
#include <windows.h>
// windows.h first: the Windows Installer headers use its types.
#include <msi.h>
#include <msiquery.h>

#include <string>
#include <vector>

namespace {

// The installer prints one line; more than this is cut in the log.
constexpr std::size_t kOutputLimit = 4096;
// TAPI calls normally take well under a second; a hung telephony service
// must not hang the installation.
constexpr DWORD kRunTimeoutMs = 120000;
constexpr DWORD kPollMs = 50;

void logText(MSIHANDLE install, const std::wstring& text) {
  // The text goes in as a field so brackets in it are not formatted.
  PMSIHANDLE record = MsiCreateRecord(1);
  MsiRecordSetStringW(record, 0, L"[1]");
  MsiRecordSetStringW(record, 1, (L"quorvelone: " + text).c_str());
  MsiProcessMessage(install, INSTALLMESSAGE_INFO, record);
}

std::wstring actionData(MSIHANDLE install) {
  DWORD length = 0;
  wchar_t empty[1] = {};
  if (MsiGetPropertyW(install, L"CustomActionData", empty, &length) != ERROR_MORE_DATA) return {};
  std::vector<wchar_t> buffer(length + 1);
  length = static_cast<DWORD>(buffer.size());
  if (MsiGetPropertyW(install, L"CustomActionData", buffer.data(), &length) != ERROR_SUCCESS) return {};
  return std::wstring(buffer.data(), length);
}

std::wstring widen(const std::string& text) {
  if (text.empty()) return {};
  const int length = MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
  std::wstring wide(static_cast<std::size_t>(length), L'\0');
  MultiByteToWideChar(CP_ACP, 0, text.data(), static_cast<int>(text.size()), wide.data(), length);
  return wide;
}

// The output's lines without their line ends (the C runtime writes CR CR LF).
std::vector<std::string> splitLines(const std::string& output) {
  std::vector<std::string> lines;
  std::string line;
  for (char c : output) {
    if (c == '\r') continue;
    if (c == '\n') {
      lines.push_back(line);
      line.clear();
    } else {
      line += c;
    }
  }
  if (!line.empty()) lines.push_back(line);
  return lines;
}

struct RunResult {
  bool started = false;
  bool timedOut = false;
  DWORD startError = 0;
  DWORD exitCode = 0;
  std::vector<std::string> lines;
};

// Keeps what fits, drops the rest, never blocks.
void drainPipe(HANDLE pipe, std::string& output) {
  for (;;) {
    DWORD available = 0;
    if (!PeekNamedPipe(pipe, nullptr, 0, nullptr, &available, nullptr) || available == 0) return;
    char chunk[512];
    DWORD got = 0;
    if (!ReadFile(pipe, chunk, available < sizeof chunk ? available : sizeof chunk, &got, nullptr) ||
        got == 0)
      return;
    if (output.size() < kOutputLimit)
      output.append(chunk, got < kOutputLimit - output.size() ? got : kOutputLimit - output.size());
  }
}

RunResult runInstaller(const std::wstring& program, const wchar_t* argument) {
  RunResult result;
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE readEnd = nullptr;
  HANDLE writeEnd = nullptr;
  if (!CreatePipe(&readEnd, &writeEnd, &inherit, 0)) {
    result.startError = GetLastError();
    return result;
  }
  SetHandleInformation(readEnd, HANDLE_FLAG_INHERIT, 0);

  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  startup.dwFlags = STARTF_USESTDHANDLES;
  startup.hStdInput = nullptr;
  startup.hStdOutput = writeEnd;
  startup.hStdError = writeEnd;
  std::wstring commandLine = L"\"" + program + L"\"";
  if (argument != nullptr) commandLine += std::wstring(L" ") + argument;
  PROCESS_INFORMATION process{};
  // The installer's own folder is its working folder, as when run by hand.
  const std::wstring folder = program.substr(0, program.find_last_of(L"\\/") + 1);
  const BOOL created =
      CreateProcessW(program.c_str(), commandLine.data(), nullptr, nullptr, TRUE, CREATE_NO_WINDOW, nullptr,
                     folder.empty() ? nullptr : folder.c_str(), &startup, &process);
  CloseHandle(writeEnd);
  if (!created) {
    result.startError = GetLastError();
    CloseHandle(readEnd);
    return result;
  }
  result.started = true;
  CloseHandle(process.hThread);

  std::string output;
  const ULONGLONG deadline = GetTickCount64() + kRunTimeoutMs;
  for (;;) {
    const DWORD wait = WaitForSingleObject(process.hProcess, kPollMs);
    drainPipe(readEnd, output);
    if (wait != WAIT_TIMEOUT) break;
    if (GetTickCount64() >= deadline) {
      TerminateProcess(process.hProcess, 1);
      WaitForSingleObject(process.hProcess, kPollMs * 20);
      result.timedOut = true;
      break;
    }
  }
  drainPipe(readEnd, output);
  GetExitCodeProcess(process.hProcess, &result.exitCode);
  CloseHandle(process.hProcess);
  CloseHandle(readEnd);
  result.lines = splitLines(output);
  return result;
}

// Logs the run; true when the installer started and finished on its own.
bool logRun(MSIHANDLE install, const std::wstring& command, const RunResult& run) {
  if (!run.started) {
    logText(install, command + L" could not be started (error " + std::to_wstring(run.startError) + L").");
    return false;
  }
  for (const std::string& line : run.lines) logText(install, L"installer.exe: " + widen(line));
  if (run.timedOut) {
    logText(install, command + L" did not finish within " + std::to_wstring(kRunTimeoutMs / 1000) +
                         L" s and was stopped.");
    return false;
  }
  logText(install, command + L" exit code " + std::to_wstring(static_cast<long>(run.exitCode)) + L".");
  return true;
}

}  // namespace

// Deferred, after the files are in place. CustomActionData: the installed
// installer.exe. Anything but a clean run (no output, or "already
// installed") fails the action, and the installation is rolled back.
extern "C" UINT __stdcall RegisterProvider(MSIHANDLE install) {
  const std::wstring program = actionData(install);
  const std::wstring command = L"\"" + program + L"\"";
  const RunResult run = runInstaller(program, nullptr);
  bool registered = logRun(install, command, run) && run.exitCode == 0;
  if (registered) {
    for (const std::string& line : run.lines)
      if (line != "TSP already installed.") registered = false;
  }
  if (!registered) {
    logText(install, L"the provider was not registered with TAPI; the installation is rolled back.");
    return ERROR_INSTALL_FAILURE;
  }
  logText(install, L"the provider is registered with TAPI.");
  return ERROR_SUCCESS;
}

// Deferred, before the files go (and as the rollback of RegisterProvider).
// CustomActionData: the installed installer.exe. A failure is logged but does
// not stop the removal: a broken telephony service must not keep the product
// on the machine.
extern "C" UINT __stdcall UnregisterProvider(MSIHANDLE install) {
  const std::wstring program = actionData(install);
  const std::wstring command = L"\"" + program + L"\" /Uninstall";
  const RunResult run = runInstaller(program, L"/Uninstall");
  bool removed = logRun(install, command, run) && run.exitCode == 0;
  if (removed) {
    for (const std::string& line : run.lines)
      if (line != "TSP not found.") removed = false;
  }
  logText(install, removed ? L"the provider is not in TAPI's list."
                           : L"the provider may still be in TAPI's list; the removal goes on.");
  return ERROR_SUCCESS;
}
