// The Windows dialog of the provider under a real window manager (wine with
// an X display): a helper thread finds the dialog, types and clicks, while
// the test thread sits in the provider's entry point.
#include <windows.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "platform/registry.h"
#include "session/settings.h"
#include "version.h"
#include "tests/dialog/png_writer.h"

namespace qv {
namespace {

using ProviderConfigFunction = LONG(WINAPI*)(void*, HWND, DWORD);
using LineConfigFunction = LONG(WINAPI*)(void*, DWORD, HWND, LPCWSTR);

constexpr wchar_t kCaption[] = L"Quorvel ONE TAPI service provider";

HWND waitForWindow(const wchar_t* caption, DWORD timeoutMs = 15000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    HWND window = FindWindowW(L"#32770", caption);
    if (window != nullptr && IsWindowVisible(window)) return window;
    Sleep(20);
  }
  return nullptr;
}

bool waitUntilGone(HWND window, DWORD timeoutMs = 15000) {
  const ULONGLONG deadline = GetTickCount64() + timeoutMs;
  while (GetTickCount64() < deadline) {
    if (!IsWindow(window)) return true;
    Sleep(20);
  }
  return false;
}

std::wstring itemText(HWND dialog, int id) {
  wchar_t buffer[512] = {};
  GetDlgItemTextW(dialog, id, buffer, 512);
  return buffer;
}

bool checked(HWND dialog, int id) {
  return SendDlgItemMessageW(dialog, id, BM_GETCHECK, 0, 0) == BST_CHECKED;
}

void setChecked(HWND dialog, int id, bool on) {
  SendDlgItemMessageW(dialog, id, BM_SETCHECK, on ? BST_CHECKED : BST_UNCHECKED, 0);
}

class WinDialogTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    // Without a window manager on the test display, wine draws captions and
    // frames itself and does not wait for a manager to map or hide windows.
    std::system("reg add \"HKCU\\Software\\Wine\\X11 Driver\" /v Managed /d N /f >NUL 2>NUL");
    std::system("reg add \"HKCU\\Software\\Wine\\X11 Driver\" /v Decorated /d N /f >NUL 2>NUL");
  }
  static void TearDownTestSuite() {
    std::system("reg delete \"HKCU\\Software\\Wine\\X11 Driver\" /v Managed /f >NUL 2>NUL");
    std::system("reg delete \"HKCU\\Software\\Wine\\X11 Driver\" /v Decorated /f >NUL 2>NUL");
  }
  void SetUp() override {
    if (std::getenv("DISPLAY") == nullptr) GTEST_SKIP() << "no X display (run under xvfb-run)";
    deleteProviderKeyForTesting();
    module_ = LoadLibraryW(L"quorvelone.tsp");
    ASSERT_NE(module_, nullptr) << GetLastError();
    providerConfig_ = reinterpret_cast<ProviderConfigFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "TUISPI_providerConfig")));
    lineConfig_ = reinterpret_cast<LineConfigFunction>(
        reinterpret_cast<void*>(GetProcAddress(module_, "TUISPI_lineConfigDialog")));
    ASSERT_NE(providerConfig_, nullptr);
    ASSERT_NE(lineConfig_, nullptr);
  }
  void TearDown() override {
    if (module_ != nullptr) FreeLibrary(module_);
    deleteProviderKeyForTesting();
  }

  // Opens the dialog on this thread; `drive` works it from a helper thread
  // and must close it. Whatever happens, the helper closes it at the end.
  void runDialog(const std::function<void(HWND)>& drive, bool lineDialog = false) {
    std::atomic<bool> returned{false};
    std::thread helper([&] {
      HWND dialog = waitForWindow(kCaption);
      if (dialog == nullptr) {
        ADD_FAILURE() << "the dialog did not appear";
        return;
      }
      drive(dialog);
      if (IsWindow(dialog) && !waitUntilGone(dialog, 15000)) {
        ADD_FAILURE() << "the dialog is still open (entry point returned: " << returned.load() << ")";
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      }
    });
    const LONG result =
        lineDialog ? lineConfig_(nullptr, 0, nullptr, nullptr) : providerConfig_(nullptr, nullptr, 1);
    helper.join();
    EXPECT_EQ(result, 0);
  }

  HMODULE module_ = nullptr;
  ProviderConfigFunction providerConfig_ = nullptr;
  LineConfigFunction lineConfig_ = nullptr;
};

