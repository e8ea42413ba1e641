#pragma once
// What the level-5 trace shows of an outgoing request: the text as sent,
// except that the login's password never reaches the log.
#include <string>
#include <string_view>

namespace qv {

inline constexpr std::string_view kMaskedText = "********";

// The request text with the content of every password element of the login
// namespace replaced by kMaskedText. Everything up to the last closing tag
// of the element is
// masked (and the rest of the text when it is not closed): a password that
// contains the closing tag itself is hidden as well.
std::string TraceText(std::string_view xml);

}  // namespace qv
