// The x64 package installed, upgraded and removed silently by wine's msiexec,
// as an administrator would run it. Runs in a wine prefix of its own.
#include <windows.h>
// windows.h first: the Windows Installer headers use its types.
#include <msi.h>
#include <msiquery.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

#include "version.h"

namespace qv {
namespace {

const wchar_t kSettingsKey[] = L"SOFTWARE\\quorvelone\\tapi";

std::string narrow(const std::wstring& text) {
  std::string out;
  for (wchar_t c : text) out += static_cast<char>(c < 128 ? c : '?');
  return out;
}

std::wstring widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

std::wstring currentFolder() {
  wchar_t buffer[MAX_PATH];
  GetCurrentDirectoryW(MAX_PATH, buffer);
  return buffer;
}

std::wstring systemFile(const wchar_t* name) {
  wchar_t buffer[MAX_PATH];
  GetSystemDirectoryW(buffer, MAX_PATH);
  return std::wstring(buffer) + L"\\" + name;
}

std::wstring programFolder() {
  wchar_t buffer[MAX_PATH];
  ExpandEnvironmentStringsW(L"%ProgramFiles%\\quorvelone", buffer, MAX_PATH);
  return buffer;
}

bool exists(const std::wstring& path) { return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

// The log as text; a UTF-16 log (Windows) loses its zero bytes.
std::string readLog(const std::wstring& path) {
  std::ifstream in(std::filesystem::path(path), std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  std::string text;
  for (char c : bytes.str())
    if (c != '\0') text += c;
  return text;
}

struct RunResult {
  DWORD exitCode = 0xFFFFFFFF;
  std::string output;  // stdout and stderr (or the msiexec log)
};

// Runs a command line to its end, with stdout and stderr in a file when
// captured. msiexec's custom action server outlives it, so msiexec gets no
// inherited handles.
RunResult runProgram(const std::wstring& commandLine, bool capture = true) {
  RunResult run;
  static int runs = 0;
  const std::wstring outPath = currentFolder() + L"\\program-output-" + std::to_wstring(++runs) + L".txt";
  SECURITY_ATTRIBUTES inherit{sizeof(SECURITY_ATTRIBUTES), nullptr, TRUE};
  HANDLE out = INVALID_HANDLE_VALUE;
  STARTUPINFOW startup{};
  startup.cb = sizeof startup;
  if (capture) {
    out = CreateFileW(outPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                      &inherit, CREATE_ALWAYS, 0, nullptr);
    EXPECT_NE(out, INVALID_HANDLE_VALUE);
    startup.dwFlags = STARTF_USESTDHANDLES;
    startup.hStdOutput = out;
    startup.hStdError = out;
  }
  PROCESS_INFORMATION process{};
  std::wstring line = commandLine;
  if (CreateProcessW(nullptr, line.data(), nullptr, nullptr, capture, 0, nullptr, nullptr, &startup,
                     &process)) {
    WaitForSingleObject(process.hProcess, INFINITE);
    GetExitCodeProcess(process.hProcess, &run.exitCode);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
  } else {
    ADD_FAILURE() << "cannot start " << narrow(commandLine);
  }
  if (capture) {
    CloseHandle(out);
    run.output = readLog(outPath);
    DeleteFileW(outPath.c_str());
  }
  return run;
}

// msiexec with a verbose log; the log is the run's output.
RunResult msiexec(const std::wstring& arguments, const wchar_t* logName) {
  const std::wstring log = currentFolder() + L"\\" + logName;
  DeleteFileW(log.c_str());
  RunResult run = runProgram(L"msiexec.exe " + arguments + L" /qn /l*v \"" + log + L"\"", false);
  run.output = readLog(log);
  return run;
}

std::wstring package(const wchar_t* name) { return L"\"" + currentFolder() + L"\\" + name + L"\""; }

std::wstring productCode(const wchar_t* name) {
  const std::wstring path = currentFolder() + L"\\" + name;
  MSIHANDLE database = 0;
  std::wstring code;
  if (MsiOpenDatabaseW(path.c_str(), MSIDBOPEN_READONLY, &database) != ERROR_SUCCESS) return code;
  MSIHANDLE view = 0;
  if (MsiDatabaseOpenViewW(database, L"SELECT `Value` FROM `Property` WHERE `Property` = 'ProductCode'",
                           &view) == ERROR_SUCCESS) {
    MSIHANDLE record = 0;
    if (MsiViewExecute(view, 0) == ERROR_SUCCESS && MsiViewFetch(view, &record) == ERROR_SUCCESS) {
      wchar_t buffer[64];
      DWORD length = 64;
      if (MsiRecordGetStringW(record, 1, buffer, &length) == ERROR_SUCCESS) code = buffer;
      MsiCloseHandle(record);
    }
    MsiCloseHandle(view);
  }
  MsiCloseHandle(database);
  return code;
}

bool installed(const wchar_t* packageName) {
  return MsiQueryProductStateW(productCode(packageName).c_str()) == INSTALLSTATE_DEFAULT;
}

std::optional<std::string> setting(const wchar_t* name) {
  wchar_t buffer[512];
  DWORD size = sizeof buffer;
  if (RegGetValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, RRF_RT_REG_SZ, nullptr, buffer, &size) !=
      ERROR_SUCCESS)
    return std::nullopt;
  return narrow(buffer);
}

bool settingsKeyExists() {
  HKEY key = nullptr;
  if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kSettingsKey, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
  RegCloseKey(key);
  return true;
}

void seedSetting(const wchar_t* name, const wchar_t* value) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_LOCAL_MACHINE, kSettingsKey, name, REG_SZ, value,
                            static_cast<DWORD>((wcslen(value) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

// Which tapi32.dll programs load: wine's own (stubs that fail) or ours,
// copied into system32 by SetUpTestSuite.
void preferTapi32(const wchar_t* order) {
  ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, L"Software\\Wine\\DllOverrides", L"tapi32", REG_SZ, order,
                            static_cast<DWORD>((wcslen(order) + 1) * sizeof(wchar_t))),
            ERROR_SUCCESS);
}

std::string fileVersion(const std::wstring& path) {
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path.c_str(), &ignored);
  if (size == 0) return "";
  std::vector<unsigned char> data(size);
  if (!GetFileVersionInfoW(path.c_str(), 0, size, data.data())) return "";
  VS_FIXEDFILEINFO* fixed = nullptr;
  UINT length = 0;
  if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) || fixed == nullptr)
    return "";
  wchar_t* text = nullptr;
  if (!VerQueryValueW(data.data(), L"\\StringFileInfo\\040904B0\\FileVersion",
                      reinterpret_cast<void**>(&text), &length))
    return "";
  return std::to_string(HIWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionMS)) + "." +
         std::to_string(HIWORD(fixed->dwFileVersionLS)) + "." +
         std::to_string(LOWORD(fixed->dwFileVersionLS)) + " " + narrow(text);
}