// Grabs the dialog, frame included, as it would be drawn on screen.
void saveScreenshot(HWND window, const std::string& path) {
  RECT r{};
  GetWindowRect(window, &r);
  const int width = r.right - r.left;
  const int height = r.bottom - r.top;
  ASSERT_GT(width, 0);
  ASSERT_GT(height, 0);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof info.bmiHeader;
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* bits = nullptr;
  HBITMAP bitmap = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  HGDIOBJ old = SelectObject(memory, bitmap);
  // What the display shows there: wine draws the frame itself (see SetUpTestSuite).
  EXPECT_TRUE(BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY | CAPTUREBLT));
  GdiFlush();
  std::vector<std::uint8_t> rgb(static_cast<std::size_t>(width) * height * 3);
  const auto* bgra = static_cast<const std::uint8_t*>(bits);
  for (std::size_t i = 0; i < static_cast<std::size_t>(width) * height; ++i) {
    rgb[3 * i] = bgra[4 * i + 2];
    rgb[3 * i + 1] = bgra[4 * i + 1];
    rgb[3 * i + 2] = bgra[4 * i];
  }
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  EXPECT_TRUE(test::writePng(path, width, height, rgb)) << path;
}

TEST_F(WinDialogTest, TemplateHasItsControlsWhereTheyBelong) {
  runDialog([](HWND dialog) {
    wchar_t caption[128] = {};
    GetWindowTextW(dialog, caption, 128);
    EXPECT_STREQ(caption, kCaption);
    const LONG style = GetWindowLongW(dialog, GWL_STYLE);
    EXPECT_TRUE(style & WS_CAPTION);
    EXPECT_TRUE(style & WS_SYSMENU);
    EXPECT_TRUE(style & DS_MODALFRAME);

    RECT client{};
    GetClientRect(dialog, &client);
    RECT size{0, 0, 253, 217};
    MapDialogRect(dialog, &size);
    EXPECT_EQ(client.right, size.right);
    EXPECT_EQ(client.bottom, size.bottom);

    LOGFONTW font{};
    GetObjectW(reinterpret_cast<HFONT>(SendMessageW(dialog, WM_GETFONT, 0, 0)), sizeof font, &font);
    EXPECT_STREQ(font.lfFaceName, L"MS Shell Dlg");

    struct Control {
      int id;
      const wchar_t* cls;
      int x, y, w, h;
      LONG styleBits;
      const wchar_t* text;
    };
    const Control controls[] = {
        {1001, L"Edit", 131, 7, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr},
        {1015, L"Edit", 131, 23, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr},
        {1002, L"Edit", 131, 39, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, nullptr},
        {1003, L"Edit", 131, 55, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_PASSWORD, nullptr},
        {1004, L"Edit", 131, 71, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr},
        {1005, L"Edit", 131, 87, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr},
        {1006, L"Edit", 131, 103, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL | ES_NUMBER, nullptr},
        {1010, L"Button", 131, 119, 41, 10, WS_TABSTOP | BS_AUTOCHECKBOX, L"Encrypt"},
        // A closed drop-down list is as high as its font makes it (h 0: not checked).
        {1013, L"ComboBox", 131, 131, 115, 0, WS_TABSTOP | CBS_DROPDOWNLIST, L"1.0 as in the first release"},
        {1014, L"Edit", 131, 147, 115, 14, WS_BORDER | WS_TABSTOP | ES_AUTOHSCROLL, nullptr},
        {1011, L"Button", 131, 165, 48, 10, WS_TABSTOP | BS_AUTOCHECKBOX, L"Automatic"},
        {1012, L"Button", 7, 179, 120, 10, WS_TABSTOP | BS_AUTOCHECKBOX, L"Report calls to applications"},
        {IDOK, L"Button", 7, 196, 50, 14, WS_TABSTOP | BS_DEFPUSHBUTTON, L"OK"},
        {IDCANCEL, L"Button", 61, 196, 50, 14, WS_TABSTOP, L"Cancel"},
        {1009, L"Static", 177, 202, 69, 8, SS_RIGHT, L"" QV_VERSION_TEXT},
    };
    for (const Control& c : controls) {
      SCOPED_TRACE(c.id);
      HWND item = GetDlgItem(dialog, c.id);
      ASSERT_NE(item, nullptr);
      wchar_t cls[32] = {};
      GetClassNameW(item, cls, 32);
      EXPECT_STREQ(cls, c.cls);
      // In a dialog an edit's WS_BORDER becomes a sunken client edge.
      LONG itemStyle = GetWindowLongW(item, GWL_STYLE);
      if (GetWindowLongW(item, GWL_EXSTYLE) & WS_EX_CLIENTEDGE) itemStyle |= WS_BORDER;
      EXPECT_EQ(itemStyle & c.styleBits, c.styleBits);
      // The dialog manager maps origin and size separately.
      RECT origin{c.x, c.y, c.w, c.h};
      MapDialogRect(dialog, &origin);
      RECT actual{};
      GetWindowRect(item, &actual);
      MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&actual), 2);
      EXPECT_EQ(actual.left, origin.left);
      EXPECT_EQ(actual.top, origin.top);
      EXPECT_EQ(actual.right - actual.left, origin.right);
      if (c.h != 0) {
        EXPECT_EQ(actual.bottom - actual.top, origin.bottom);
      }
      if (c.text != nullptr) {
        EXPECT_EQ(itemText(dialog, c.id), c.text);
      }
    }

    // Tab order: the edits, the switches, then the buttons.
    std::vector<int> order;
    HWND first = GetNextDlgTabItem(dialog, nullptr, FALSE);
    for (HWND item = first; item != nullptr && order.size() < 20;) {
      order.push_back(GetDlgCtrlID(item));
      item = GetNextDlgTabItem(dialog, item, FALSE);
      if (item == first) break;
    }
    EXPECT_EQ(order, (std::vector<int>{1001, 1015, 1002, 1003, 1004, 1005, 1006, 1010, 1013, 1014, 1011, 1012,
                                       IDOK, IDCANCEL}));

    // Each row's label starts level with its control's text.
    const std::pair<const wchar_t*, int> rows[] = {{L"TLS version:", 1013}, {L"Client certificate:", 1014}};
    for (const auto& [label, id] : rows) {
      SCOPED_TRACE(id);
      HWND labelItem = nullptr;
      for (HWND item = GetWindow(GetDlgItem(dialog, IDCANCEL), GW_HWNDNEXT); item != nullptr;
           item = GetWindow(item, GW_HWNDNEXT)) {
        wchar_t text[128] = {};
        GetWindowTextW(item, text, 128);
        if (std::wstring(text) == label) labelItem = item;
      }
      ASSERT_NE(labelItem, nullptr);
      RECT l{}, c{};
      GetWindowRect(labelItem, &l);
      GetWindowRect(GetDlgItem(dialog, id), &c);
      EXPECT_LT(l.right, c.left);
      EXPECT_GE(l.top, c.top);
      EXPECT_LT(l.top, c.bottom);
    }
    // The list offers the four versions, the widest entry in full.
    HWND list = GetDlgItem(dialog, 1013);
    ASSERT_EQ(SendMessageW(list, CB_GETCOUNT, 0, 0), 4);
    const wchar_t* entries[] = {L"1.0 as in the first release", L"1.2", L"1.3", L"best available"};
    for (int i = 0; i < 4; ++i) {
      wchar_t text[64] = {};
      SendMessageW(list, CB_GETLBTEXT, i, reinterpret_cast<LPARAM>(text));
      EXPECT_STREQ(text, entries[i]);
    }
    HDC dc = GetDC(list);
    HGDIOBJ oldFont = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(list, WM_GETFONT, 0, 0)));
    SIZE extent{};
    GetTextExtentPoint32W(dc, entries[0], static_cast<int>(wcslen(entries[0])), &extent);
    SelectObject(dc, oldFont);
    ReleaseDC(list, dc);
    RECT box{};
    GetClientRect(list, &box);
    EXPECT_LT(extent.cx + GetSystemMetrics(SM_CXVSCROLL), box.right);

    // The labels, in template order.
    std::vector<std::wstring> labels;
    for (HWND item = GetWindow(GetDlgItem(dialog, IDCANCEL), GW_HWNDNEXT); item != nullptr;
         item = GetWindow(item, GW_HWNDNEXT)) {
      wchar_t text[128] = {};
      GetWindowTextW(item, text, 128);
      labels.push_back(text);
    }
    EXPECT_EQ(labels, (std::vector<std::wstring>{
                          L"Username (e.g. \"40\"):", L"Extensions (e.g. \"202; 300-349\"):", L"Password:",
                          L"Password (repeat):", L"Domain (e.g. \"example.com\"):",
                          L"Address (e.g. \"pbx.example.com\"):", L"Port (e.g. \"443\"):",
                          L"Use encryption for CSTA:", L"TLS version:", L"Client certificate:",
                          L"" QV_VERSION_TEXT, L"Auto originate outbound calls:"}));
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
}

