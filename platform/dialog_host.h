#pragma once
// Shows the provider's configuration dialog: the Windows dialog (template 101
// of the provider module) or, on Linux, a form on the controlling terminal.
// The host only moves texts; what they mean is decided by the caller's
// callbacks, so nothing here knows about settings.
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace qv {

struct DialogFields {
  std::string username;
  std::string extensions;
  std::string password;
  std::string passwordRepeat;
  std::string domain;
  std::string address;
  std::string port;
  bool encrypt = false;
  // A drop-down list: the texts offered and the one chosen (an index into them).
  std::vector<std::string> tlsVersionChoices;
  std::size_t tlsVersion = 0;
  std::string clientcert;
  bool autooriginate = false;
  bool callevents = false;
  std::string versionText;
};

// A refused OK: the message box text and caption.
struct DialogRefusal {
  std::string message;
  std::string caption;
};

struct DialogCallbacks {
  // Called when the dialog opens; supplies the texts to show.
  std::function<DialogFields()> load;
  // Called on OK; a refusal keeps the dialog open, nothing means accepted.
  std::function<std::optional<DialogRefusal>(const DialogFields&)> accept;
};

enum class DialogOutcome { NotShown, Ok, Cancel };

// Runs the dialog modally on the calling thread. `module` is the provider's
// module handle (Windows: HINSTANCE holding template 101; null shows nothing),
// `owner` the owner window or null.
DialogOutcome ShowConfigDialog(void* module, void* owner, const DialogCallbacks& callbacks);

}  // namespace qv