bool contains(const std::string& text, const std::string& part) {
  return text.find(part) != std::string::npos;
}

// The property each registry value is given by, and a value for it.
struct Setting {
  const wchar_t* property;
  const wchar_t* value;
  const char* given;
};
const Setting kSettings[] = {
    {L"PBXADDRESS", L"address", "pbx.example.test"},
    {L"PBXPORT", L"port", "4443"},
    {L"PBXDOMAIN", L"domain", "example.test"},
    {L"PBXENCRYPT", L"encrypt", "0"},
    {L"USERNAME", L"username", "tapi user"},
    {L"LOGLEVEL", L"loglevel", "5"},
    {L"LOGFILE", L"logfile", "C:\\Logs\\quorvelone tapi.log"},
    {L"CALLEVENTS", L"callevents", "1"},
    {L"CERTPIN", L"certpin", "0123456789abcdef0123456789abcdef01234567"},
    {L"VERIFYCERT", L"verifycert", "1"},
    {L"CAFILE", L"cafile", "C:\\certs\\pbx ca.pem"},
    {L"TLSVERSION", L"tlsversion", "1.0"},
    {L"INVOKEID", L"invokeid", "ascii"},
    {L"LOGROTATE", L"logrotate", "3"},
    {L"LINES", L"lines", "202=Reception, 300-302"},
};

std::wstring propertyArgument(const Setting& s) {
  return std::wstring(s.property) + L"=\"" + widen(s.given) + L"\"";
}

std::string installedList() {
  return runProgram(L"\"" + programFolder() + L"\\installer.exe\" /List").output;
}

class MsiPackageTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Our TAPI32 test double in place of wine's; each test picks which loads.
    ASSERT_TRUE(
        CopyFileW((currentFolder() + L"\\tapi32.dll").c_str(), systemFile(L"tapi32.dll").c_str(), FALSE));
  }
  void SetUp() override { RegDeleteTreeW(HKEY_LOCAL_MACHINE, kSettingsKey); }
};

// Wine's stub tapi32 refuses the registration: the action fails, its text is
// in the log, and nothing of the package is left behind.
TEST_F(MsiPackageTest, RegistrationFailureRollsTheInstallationBack) {
  preferTapi32(L"builtin");
  const RunResult install =
      msiexec(L"/i " + package(QV_MSI_CURRENT) + L" PBXADDRESS=pbx.example.test", L"stub.log");
  EXPECT_EQ(install.exitCode, static_cast<DWORD>(ERROR_INSTALL_FAILURE));
  EXPECT_TRUE(contains(install.output, "quorvelone: installer.exe: TSP LINEERR_OPERATIONFAILED."))
      << install.output;
  EXPECT_TRUE(contains(install.output, "installer.exe\" exit code 0."));
  EXPECT_TRUE(contains(install.output,
                       "quorvelone: the provider was not registered with TAPI; the installation is "
                       "rolled back."));
  EXPECT_FALSE(installed(QV_MSI_CURRENT));
  EXPECT_FALSE(exists(systemFile(L"quorvelone.tsp")));
  EXPECT_FALSE(exists(programFolder() + L"\\installer.exe"));
  // Wine's installer sometimes leaves the emptied folder behind (see removal).
  EXPECT_TRUE(!exists(programFolder()) || std::filesystem::is_empty(std::filesystem::path(programFolder())));
  EXPECT_EQ(setting(L"address"), std::nullopt);
}