TEST_F(WinDialogTest, OpensWithDefaultsAndLeavesAScreenshot) {
  runDialog([](HWND dialog) {
    for (int id : {1001, 1015, 1002, 1003, 1004, 1005}) EXPECT_EQ(itemText(dialog, id), L"") << id;
    EXPECT_EQ(itemText(dialog, 1006), L"443");
    EXPECT_EQ(itemText(dialog, 1009), L"" QV_VERSION_TEXT);
    EXPECT_TRUE(checked(dialog, 1010));
    EXPECT_FALSE(checked(dialog, 1011));
    EXPECT_FALSE(checked(dialog, 1012));
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1013, CB_GETCURSEL, 0, 0), 0);
    EXPECT_EQ(itemText(dialog, 1014), L"");
    // A filled-in dialog, as a user would see it.
    SetDlgItemTextW(dialog, 1001, L"40");
    SetDlgItemTextW(dialog, 1002, L"secret");
    SetDlgItemTextW(dialog, 1003, L"secret");
    SetDlgItemTextW(dialog, 1004, L"example.com");
    SetDlgItemTextW(dialog, 1005, L"pbx.example.com");
    Sleep(300);  // let the controls repaint
    saveScreenshot(dialog, "config_dialog.png");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(ReadSetting("username"), "");
}

