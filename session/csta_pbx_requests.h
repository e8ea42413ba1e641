#pragma once
// Requests the PBX sends to the provider. SystemStatus (the PBX asking
// whether the application is alive) is answered with SystemStatusResponse;
// any other request the provider does not serve gets a CSTAErrorCode, so a
// PBX that waits for every answer does not drop the association.
#include <cstdint>
#include <string>
#include <string_view>

#include "xml/xml_node.h"

namespace qv {

// The namespace the root element is in (its prefix's declaration, or the
// default one); empty when it declares none.
std::string RootNamespace(const XmlNode& root);

std::string SystemStatusResponseXml(std::string_view ns);
std::string UnservedRequestErrorXml(std::string_view ns);

// True when the frame (one that answered none of our requests) is a request
// of the PBX's; it was answered with the same invoke id.
bool AnswerPbxRequest(std::uint32_t invokeId, const XmlNode& root);

}  // namespace qv
