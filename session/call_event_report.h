#pragma once
// What the PBX says on its own, handed to the registered SessionEvents:
// device-monitor events (parsed, malformed ones logged and dropped) and the
// loss of the link.
#include "xml/xml_node.h"

namespace qv {

// A frame that answered no request: reported when it is a call event.
void ReportCallEvent(const XmlNode& root);
void ReportLinkDown();

}  // namespace qv