TEST_F(WinDialogTest, DifferentPasswordsShowTheMessageAndStoreNothing) {
  runDialog([](HWND dialog) {
    SetDlgItemTextW(dialog, 1001, L"40");
    SetDlgItemTextW(dialog, 1002, L"one");
    SetDlgItemTextW(dialog, 1003, L"two");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = waitForWindow(L"Error");
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(itemText(box, 0xFFFF), L"The passwords do not match!");
    EXPECT_EQ(GetWindow(box, GW_OWNER), nullptr);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntilGone(box));
    // Still open, everything as typed.
    EXPECT_TRUE(IsWindow(dialog));
    EXPECT_EQ(itemText(dialog, 1001), L"40");
    EXPECT_EQ(itemText(dialog, 1003), L"two");
    EXPECT_EQ(ReadSetting("username"), "");
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(ReadSetting("username"), "");
  EXPECT_EQ(ReadSetting("guid"), "");
}

TEST_F(WinDialogTest, BadPortIsRefusedWithAMessage) {
  runDialog([](HWND dialog) {
    SetDlgItemTextW(dialog, 1006, L"");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    HWND box = waitForWindow(L"Error");
    ASSERT_NE(box, nullptr) << "no message box";
    EXPECT_EQ(itemText(box, 0xFFFF), L"The port must be a number from 1 to 65535.");
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntilGone(box));
    EXPECT_TRUE(IsWindow(dialog));
    PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
  });
  EXPECT_EQ(ReadSetting("port"), "");
}

TEST_F(WinDialogTest, CancelAfterEditsStoresNothing) {
  runDialog(
      [](HWND dialog) {
        SetDlgItemTextW(dialog, 1001, L"40");
        setChecked(dialog, 1011, true);
        PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
      },
      true);
  EXPECT_EQ(ReadSetting("username"), "");
  EXPECT_EQ(ReadSetting("autooriginate"), "");
}

