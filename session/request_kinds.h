#pragma once
// What the session knows about each kind of request TAPI can submit: the
// root of the positive response that answers it and the entry point the log
// names when it goes unanswered. One row a kind.
#include <string_view>

#include "session/pbx_requests.h"

namespace qv {

struct RequestKindInfo {
  RequestKind kind;
  std::string_view responseRoot;  // local name of the positive response's root element
  std::string_view entryPoint;    // the TSPI function that submits it
};

const RequestKindInfo& DescribeRequestKind(RequestKind kind);

}  // namespace qv