// An older version installed with every setting but one, the current one over
// it with one setting, then removed.
TEST_F(MsiPackageTest, InstallUpgradeAndRemove) {
  preferTapi32(L"native,builtin");
  seedSetting(L"loglevel", L"7");

  {
    SCOPED_TRACE("older version, every property but LOGLEVEL");
    std::wstring arguments = L"/i " + package(QV_MSI_OLDER);
    for (const Setting& s : kSettings)
      if (std::wstring(s.property) != L"LOGLEVEL") arguments += L" " + propertyArgument(s);
    const RunResult install = msiexec(arguments, L"older.log");
    ASSERT_EQ(install.exitCode, 0u) << install.output;
    EXPECT_TRUE(contains(install.output, "installer.exe\" exit code 0."));
    EXPECT_TRUE(contains(install.output, "quorvelone: the provider is registered with TAPI."));
    EXPECT_TRUE(installed(QV_MSI_OLDER));
    for (const Setting& s : kSettings) {
      SCOPED_TRACE(narrow(s.value));
      EXPECT_EQ(setting(s.value), std::wstring(s.property) == L"LOGLEVEL" ? "7" : s.given);
    }
    EXPECT_EQ(installedList(), "Provider 1: quorvelone.tsp\r\r\n");
  }

  {
    SCOPED_TRACE("current version over it, PBXDOMAIN only");
    const RunResult upgrade =
        msiexec(L"/i " + package(QV_MSI_CURRENT) + L" PBXDOMAIN=other.example.test", L"upgrade.log");
    ASSERT_EQ(upgrade.exitCode, 0u) << upgrade.output;
    EXPECT_TRUE(contains(upgrade.output, "quorvelone: the provider is registered with TAPI."));
    EXPECT_FALSE(installed(QV_MSI_OLDER));
    EXPECT_TRUE(installed(QV_MSI_CURRENT));
    for (const Setting& s : kSettings) {
      SCOPED_TRACE(narrow(s.value));
      const std::wstring property = s.property;
      EXPECT_EQ(setting(s.value), property == L"PBXDOMAIN"  ? "other.example.test"
                                  : property == L"LOGLEVEL" ? "7"
                                                            : s.given);
    }
    // The older version's removal took the provider off the list, the new
    // installation put it back: one entry, under a new id.
    EXPECT_EQ(installedList(), "Provider 2: quorvelone.tsp\r\r\n");
    const std::string version = std::to_string(QV_VERSION_MAJOR) + "." + std::to_string(QV_VERSION_MINOR) +
                                "." + std::to_string(QV_VERSION_PATCH);
    EXPECT_EQ(fileVersion(systemFile(L"quorvelone.tsp")), version + ".0 " + version);
    EXPECT_TRUE(exists(programFolder() + L"\\README.txt"));
  }

  {
    SCOPED_TRACE("older version over the current one");
    const RunResult downgrade = msiexec(L"/i " + package(QV_MSI_OLDER), L"downgrade.log");
    EXPECT_NE(downgrade.exitCode, 0u);
    EXPECT_TRUE(installed(QV_MSI_CURRENT));
    EXPECT_FALSE(installed(QV_MSI_OLDER));
  }

  {
    SCOPED_TRACE("removal");
    const RunResult remove = msiexec(L"/x " + package(QV_MSI_CURRENT), L"remove.log");
    ASSERT_EQ(remove.exitCode, 0u) << remove.output;
    EXPECT_TRUE(contains(remove.output, "installer.exe\" /Uninstall exit code 0."));
    EXPECT_TRUE(contains(remove.output, "quorvelone: the provider is not in TAPI's list."));
    EXPECT_FALSE(installed(QV_MSI_CURRENT));
    EXPECT_FALSE(exists(systemFile(L"quorvelone.tsp")));
    // Windows removes the folder; wine's msiexec tries before the files are
    // gone and leaves it empty.
    EXPECT_TRUE(!exists(programFolder()) ||
                std::filesystem::is_empty(std::filesystem::path(programFolder())));
    // The provider list is empty: read through the test double's installer copy.
    EXPECT_EQ(runProgram(L"\"" + currentFolder() + L"\\installer.exe\" /List").output, "");
    EXPECT_TRUE(settingsKeyExists());
    EXPECT_EQ(setting(L"address"), "pbx.example.test");
    EXPECT_EQ(setting(L"loglevel"), "7");
  }
}

}  // namespace
}  // namespace qv