TEST_F(WinDialogTest, OkStoresEveryValueTheDialogShows) {
  runDialog([](HWND dialog) {
    SetDlgItemTextW(dialog, 1001, L"40");
    SetDlgItemTextW(dialog, 1002, L"secret");
    SetDlgItemTextW(dialog, 1003, L"secret");
    SetDlgItemTextW(dialog, 1004, L"example.com");
    SetDlgItemTextW(dialog, 1005, L"pbx.example.com");
    SetDlgItemTextW(dialog, 1006, L"5061");
    SetDlgItemTextW(dialog, 1015, L"202=Reception; 300-349");
    setChecked(dialog, 1010, false);
    setChecked(dialog, 1011, true);
    setChecked(dialog, 1012, true);
    SendDlgItemMessageW(dialog, 1013, CB_SETCURSEL, 3, 0);
    SetDlgItemTextW(dialog, 1014, L"store:0123456789abcdef0123456789abcdef01234567");
    PostMessageW(GetDlgItem(dialog, IDOK), BM_CLICK, 0, 0);
    EXPECT_TRUE(waitUntilGone(dialog));
  });
  const std::pair<const char*, const char*> expected[] = {
      {"username", "40"},
      {"password", "secret"},
      {"domain", "example.com"},
      {"address", "pbx.example.com"},
      {"port", "5061"},
      {"encrypt", "0"},
      {"autooriginate", "1"},
      {"loglevel", "0"},
      {"loglength", "1000"},
      {"logfile", ""},
      {"callevents", "1"},
      {"tlsversion", "auto"},
      {"lines", "202=Reception; 300-349"},
      {"clientcert", "store:0123456789abcdef0123456789abcdef01234567"},
  };
  for (const auto& [name, value] : expected) EXPECT_EQ(ReadSetting(name), value) << name;
  const std::string guid = ReadSetting("guid");
  ASSERT_EQ(guid.size(), 36u);
  EXPECT_EQ(guid[14], '4');

  // Reopened, it shows what was stored; OK again keeps the same guid.
  runDialog([](HWND dialog) {
    EXPECT_EQ(itemText(dialog, 1001), L"40");
    EXPECT_EQ(itemText(dialog, 1002), L"secret");
    EXPECT_EQ(itemText(dialog, 1006), L"5061");
    EXPECT_EQ(itemText(dialog, 1015), L"202=Reception; 300-349");
    EXPECT_FALSE(checked(dialog, 1010));
    EXPECT_TRUE(checked(dialog, 1011));
    EXPECT_TRUE(checked(dialog, 1012));
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1013, CB_GETCURSEL, 0, 0), 3);
    EXPECT_EQ(itemText(dialog, 1014), L"store:0123456789abcdef0123456789abcdef01234567");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(ReadSetting("guid"), guid);

  // A value the dialog does not know shows as 1.0 and survives OK.
  WriteSetting("tlsversion", "1.1");
  runDialog([](HWND dialog) {
    EXPECT_EQ(SendDlgItemMessageW(dialog, 1013, CB_GETCURSEL, 0, 0), 0);
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
  });
  EXPECT_EQ(ReadSetting("tlsversion"), "1.1");
}

// tsphost, like TAPI, opens the dialog through the provider's entry point;
// here it is a separate process, driven from this one.
TEST_F(WinDialogTest, TsphostOpensTheDialogThroughTheProvider) {
  std::atomic<int> exitCode{-1};
  std::thread host([&] { exitCode = std::system("tsphost.exe config quorvelone.tsp >NUL 2>NUL"); });
  HWND dialog = waitForWindow(kCaption);
  if (dialog != nullptr) {
    EXPECT_EQ(itemText(dialog, 1006), L"443");
    SetDlgItemTextW(dialog, 1001, L"44");
    PostMessageW(dialog, WM_COMMAND, IDOK, 0);
    EXPECT_TRUE(waitUntilGone(dialog));
  } else {
    ADD_FAILURE() << "the dialog did not appear";
  }
  host.join();
  EXPECT_EQ(exitCode.load(), 0);
  EXPECT_EQ(ReadSetting("username"), "44");
}

}  // namespace
}  // namespace qv
