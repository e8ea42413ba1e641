#pragma once
// What the PBX says on its own, handed to the registered SessionEvents:
// device-monitor events (parsed, malformed ones logged and dropped) and the
// loss of the link.
#include <string_view>

#include "xml/xml_node.h"

namespace qv {

// Call events are read only for a line that reports them (`callevents`);
// otherwise they stay as the first release treated them: traced, nothing else.
void SetCallEventsWanted(bool wanted);
// A frame that answered no request: reported when it is a call event and
// its text (`xml`) is a well-formed document; one that is not is logged at
// level 3 and dropped, since the line would act on a guess.
void ReportCallEvent(const XmlNode& root, std::string_view xml);
void ReportLinkDown();

}  // namespace qv
