// The configuration dialog: template 101 of the provider module, driven by
// ConfigDialogProc. Texts pass as 8-bit text, as the settings hold them.
#include <windows.h>

#include <string>

#include "platform/dialog_host.h"

namespace qv {

namespace {

constexpr int kIdUsername = 1001;
constexpr int kIdPassword = 1002;
constexpr int kIdPasswordRepeat = 1003;
constexpr int kIdDomain = 1004;
constexpr int kIdAddress = 1005;
constexpr int kIdPort = 1006;
constexpr int kIdVersion = 1009;
constexpr int kIdEncrypt = 1010;
constexpr int kIdAutomatic = 1011;
constexpr int kIdCallEvents = 1012;
constexpr int kIdTlsVersion = 1013;
constexpr int kIdClientCert = 1014;
constexpr int kIdExtensions = 1015;
constexpr int kDialogTemplate = 101;

// The dialog is started with initialisation parameter 0, so the procedure
// finds its callbacks here; modal dialogs run on the thread that opened them.
thread_local const DialogCallbacks* activeCallbacks = nullptr;

template <std::size_t kCapacity = 256>
std::string itemText(HWND dialog, int id) {
  char buffer[kCapacity] = {};
  UINT n = GetDlgItemTextA(dialog, id, buffer, sizeof buffer);
  return std::string(buffer, n < sizeof buffer ? n : sizeof buffer - 1);
}

void fillDialog(HWND dialog, const DialogFields& f) {
  SetDlgItemTextA(dialog, kIdUsername, f.username.c_str());
  SetDlgItemTextA(dialog, kIdExtensions, f.extensions.c_str());
  SetDlgItemTextA(dialog, kIdPassword, f.password.c_str());
  SetDlgItemTextA(dialog, kIdPasswordRepeat, f.passwordRepeat.c_str());
  SetDlgItemTextA(dialog, kIdDomain, f.domain.c_str());
  SetDlgItemTextA(dialog, kIdAddress, f.address.c_str());
  SetDlgItemTextA(dialog, kIdPort, f.port.c_str());
  SetDlgItemTextA(dialog, kIdVersion, f.versionText.c_str());
  CheckDlgButton(dialog, kIdEncrypt, f.encrypt ? BST_CHECKED : BST_UNCHECKED);
  SendDlgItemMessageA(dialog, kIdTlsVersion, CB_RESETCONTENT, 0, 0);
  for (const std::string& choice : f.tlsVersionChoices) {
    SendDlgItemMessageA(dialog, kIdTlsVersion, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choice.c_str()));
  }
  SendDlgItemMessageA(dialog, kIdTlsVersion, CB_SETCURSEL, f.tlsVersion, 0);
  SetDlgItemTextA(dialog, kIdClientCert, f.clientcert.c_str());
  CheckDlgButton(dialog, kIdAutomatic, f.autooriginate ? BST_CHECKED : BST_UNCHECKED);
  CheckDlgButton(dialog, kIdCallEvents, f.callevents ? BST_CHECKED : BST_UNCHECKED);
}

DialogFields readDialog(HWND dialog) {
  DialogFields f;
  f.password = itemText(dialog, kIdPassword);
  f.passwordRepeat = itemText(dialog, kIdPasswordRepeat);
  f.username = itemText(dialog, kIdUsername);
  f.extensions = itemText<4096>(dialog, kIdExtensions);
  f.domain = itemText(dialog, kIdDomain);
  f.address = itemText(dialog, kIdAddress);
  f.port = itemText(dialog, kIdPort);
  f.encrypt = IsDlgButtonChecked(dialog, kIdEncrypt) == BST_CHECKED;
  const LRESULT chosen = SendDlgItemMessageA(dialog, kIdTlsVersion, CB_GETCURSEL, 0, 0);
  // No selection (CB_ERR) reads as an index past the list, which changes nothing.
  f.tlsVersion = chosen < 0 ? static_cast<std::size_t>(-1) : static_cast<std::size_t>(chosen);
  f.clientcert = itemText(dialog, kIdClientCert);
  f.autooriginate = IsDlgButtonChecked(dialog, kIdAutomatic) == BST_CHECKED;
  f.callevents = IsDlgButtonChecked(dialog, kIdCallEvents) == BST_CHECKED;
  f.versionText = itemText(dialog, kIdVersion);
  return f;
}

}  // namespace

INT_PTR CALLBACK ConfigDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM /*lParam*/) {
  const DialogCallbacks* callbacks = activeCallbacks;
  if (message == WM_INITDIALOG) {
    if (callbacks != nullptr && callbacks->load) fillDialog(dialog, callbacks->load());
    return TRUE;
  }
  if (message == WM_COMMAND && wParam == IDOK) {
    if (callbacks != nullptr && callbacks->accept) {
      auto refusal = callbacks->accept(readDialog(dialog));
      if (refusal) {
        MessageBoxA(nullptr, refusal->message.c_str(), refusal->caption.c_str(), MB_SETFOREGROUND);
        return FALSE;
      }
    }
    EndDialog(dialog, IDOK);
    return TRUE;
  }
  if (message == WM_COMMAND && wParam == IDCANCEL) {
    EndDialog(dialog, IDCANCEL);
    return FALSE;
  }
  return FALSE;
}

DialogOutcome ShowConfigDialog(void* module, void* owner, const DialogCallbacks& callbacks) {
  if (module == nullptr) return DialogOutcome::NotShown;
  const DialogCallbacks* outer = activeCallbacks;
  activeCallbacks = &callbacks;
  INT_PTR result = DialogBoxParamW(static_cast<HINSTANCE>(module), MAKEINTRESOURCEW(kDialogTemplate),
                                   static_cast<HWND>(owner), ConfigDialogProc, 0);
  activeCallbacks = outer;
  if (result == IDOK) return DialogOutcome::Ok;
  if (result == IDCANCEL) return DialogOutcome::Cancel;
  return DialogOutcome::NotShown;
}

}  // namespace qv
